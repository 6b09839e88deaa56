#include "export/overview/node_summaries.h"

#include "export/fs/byte_fields.h"
#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/hash/fnv1a.h"

namespace brindle {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kFirstLine = "brindle kept node summary 1\n";
// A kept summary deflates to some 40 to 60 KB; even one of noise stays within this.
constexpr std::uint64_t kMostBytes = std::uint64_t{512} << 10;

std::uint64_t Checksum(std::string_view bytes) {
    return Fnv1a().addBytes(bytes).value();
}

} // namespace

fs::path KeptSummaryPath(const fs::path& folder, const std::string& nodeFile) {
    return JoinPath(folder,
                    fs::path(nodeFile).replace_extension(std::string(kKeptSummaryExtension)));
}

std::string KeptSummaryBytes(std::uint64_t hash, std::string_view summary) {
    std::string out(kFirstLine);
    PutField(out, hash);
    out += summary;
    PutField(out, Checksum(out));
    return out;
}

std::optional<std::string> ParseKeptSummary(std::string_view bytes, std::uint64_t hash) {
    std::uint64_t kept = 0, checksum = 0;
    if (bytes.size() <= kFirstLine.size() + sizeof kept + sizeof checksum ||
        bytes.substr(0, kFirstLine.size()) != kFirstLine)
        return std::nullopt;
    std::string_view tail = bytes.substr(bytes.size() - sizeof checksum);
    bytes.remove_suffix(sizeof checksum);
    if (!TakeField(tail, checksum) || checksum != Checksum(bytes))
        return std::nullopt;
    bytes.remove_prefix(kFirstLine.size());
    if (!TakeField(bytes, kept) || kept != hash)
        return std::nullopt;
    return std::string(bytes);
}

std::optional<std::string> ReadKeptSummary(const fs::path& file, std::uint64_t hash) {
    const std::optional<std::string> bytes = ReadWholeRegularFile(file, kMostBytes);
    if (!bytes)
        return std::nullopt;
    return ParseKeptSummary(*bytes, hash);
}

} // namespace brindle
