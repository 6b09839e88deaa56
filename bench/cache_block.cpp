#include "bench/cache_block.h"

#include "tools/sample_block.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

constexpr int kDistinctTiles = 24;
constexpr const char* kCompleteMarker = ".complete";

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const fs::path& file, const std::string& bytes, std::ios::openmode mode) {
    std::ofstream out(file, std::ios::binary | mode);
    out << bytes;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

// Raw textures of 140 to 300 px a side and meshes of 16 to 48 cells: 64 KB to about 300 KB.
std::vector<std::string> MakeDistinctTiles(const fs::path& scratch) {
    std::vector<std::string> tiles;
    for (int i = 0; i < kDistinctTiles; ++i) {
        SampleTileParams params;
        params.texturePx = 140 + (i * 37) % 161;
        params.gridCells = 16 + (i * 11) % 33;
        params.seed = static_cast<unsigned>(5000 + i);
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

fs::path PrepareCacheBlock(const fs::path& root, int tiles) {
    if (tiles < 1) {
        throw std::invalid_argument("the cache block needs a tile");
    }
    const fs::path set = root / ("cache-t" + std::to_string(tiles));
    const fs::path block = set / "Block";
    if (fs::exists(set / kCompleteMarker)) {
        return block;
    }
    fs::remove_all(set);
    fs::create_directories(block);
    const std::vector<std::string> distinct = MakeDistinctTiles(set);
    for (int t = 0; t < tiles; ++t) {
        const fs::path tile = block / TileName(t);
        fs::create_directories(tile);
        WriteBytes(tile / "root.osgb", distinct[static_cast<std::size_t>(t % kDistinctTiles)],
                   std::ios::trunc);
    }
    WriteBytes(set / kCompleteMarker, "generated completely\n", std::ios::trunc);
    // A verdict on a file changed less than a second before the run is not kept.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    return block;
}

std::vector<fs::path> CacheBlockTiles(const fs::path& block) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(block)) {
        if (entry.is_directory()) {
            files.push_back(entry.path() / "root.osgb");
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void Rewrite(const fs::path& file) {
    WriteBytes(file, ReadBytes(file), std::ios::in | std::ios::out);
}

} // namespace brindle::bench
