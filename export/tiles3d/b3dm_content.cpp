#include "export/tiles3d/b3dm_content.h"

#include <cstdint>

namespace brindle {
namespace {

constexpr std::size_t kHeaderBytes = 28;
constexpr std::size_t kAlignment = 8;
constexpr std::size_t kGlbHeaderBytes = 12;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kJsonChunk = 0x4E4F534A; // "JSON"

// Little-endian, as every length of both formats is.
void PutUint32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

std::uint32_t Uint32At(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void SetUint32At(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

// The glb, ending on 8 bytes as a b3dm's glb must: a glb ends on 4, so a glb that does not
// gets 4 spaces more at the end of its JSON chunk, which keeps every chunk on 4 and every
// byte of its binary chunk as it was. A glb whose container does not read is left as it is.
std::string EndingOnEightBytes(std::string_view glb) {
    std::string padded(glb);
    if (glb.size() % kAlignment == 0 || glb.size() < kGlbHeaderBytes + kChunkHeaderBytes ||
        glb.substr(0, 4) != "glTF" || Uint32At(glb, 8) != glb.size() ||
        Uint32At(glb, kGlbHeaderBytes + 4) != kJsonChunk)
        return padded;
    const std::size_t jsonBytes = Uint32At(glb, kGlbHeaderBytes);
    const std::size_t jsonEnd = kGlbHeaderBytes + kChunkHeaderBytes + jsonBytes;
    if (jsonBytes % 4 != 0 || jsonEnd > glb.size())
        return padded;
    padded.insert(jsonEnd, 4, ' ');
    SetUint32At(padded, 8, static_cast<std::uint32_t>(padded.size()));
    SetUint32At(padded, kGlbHeaderBytes, static_cast<std::uint32_t>(jsonBytes + 4));
    return padded;
}

} // namespace

std::string B3dmAround(std::string_view glb) {
    std::string featureTable = R"({"BATCH_LENGTH":0})";
    while ((kHeaderBytes + featureTable.size()) % kAlignment != 0)
        featureTable += ' ';
    const std::string inside = EndingOnEightBytes(glb);
    const std::size_t total = kHeaderBytes + featureTable.size() + inside.size();
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
    b3dm += inside;
    return b3dm;
}

} // namespace brindle
