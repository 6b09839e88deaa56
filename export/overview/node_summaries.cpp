#include "export/overview/node_summaries.h"

#include "export/fs/byte_fields.h"
#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/hash/fnv1a.h"

namespace brindle {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kFirstLine = "brindle kept node summaries 1\n";
// A node file's name is short (a prefix, a level and a place); a longer one is damage.
constexpr std::uint16_t kMaxNameBytes = 256;

std::uint64_t Checksum(std::string_view bytes) {
    return Fnv1a().addBytes(bytes).value();
}

bool TakeEntry(std::string_view& in, KeptSummaries& kept) {
    std::uint16_t nameBytes = 0;
    KeptSummary summary;
    std::uint32_t size = 0;
    if (!TakeField(in, nameBytes) || nameBytes == 0 || nameBytes > kMaxNameBytes ||
        in.size() < nameBytes)
        return false;
    std::string name(in.substr(0, nameBytes));
    in.remove_prefix(nameBytes);
    if (!TakeField(in, summary.hash) || !TakeField(in, size) || in.size() < size)
        return false;
    summary.bytes.assign(in.substr(0, size));
    in.remove_prefix(size);
    return kept.emplace(std::move(name), std::move(summary)).second;
}

} // namespace

fs::path KeptSummariesPath(const fs::path& folder) {
    return JoinPath(folder, fs::path(std::string(kKeptSummariesName)));
}

std::string KeptSummariesBytes(const KeptSummaries& kept) {
    std::string out(kFirstLine);
    PutField(out, static_cast<std::uint64_t>(kept.size()));
    for (const auto& [name, summary] : kept) {
        if (name.empty() || name.size() > kMaxNameBytes)
            continue;
        PutField(out, static_cast<std::uint16_t>(name.size()));
        out += name;
        PutField(out, summary.hash);
        PutField(out, static_cast<std::uint32_t>(summary.bytes.size()));
        out += summary.bytes;
    }
    PutField(out, Checksum(out));
    return out;
}

std::optional<KeptSummaries> ParseKeptSummaries(std::string_view bytes) {
    std::uint64_t checksum = 0;
    if (bytes.size() < kFirstLine.size() + sizeof checksum ||
        bytes.substr(0, kFirstLine.size()) != kFirstLine)
        return std::nullopt;
    std::string_view tail = bytes.substr(bytes.size() - sizeof checksum);
    bytes.remove_suffix(sizeof checksum);
    if (!TakeField(tail, checksum) || checksum != Checksum(bytes))
        return std::nullopt;
    bytes.remove_prefix(kFirstLine.size());
    std::uint64_t count = 0;
    if (!TakeField(bytes, count))
        return std::nullopt;
    KeptSummaries kept;
    for (std::uint64_t k = 0; k < count; ++k)
        if (!TakeEntry(bytes, kept))
            return std::nullopt;
    if (!bytes.empty())
        return std::nullopt;
    return kept;
}

std::optional<KeptSummaries> ReadKeptSummaries(const fs::path& folder) {
    RegularFile file;
    const Result<RegularFile::Opened> opened = file.open(KeptSummariesPath(folder));
    if (!opened || *opened != RegularFile::Opened::Yes || file.size() > kMaxKeptSummariesBytes)
        return std::nullopt;
    // One byte more than its size, so that a file grown since the open is seen.
    std::string bytes(static_cast<std::size_t>(file.size()) + 1, '\0');
    const Result<std::size_t> read = file.read(bytes.data(), bytes.size());
    if (!read || *read != file.size())
        return std::nullopt;
    bytes.resize(*read);
    return ParseKeptSummaries(bytes);
}

} // namespace brindle
