#pragma once

#include <filesystem>
#include <vector>

namespace brindle::bench {

struct BenchDataOptions {
    int folders = 2;
    int tilesPerFolder = 150;
    int nestedIndexesPerFolder = 3; // subfolders whose root.osgb is a proxy over deeper tiles
    unsigned threads = 2;           // folders generated at once
};

// The block folders of a benchmark data set under `root`, generated when missing or left
// incomplete by an interrupted run; an existing complete set is reused as is. The first folder
// also holds Hostile_Tile, whose root.osgb claims a vertex array of 24 GiB (hostile_tile.h).
std::vector<std::filesystem::path> PrepareBenchData(const std::filesystem::path& root,
                                                    const BenchDataOptions& options);

} // namespace brindle::bench
