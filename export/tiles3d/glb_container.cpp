#include "export/tiles3d/glb_container.h"

#include <limits>

namespace brindle {
namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67; // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;
constexpr std::uint32_t kBinChunk = 0x004E4942;
constexpr std::size_t kHeaderBytes = 12;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::uint64_t kMaxGlbBytes = std::numeric_limits<std::uint32_t>::max();

} // namespace

std::uint32_t ReadUint32Le(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void AppendUint32Le(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

std::optional<GlbChunks> SplitGlb(std::string_view glb) {
    if (glb.size() < kHeaderBytes + kChunkHeaderBytes || ReadUint32Le(glb, 0) != kGlbMagic ||
        ReadUint32Le(glb, 4) != 2 || ReadUint32Le(glb, 8) != glb.size())
        return std::nullopt;
    GlbChunks chunks;
    std::size_t at = kHeaderBytes;
    const auto chunk = [&](std::uint32_t type) -> std::optional<std::string_view> {
        if (glb.size() - at < kChunkHeaderBytes || ReadUint32Le(glb, at + 4) != type)
            return std::nullopt;
        const std::size_t length = ReadUint32Le(glb, at);
        if (length > glb.size() - at - kChunkHeaderBytes)
            return std::nullopt;
        const std::string_view bytes = glb.substr(at + kChunkHeaderBytes, length);
        at += kChunkHeaderBytes + length;
        return bytes;
    };
    const std::optional<std::string_view> json = chunk(kJsonChunk);
    if (!json)
        return std::nullopt;
    chunks.json = *json;
    if (at < glb.size()) {
        const std::optional<std::string_view> bin = chunk(kBinChunk);
        if (!bin || at != glb.size())
            return std::nullopt;
        chunks.bin = *bin;
    }
    return chunks;
}

std::optional<std::string> JoinGlb(std::string json, std::string_view bin) {
    json.resize((json.size() + 3) / 4 * 4, ' ');
    const std::uint64_t total = kHeaderBytes + kChunkHeaderBytes + json.size() +
                                (bin.empty() ? 0 : kChunkHeaderBytes + bin.size());
    if (total > kMaxGlbBytes)
        return std::nullopt;
    std::string glb;
    glb.reserve(total);
    AppendUint32Le(glb, kGlbMagic);
    AppendUint32Le(glb, 2);
    AppendUint32Le(glb, static_cast<std::uint32_t>(total));
    AppendUint32Le(glb, static_cast<std::uint32_t>(json.size()));
    AppendUint32Le(glb, kJsonChunk);
    glb += json;
    if (!bin.empty()) {
        AppendUint32Le(glb, static_cast<std::uint32_t>(bin.size()));
        AppendUint32Le(glb, kBinChunk);
        glb += bin;
    }
    return glb;
}

} // namespace brindle
