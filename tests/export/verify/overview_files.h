#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

// An overview index as a plain load of its files sees it, and the damage a user's block
// meets, for the tests of --verify.
namespace brindle::test {

// Writes a sample block of `tiles` production-shaped tiles (a paged root whose finer level is
// not there, as in the users' blocks) into `dir`/block and returns the block's folder. Its
// index is for the test to write.
std::filesystem::path WriteProductionBlock(const std::filesystem::path& dir, int tiles);

// What the reader reaches from the block's root.osgb, coming close to everything: each level
// file (in the levels' folder) with the files its paged nodes name, and the tiles they name
// at the bottom. Paths lexically normal.
struct OverviewFiles {
    std::map<std::filesystem::path, std::vector<std::filesystem::path>> levels;
    std::set<std::filesystem::path> tiles;
};
OverviewFiles ReadOverview(const std::filesystem::path& block);

// One level file deleted and another cut to 50 bytes, both with levels below them, and the
// folders of three tiles under neither deleted: what is then still reached from the index.
struct OverviewDamage {
    std::filesystem::path deletedLevel;
    std::filesystem::path cutLevel;
    std::vector<std::filesystem::path> deletedTiles; // their root files
    std::size_t levelsReached = 0;                   // the two damaged ones among them
    std::size_t tilesReached = 0;                    // the three deleted ones among them
};
OverviewDamage DamageOverview(const OverviewFiles& files);

} // namespace brindle::test
