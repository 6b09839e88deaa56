#include "bench/cache_block.h"

#include "bench/distinct_tiles.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

constexpr int kDistinctTiles = 24;
constexpr const char* kCompleteMarker = ".complete";

// Raw textures of 140 to 300 px a side and meshes of 16 to 48 cells: 64 KB to about 300 KB.
SampleTileParams RealSizeTile(int i) {
    SampleTileParams params;
    params.texturePx = 140 + (i * 37) % 161;
    params.gridCells = 16 + (i * 11) % 33;
    params.seed = static_cast<unsigned>(5000 + i);
    return params;
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
    const std::vector<std::string> distinct = MakeDistinctTiles(set, kDistinctTiles, RealSizeTile);
    for (int t = 0; t < tiles; ++t) {
        const fs::path tile = block / NumberedTileName(t);
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
