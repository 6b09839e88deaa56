#pragma once

#include "tools/sample_block.h"

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace brindle::bench {

// A block of production-shaped tiles for the overview benchmark: grid names
// "Tile_+CCC_+RRR", each root a paged node over its coarsest mesh with a JPEG texture, a finer
// level named and not written, and report.txt giving the origin.
struct OverviewBlock {
    std::filesystem::path folder;
    SampleBlockOptions options;
};

// The options of a block of `tileCount` tiles. Blocks up to 10,000 tiles hold tiles of some
// 10 to 30 KB; larger ones small tiles of a few KB, roots only, so that 100,000 of them fit a
// benchmark's disk and time.
SampleBlockOptions OverviewBlockOptions(int tileCount);

// The options of a block of `tileCount` tiles whose finer levels are written, as production
// tiles have them: three levels below each root, some 3 MB a tile in all, meshes without
// normals, the light in the textures.
SampleBlockOptions LevelledBlockOptions(int tileCount);

// The block written with `options` into `folder`, written when missing, resumed where an
// interrupted run left it, redone when made with other options. Writes with `jobs` threads.
// `log` receives a line per step. Throws std::runtime_error when a tile cannot be written.
OverviewBlock PrepareBlock(const std::filesystem::path& folder, const SampleBlockOptions& options,
                           int jobs, std::ostream& log);

// The block of `tileCount` tiles under `root`, written when missing, resumed where an
// interrupted run left it, redone when made with other options. Writes with `jobs` threads.
// `log` receives a line per step. Throws std::runtime_error when a tile cannot be written.
OverviewBlock PrepareOverviewBlock(const std::filesystem::path& root, int tileCount, int jobs,
                                   std::ostream& log);

// The block of LevelledBlockOptions(tileCount) under `root`, as PrepareOverviewBlock.
OverviewBlock PrepareLevelledBlock(const std::filesystem::path& root, int tileCount, int jobs,
                                   std::ostream& log);

// The subfolder name of tile `index` of a block written with `options`.
std::string OverviewTileName(const SampleBlockOptions& options, int index);

// The grid's side in tiles.
int OverviewBlockSide(const SampleBlockOptions& options);

} // namespace brindle::bench
