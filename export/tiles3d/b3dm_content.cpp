#include "export/tiles3d/b3dm_content.h"

#include <cstdint>

namespace brindle {
namespace {

constexpr std::size_t kHeaderBytes = 28;
constexpr std::size_t kGlbAlignment = 8;

// Little-endian, as every length of the format is.
void PutUint32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

} // namespace

std::string B3dmAround(std::string_view glb) {
    std::string featureTable = R"({"BATCH_LENGTH":0})";
    while ((kHeaderBytes + featureTable.size()) % kGlbAlignment != 0)
        featureTable += ' ';
    const std::size_t total = kHeaderBytes + featureTable.size() + glb.size();
    std::string b3dm;
    b3dm.reserve(total);
    b3dm += "b3dm";
    PutUint32(b3dm, 1); // version
    PutUint32(b3dm, static_cast<std::uint32_t>(total));
    PutUint32(b3dm, static_cast<std::uint32_t>(featureTable.size()));
    PutUint32(b3dm, 0); // the feature table's binary body
    PutUint32(b3dm, 0); // the batch table's JSON
    PutUint32(b3dm, 0); // and its binary body
    b3dm += featureTable;
    b3dm += glb;
    return b3dm;
}

} // namespace brindle
