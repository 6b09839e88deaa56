#pragma once

#include "export/overview/overview_tree.h"
#include "export/overview/tile_summary.h"

#include <osg/BoundingBox>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brindle {

using SummaryPtr = std::shared_ptr<const TileSummary>;

// Counts the summaries alive, wherever they are held: by a node waiting for its siblings, or
// by a node being built.
class SummaryCounter {
public:
    void Born();
    void Died() { live_.fetch_sub(1); }
    std::size_t Live() const { return live_.load(); }
    std::size_t Peak() const { return peak_.load(); }

private:
    std::atomic<std::size_t> live_{0}, peak_{0};
};

// The summary, shared, counted by `counter` for as long as it lives.
SummaryPtr Counted(TileSummary summary, const std::shared_ptr<SummaryCounter>& counter);

// Where one node of the pyramid stands while its children come in.
struct PyramidNode {
    std::size_t remaining = 0; // children, or a leaf's tiles, not done yet
    std::array<SummaryPtr, 4> children;
    std::vector<SummaryPtr> tiles;     // a leaf's, in the order of its tiles
    osg::BoundingBoxd box;             // once done: of the node's surface and all below it
    std::vector<std::uint64_t> stamps; // a leaf's tiles' stamps, in the order of its tiles
    std::array<std::uint64_t, 4> childHashes{};
    std::uint64_t hash = 0; // once done: of everything its subtree rests on
    // Once done: its file is the earlier pyramid's, checked against what that one's manifest
    // recorded of it. A node above one built again is built again too: the earlier file above
    // may show what a damaged file below it gave.
    bool taken = false;
};

// The pyramid's quadtree and its frontier: which tiles are in, which nodes wait for which
// children, and the summaries they hold until their node is done. The tree as the pyramid
// builds it: a tree that is one leaf gets a level-1 node above it, so that the top is always a
// node file.
class PyramidTree {
public:
    // `entries[t]`: the name the level-1 nodes store for tile t's root file. `namePrefix` goes
    // before every node file's name.
    PyramidTree(const OverviewTree& tree, std::vector<std::string> entries, std::string namePrefix);

    // False when a leaf names a tile that has no entry.
    bool LeavesNameKnownTiles() const { return leavesNameKnownTiles_; }
    const OverviewTree& Shape() const { return tree_; }
    const OverviewNode& Node(std::size_t n) const { return tree_.nodes[n]; }
    PyramidNode& State(std::size_t n) { return states_[n]; }
    const PyramidNode& State(std::size_t n) const { return states_[n]; }
    std::size_t TileCount() const { return entries_.size(); }
    const std::string& Entry(std::size_t tile) const { return entries_[tile]; }
    // The node's file name within the pyramid's folder.
    std::string FileName(std::size_t n) const;

    // The tile is a leaf's and not in yet.
    bool Awaits(std::size_t tile) const;
    // Puts the tile in its leaf: the leaf, when that was its last tile to come; else kNoNode.
    std::size_t AddTile(std::size_t tile, SummaryPtr summary, std::uint64_t stamp);
    // The tile is not listed: its level-1 node does not name it.
    void Unname(std::size_t tile);
    // Whether its level-1 node names the tile.
    bool Named(std::size_t tile) const { return named_[tile]; }
    // The tile lies under a node taken whole from the earlier pyramid: it is in, and its
    // summary is not wanted.
    void PutUnderTakenNode(std::size_t tile, bool listed);
    std::size_t TilesLeft() const { return tilesLeft_; }

    // Gives the node's summary and hash to its parent: the parent, when that was its last
    // child to come; kNoNode for the top, or for a parent still waiting.
    std::size_t PassToParent(std::size_t node, SummaryPtr summary);
    // The leaf's tiles' summaries as one, and their box as the leaf's; frees the tiles'.
    SummaryPtr MergeLeafTiles(std::size_t leaf, const std::shared_ptr<SummaryCounter>& counter);
    // The node's children's summaries as one, and its box: its children's and the skirts below
    // its own mesh; frees the children's summaries.
    SummaryPtr MosaicChildren(std::size_t n, const std::shared_ptr<SummaryCounter>& counter,
                              float relativeSkirtDepth);
    // Every child of the node that is a node itself has its earlier file.
    bool ChildNodesTaken(std::size_t n) const;
    // What a node's file names: at level 1 its leaves' listed tiles, above its child nodes'
    // files, quadrant by quadrant.
    std::vector<std::string> ChildNames(std::size_t n) const;

private:
    const OverviewTree tree_;
    const std::vector<std::string> entries_;
    const std::string namePrefix_;
    std::vector<PyramidNode> states_;
    std::vector<std::size_t> leafOf_, slotOf_; // by tile: its leaf, and its place there
    std::vector<bool> added_;                  // by tile: it is in
    std::vector<bool> named_;                  // by tile: its level-1 node names it
    std::size_t tilesLeft_ = 0;
    bool leavesNameKnownTiles_ = true;
};

} // namespace brindle
