#include "bench/small_tile_data.h"

#include "bench/distinct_tiles.h"

#include <stdexcept>
#include <string>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

constexpr int kDistinctTiles = 16;
constexpr const char* kCompleteMarker = ".complete";

// Tiles of 2 to 8 KB: 4 to 10 grid cells a side, 8 to 20 px textures.
SampleTileParams SmallTile(int i) {
    SampleTileParams params;
    params.gridCells = 4 + i % 7;
    params.texturePx = 8 + (i * 5) % 13;
    params.seed = static_cast<unsigned>(1000 + i);
    return params;
}

} // namespace

std::vector<fs::path> PrepareSmallTileData(const fs::path& root, int tiles, int folders) {
    if (tiles < 1 || folders < 1 || folders > 26) {
        throw std::invalid_argument("small tile data needs a tile and 1 to 26 folders");
    }
    const fs::path set =
        root / ("small-t" + std::to_string(tiles) + "-f" + std::to_string(folders));
    std::vector<fs::path> folderPaths;
    for (int f = 0; f < folders; ++f) {
        folderPaths.push_back(set / ("Small_" + std::string(1, static_cast<char>('A' + f))));
    }
    if (fs::exists(set / kCompleteMarker)) {
        return folderPaths;
    }
    fs::remove_all(set);
    fs::create_directories(set);
    const std::vector<std::string> distinct = MakeDistinctTiles(set, kDistinctTiles, SmallTile);
    for (int t = 0; t < tiles; ++t) {
        const fs::path tile =
            folderPaths[static_cast<std::size_t>(t % folders)] / NumberedTileName(t);
        fs::create_directories(tile);
        WriteBytes(tile / "root.osgb", distinct[static_cast<std::size_t>(t % kDistinctTiles)]);
    }
    WriteBytes(set / kCompleteMarker, "generated completely\n");
    return folderPaths;
}

} // namespace brindle::bench
