#include "bench/hostile_tile.h"

#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/Geometry>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kHostileCount = 0x7fffffff;

SampleTileParams HostileTileParams() {
    SampleTileParams params;
    params.texturePx = 16;
    params.gridCells = 12;
    params.seed = 4242;
    return params;
}

// The vertex array as the binary format stores it: the element count, then the raw values.
std::string StoredVertexArray(const SampleTileParams& params) {
    const osg::ref_ptr<osg::Node> tile = MakeSampleTile(params);
    const osg::Array* vertices = tile->asGeode()->getDrawable(0)->asGeometry()->getVertexArray();
    const std::uint32_t count = vertices->getNumElements();
    std::string stored(reinterpret_cast<const char*>(&count), sizeof count);
    stored.append(static_cast<const char*>(vertices->getDataPointer()),
                  vertices->getTotalDataSize());
    return stored;
}

} // namespace

void WriteHostileTile(const fs::path& file) {
    const SampleTileParams params = HostileTileParams();
    WriteSampleTile(file, params);
    std::string bytes;
    {
        std::ifstream in(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string stored = StoredVertexArray(params);
    const std::size_t at = bytes.find(stored);
    if (at == std::string::npos || bytes.find(stored, at + 1) != std::string::npos) {
        throw std::runtime_error("no single vertex array found in " + file.string());
    }
    std::memcpy(bytes.data() + at, &kHostileCount, sizeof kHostileCount);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

} // namespace brindle::bench
