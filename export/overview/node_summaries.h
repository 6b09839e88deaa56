#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// A node's summary as a later run takes it: the hash of the subtree it was made from, and the
// summary as EncodeHeldSummary() gives it.
struct KeptSummary {
    std::uint64_t hash = 0;
    std::string bytes;

    bool operator==(const KeptSummary& other) const {
        return hash == other.hash && bytes == other.bytes;
    }
};

// The summaries of some of a pyramid's nodes, by node file name, kept in the levels' folder
// beside their files. A re-run that builds a node again over children it takes as they are
// starts from these instead of having a worker read each child's file back and draw it.
using KeptSummaries = std::map<std::string, KeptSummary>;

// Beyond this the file is taken for damaged: the pyramid keeps a few thousand summaries of at
// most 30 KB each.
constexpr std::uint64_t kMaxKeptSummariesBytes = 256ull << 20;

// The summaries as the file holds them, a checksum over the whole last.
std::string KeptSummariesBytes(const KeptSummaries& kept);

// The summaries in `bytes`, or nothing when they are not whole and exactly as
// KeptSummariesBytes() writes them: a damaged file gives nothing, and the nodes are read back.
std::optional<KeptSummaries> ParseKeptSummaries(std::string_view bytes);

// The file in the levels' folder `folder` that keeps its summaries.
std::filesystem::path KeptSummariesPath(const std::filesystem::path& folder);

// The summaries kept in the levels' folder `folder`, read bounded from a regular file; nothing
// when there are none or they are damaged.
std::optional<KeptSummaries> ReadKeptSummaries(const std::filesystem::path& folder);

} // namespace brindle
