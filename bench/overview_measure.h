#pragma once
// What the overview benchmark measures on disk and in pictures: the far view against the
// proxy index's, the bytes of the tiles and of the pyramid, and the tiles reached from the
// overview.
#include "bench/overview_common.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace brindle::bench {

// The pixels of a PPM written by the viewing process.
std::string PpmPixels(const std::filesystem::path& file);

// The peak signal-to-noise ratio of `picture` against `reference` over the block's pixels:
// those not of the background colour in either.
double BlockPsnr(const std::string& reference, const std::string& picture, double& blockShare);

// The bytes of the tiles' folders and of the overview's folders.
struct BlockBytes {
    std::uintmax_t tiles = 0, pyramid = 0;
    std::size_t pyramidFiles = 0;
    std::size_t tileFolders = 0;
    std::uintmax_t smallestTile = 0; // the bytes of the smallest tile folder
};

BlockBytes MeasureBlock(const std::filesystem::path& folder);

// Every tile a viewer can come to from the overview: each paged node's files followed down
// through the overview's own files, the files outside it being the tiles' roots. Reads no
// tile.
struct OverviewWalk {
    std::set<std::string> tiles; // tile folder names
    std::size_t nodeFiles = 0, unreadable = 0;
};

OverviewWalk WalkOverview(const std::filesystem::path& index);

} // namespace brindle::bench
