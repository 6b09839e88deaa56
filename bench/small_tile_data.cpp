#include "bench/small_tile_data.h"

#include "tools/sample_block.h"

#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

constexpr int kDistinctTiles = 16;
constexpr const char* kCompleteMarker = ".complete";

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

// Tiles of 2 to 8 KB: 4 to 10 grid cells a side, 8 to 20 px textures.
std::vector<std::string> MakeDistinctTiles(const fs::path& scratch) {
    std::vector<std::string> tiles;
    for (int i = 0; i < kDistinctTiles; ++i) {
        SampleTileParams params;
        params.gridCells = 4 + i % 7;
        params.texturePx = 8 + (i * 5) % 13;
        params.seed = static_cast<unsigned>(1000 + i);
        const fs::path file = scratch / ("tile_" + std::to_string(i) + ".osgb");
        WriteSampleTile(file, params);
        tiles.push_back(ReadBytes(file));
        fs::remove(file);
    }
    return tiles;
}

std::string TileName(int index) {
    std::ostringstream name;
    name << "Tile_" << std::setw(5) << std::setfill('0') << index;
    return name.str();
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
    const std::vector<std::string> distinct = MakeDistinctTiles(set);
    for (int t = 0; t < tiles; ++t) {
        const fs::path tile = folderPaths[static_cast<std::size_t>(t % folders)] / TileName(t);
        fs::create_directories(tile);
        WriteBytes(tile / "root.osgb", distinct[static_cast<std::size_t>(t % kDistinctTiles)]);
    }
    WriteBytes(set / kCompleteMarker, "generated completely\n");
    return folderPaths;
}

} // namespace brindle::bench
