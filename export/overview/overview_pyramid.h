#pragma once

#include "export/error/result.h"
#include "export/overview/coarse_mesh.h"
#include "export/overview/node_file.h"
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

struct PyramidOptions {
    CoarseMeshOptions mesh;
    int jpegQuality = 80;
    // Nodes are built (mesh, JPEG, write) on this many threads; 0 and 1 build them on the
    // thread that adds the tiles. The files are the same whatever the count.
    unsigned threads = 1;
    NodeFileCalls files = SystemNodeFileCalls();
    // Put before every node file's name, so that two pyramids can share a folder.
    std::string namePrefix;
};

struct PyramidTop {
    std::string file;          // the top node's file within the pyramid's folder
    osg::BoundingSphere bound; // the block's, as the top node stores it; invalid if unknown
    std::size_t nodeFiles = 0;
    std::uint64_t bytes = 0; // of all node files together
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
    OverviewPyramid(const OverviewTree& tree, std::vector<std::string> entries,
                    std::filesystem::path folder, PyramidOptions options = {});
    ~OverviewPyramid();
    OverviewPyramid(const OverviewPyramid&) = delete;
    OverviewPyramid& operator=(const OverviewPyramid&) = delete;

    // Tile t's summary, or none: the overview shows nothing of it, a hole, while the level-1
    // node still names its file. Any order, each tile once, from one thread. A node file not
    // written stops the pyramid: this and every later call give that failure's cause, and
    // failedFile() names the file.
    Status addTile(std::size_t tile, std::optional<TileSummary> summary);
    // Tile t is not listed: no node names it, and it is a hole. Instead of addTile.
    Status leaveOut(std::size_t tile);

    // After every tile: the top node's file, the block's bound and the counts; or the cause
    // of the first node file not written. Waits for the nodes still being built.
    Result<PyramidTop> finish();

    // The node file whose failure stopped the pyramid; empty while none did.
    std::filesystem::path failedFile() const;
    SummaryCount summaries() const;

private:
    class Builder;
    std::unique_ptr<Builder> builder_;
};

} // namespace brindle
