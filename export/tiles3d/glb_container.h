#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// The binary glTF container's little-endian words.
std::uint32_t ReadUint32Le(std::string_view bytes, std::size_t at);
void AppendUint32Le(std::string& out, std::uint32_t value);

// A binary glTF file's JSON chunk and its binary chunk (empty when it has none), as views into
// the file's bytes.
struct GlbChunks {
    std::string_view json;
    std::string_view bin;
};

// The chunks of a version 2 container whose stated length is the file's: the JSON chunk first,
// then at most a binary chunk, each within the file and nothing after them; none otherwise.
std::optional<GlbChunks> SplitGlb(std::string_view glb);

// The container around `json`, padded with spaces to 4 bytes, and `bin`, as it is (a binary
// chunk only where it holds bytes); none when it would pass the container's 4 GB.
std::optional<std::string> JoinGlb(std::string json, std::string_view bin);

} // namespace brindle
