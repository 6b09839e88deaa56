#pragma once

#include "tools/sample_block.h"

#include <osg/Vec2d>

#include <filesystem>
#include <string>
#include <vector>

namespace brindle::bench {

// The block the viewer benchmark opens: its tiles, and the two indexes over them, each
// beside the tiles so that their relative entries resolve.
struct ViewerBlock {
    std::filesystem::path folder;
    std::filesystem::path proxyIndex; // folder/proxy.osgb
    std::filesystem::path pagedIndex; // folder/paged.osgb
    SampleBlockOptions options;
    bool shuffled = false; // tiles named in no spatial order, see BlockTileAt
};

// The tiles of the benchmark's block; a quick run takes kViewerQuickBlockTiles.
constexpr int kViewerBlockTiles = 2000;
constexpr int kViewerQuickBlockTiles = 500;

// The options of the benchmark's block of `tileCount` tiles: tiles of roughly 50 to 200 KB,
// with raw textures, or with larger ones embedded as JPEG, as survey tiles mostly come.
SampleBlockOptions ViewerBlockOptions(int tileCount, bool jpeg);

// The block under `root`, generated and indexed both ways when missing, left incomplete by
// an interrupted run or made with other options; complete tiles are reused as they are, and
// the paged index is written again on every call, so that it is always the current
// exporter's. A shuffled block holds the grid block's tiles (hard links where the file system
// allows) under names in random order. `log` receives a line per step taken. Throws
// std::runtime_error when a step fails.
ViewerBlock PrepareViewerBlock(const std::filesystem::path& root, int tileCount, bool jpeg,
                               bool shuffled, std::ostream& log);

// One tile of the block, as the index names it and where it lies relative to the origin.
struct BlockTile {
    std::string entry; // "Tile_+CCC_+RRR\root.osgb", or "Tile_+NNNNNN\root.osgb" shuffled
    osg::Vec2d centre;
};

// Tile `index` of a block written with `options`. In a shuffled block tile `index` is named
// by its place in a fixed random permutation of the indexes, so that name order says nothing
// about where a tile lies, as with blocks whose tiles are numbered as they were produced.
BlockTile BlockTileAt(const SampleBlockOptions& options, bool shuffled, int index);

// The number of tiles along each side of the block's square grid.
int BlockSide(const SampleBlockOptions& options);

} // namespace brindle::bench
