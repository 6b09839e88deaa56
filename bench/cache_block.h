#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brindle::bench {

// One block folder of `tiles` real-size tiles (64 KB to about 300 KB each: a mesh and a raw
// texture) under `root`, for the verdict cache's runs: generated when missing or left
// incomplete, an existing complete one reused as is. A few distinct tiles are made and their
// bytes copied.
std::filesystem::path PrepareCacheBlock(const std::filesystem::path& root, int tiles);

// The root files of the block's tiles, in name order.
std::vector<std::filesystem::path> CacheBlockTiles(const std::filesystem::path& block);

// Writes `file`'s own bytes over it again, in place: the same tile, with new write and change
// times, as a tile a user touched.
void Rewrite(const std::filesystem::path& file);

} // namespace brindle::bench
