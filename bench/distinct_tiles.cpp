#include "bench/distinct_tiles.h"

#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace brindle::bench {
namespace fs = std::filesystem;

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

std::vector<std::string> MakeDistinctTiles(const fs::path& scratch, int count,
                                           const std::function<SampleTileParams(int)>& paramsFor) {
    std::vector<std::string> tiles;
    for (int i = 0; i < count; ++i) {
        const fs::path file = scratch / ("tile_" + std::to_string(i) + ".osgb");
        WriteSampleTile(file, paramsFor(i));
        tiles.push_back(ReadBytes(file));
        fs::remove(file);
    }
    return tiles;
}

std::string NumberedTileName(int index) {
    std::ostringstream name;
    name << "Tile_" << std::setw(5) << std::setfill('0') << index;
    return name.str();
}

} // namespace brindle::bench
