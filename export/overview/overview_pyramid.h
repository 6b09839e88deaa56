#pragma once

#include "export/error/result.h"
#include "export/export_report.h"
#include "export/overview/coarse_mesh.h"
#include "export/overview/node_file.h"
#include "export/overview/overview_manifest.h"
#include "export/overview/overview_tree.h"
#include "export/overview/tile_summary.h"

#include <osg/BoundingSphere>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

class TaskPool;

// How a pyramid's nodes are built: settings only, the same for every run that wants the same
// files.
struct PyramidOptions {
    CoarseMeshOptions mesh;
    // How many pixels on screen a node's texel may cover before its children show. A level's
    // nodes all give way at one size, so what a view shows has texels between half this and
    // this: at the square root of two, within that factor of a pixel either way. At one, a view
    // would hold up to four times the texels its pixels need, and as many times the memory.
    float texelPixels = 1.41421356f;
    int jpegQuality = 80;
    // Nodes are built (mesh, JPEG, write) on this many threads; 0 and 1 build them on the
    // thread that adds the tiles. The files are the same whatever the count. A pyramid given a
    // pool builds on that one's threads instead.
    unsigned threads = 1;
    // Put before every node file's name, so that two pyramids can share a folder.
    std::string namePrefix;
    // How many node summaries, at most, are kept in the folder for a later run, from the top
    // level down, whole levels only: a re-run that builds a node again over children it takes
    // as they are then needs no worker to read their files back. Some 30 KB each. 0 keeps none,
    // as a second pyramid in the same folder must.
    std::size_t keptSummaries = 2048;
};

// An earlier pyramid of the block, which a re-run starts from: a node whose subtree hashes as
// this manifest says is not built again but taken from this folder as it is.
struct EarlierPyramid {
    std::filesystem::path folder;
    std::shared_ptr<const OverviewManifest> manifest;
};

struct PyramidTop {
    std::string file;          // the top node's file within the pyramid's folder
    osg::BoundingSphere bound; // the block's, as the top node stores it; invalid if unknown
    std::size_t nodeFiles = 0;
    std::uint64_t bytes = 0;     // of all node files together
    std::size_t reusedFiles = 0; // of nodeFiles, those taken from the earlier pyramid
    // The top node seen from above, when this pyramid built it (see PictureFromAbove).
    ReportImage picture;
};

// A tile whose part in the levels is known before its check: the stamp addTile would be given
// for it, and whether it is listed (added) or left out.
struct KnownTile {
    std::uint64_t stamp = 0;
    bool listed = false;
};

// What takeUnchangedNodes() took from the earlier pyramid, and what it leaves to the caller.
struct UnchangedNodesTaken {
    std::vector<bool> tilesUnderTakenNodes; // by tile: under a node taken whole, not to be added
    // The taken nodes a new node is built over: their files, in the pyramid's folder now, whose
    // summaries addNodeSummary() takes by their place in this list.
    std::vector<std::string> summariesWanted;
    // By the same place: the node's summary as the earlier pyramid kept it (DecodeHeldSummary()
    // gives it back), so that its file need not be read back; empty where it kept none.
    std::vector<std::string> keptSummaries;
    std::size_t nodeFiles = 0; // the earlier pyramid's files taken
};

// How many tile and node summaries a pyramid holds at once.
struct SummaryCount {
    std::size_t live = 0;
    std::size_t peak = 0;
};

// The overview levels above a block's tiles, built as their summaries arrive: each node as
// soon as all its children are done, its children's summaries freed then, so that what is
// held is the frontier of the tiles still to come, not the block. One file per node of level
// 1 and up, named by NodeFileName: a paged node whose inline child is the node's coarse mesh
// and whose other children are its child nodes' files or, at level 1, the tiles' own root
// files. A tree that is one leaf still gets a level-1 node above it, so that the top is always
// a node file.
class OverviewPyramid {
public:
    // `entries[t]`: the name the level-1 nodes store for tile t's root file, relative to
    // `folder`, with '/' between its parts. `folder` exists, is empty and is the pyramid's.
    // Nodes unchanged since `earlier` are taken from there; `files` put the node files on
    // disk. With a `pool`, which must outlive the pyramid, the nodes are built on its threads.
    OverviewPyramid(const OverviewTree& tree, std::vector<std::string> entries,
                    std::filesystem::path folder, const PyramidOptions& options = {},
                    EarlierPyramid earlier = {}, NodeFileCalls files = SystemNodeFileCalls(),
                    TaskPool* pool = nullptr);
    ~OverviewPyramid();
    OverviewPyramid(const OverviewPyramid&) = delete;
    OverviewPyramid& operator=(const OverviewPyramid&) = delete;

    // Tile t's summary, or none: the overview shows nothing of it, a hole, while the level-1
    // node still names its file. Any order, each tile once, from one thread. A node file not
    // written stops the pyramid: this and every later call give that failure's cause, and
    // failedFile() names the file. `stamp`: a hash of what the tile's part in the levels rests
    // on (its root file's stamp, its verdict), which goes into its nodes' subtree hashes.
    Status addTile(std::size_t tile, std::optional<TileSummary> summary, std::uint64_t stamp = 0);
    // Tile t is not listed: no node names it, and it is a hole. Instead of addTile.
    Status leaveOut(std::size_t tile, std::uint64_t stamp = 0);

    // Before any tile, for a re-run: every subtree whose tiles are all known (`known`, by tile)
    // and whose top comes to the hash the earlier pyramid's manifest gives it is taken from that
    // pyramid whole, its files put in place now; its tiles are then not added. Each file is
    // checked against what the manifest recorded of it first: a subtree whose files do not all
    // check out, or cannot all be put in place, is built from its tiles after all, and every
    // node above it too.
    UnchangedNodesTaken takeUnchangedNodes(const std::vector<std::optional<KnownTile>>& known);
    // Instead of takeUnchangedNodes(), for a re-run that may leave the earlier pyramid where it is:
    // its top node's file name, when every tile is known, every node comes to the hash the
    // earlier manifest gives it and every node file of the earlier folder is still as that
    // manifest recorded it. Then that pyramid is this one, and nothing need be built.
    std::optional<std::string>
    unchangedTop(const std::vector<std::optional<KnownTile>>& known) const;
    // The summary of takeUnchangedNodes()'s wanted node `wanted`, as its file shows it; none when
    // it could not be read back, and then the node above shows nothing of it, and the manifest
    // does not offer the node, nor the node above it, to the next run. Each once, from the
    // thread that adds the tiles.
    Status addNodeSummary(std::size_t wanted, std::optional<TileSummary> summary);

    // After every tile and wanted summary: the top node's file, the block's bound and the
    // counts; or the cause of the first node file not written. Waits for the nodes still being
    // built, then writes the summaries kept into the folder (a file not written costs the next
    // run its node reads, and nothing else).
    Result<PyramidTop> finish();

    // The node file whose failure stopped the pyramid; empty while none did.
    std::filesystem::path failedFile() const;
    // After finish(): every node file and its subtree's hash, for a later run to reuse them.
    OverviewManifest manifest() const;
    SummaryCount summaries() const;

private:
    class Builder;
    std::unique_ptr<Builder> builder_;
};

} // namespace brindle
