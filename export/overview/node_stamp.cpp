#include "export/overview/node_stamp.h"

#include <cstring>
#include <string>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A node file is a few hundred kilobytes; a larger one is none of ours.
constexpr std::uint64_t kMaxNodeFileBytes = 256ull << 20;

std::uint64_t Word(const char* at) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// The bytes of `file`, read whole from a regular file of `size` bytes, no larger than a node
// file may be.
std::optional<std::string> ReadWhole(const fs::path& file, std::uint64_t size) {
    if (size > kMaxNodeFileBytes)
        return std::nullopt;
    std::optional<std::string> bytes = ReadWholeRegularFile(file, size);
    if (!bytes || bytes->size() != size)
        return std::nullopt;
    return bytes;
}

} // namespace

std::uint64_t NodeContentHash(std::string_view bytes) {
    constexpr std::uint64_t kMultiplier = 0xff51afd7ed558ccd;
    std::uint64_t hash = 0x9e3779b97f4a7c15 ^ bytes.size();
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        hash = (hash ^ Word(bytes.data() + i)) * kMultiplier;
        hash ^= hash >> 32;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    hash = (hash ^ tail) * kMultiplier;
    return hash ^ (hash >> 29);
}

NodeFileStamp StampNodeFile(const fs::path& file, std::uint64_t content) {
    NodeFileStamp stamp;
    stamp.content = content;
    if (const Result<FileFacts> facts = LookAt(file);
        facts && facts->type == fs::file_type::regular)
        stamp.facts = *facts;
    return stamp;
}

bool NodeFileHolds(const fs::path& file, const NodeFileStamp& recorded) {
    const Result<FileFacts> now = LookAt(file);
    if (!now || now->type != fs::file_type::regular || IsLink(file))
        return false;
    if (Unchanged(recorded.facts, *now))
        return true;
    if (now->size != recorded.facts.size || now->modified != recorded.facts.modified)
        return false;
    const std::optional<std::string> bytes = ReadWhole(file, now->size);
    return bytes && NodeContentHash(*bytes) == recorded.content;
}

} // namespace brindle
