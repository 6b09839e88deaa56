#include "export/overview/overview_manifest.h"

#include "export/fs/atomic_file.h"
#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"

#include <algorithm>
#include <cstdio>

namespace brindle {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFirstLine = "brindle-overview-manifest 1";
constexpr std::size_t kHashDigits = 16;
constexpr std::size_t kMaxNameLength = 128;

// A node file name as the pyramid makes them: plain ASCII, no separator, ending in .osgb.
bool IsNodeFileName(std::string_view name) {
    constexpr std::string_view suffix = ".osgb";
    if (name.size() <= suffix.size() || name.size() > kMaxNameLength ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '_' || c == '-' || c == '+' || c == '.';
    });
}

std::optional<std::uint64_t> ParseHash(std::string_view digits) {
    if (digits.size() != kHashDigits)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return value;
}

fs::path ManifestPath(const fs::path& folder) {
    return JoinPath(folder, fs::path(std::string(kOverviewManifestName)));
}

} // namespace

std::string ManifestText(const OverviewManifest& manifest) {
    std::string text(kFirstLine);
    text += '\n';
    for (const auto& [name, hash] : manifest.nodes) {
        char digits[kHashDigits + 1];
        std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
        text.append(digits).append(" ").append(name).append("\n");
    }
    return text;
}

std::optional<OverviewManifest> ParseManifest(std::string_view text) {
    const std::size_t firstEnd = text.find('\n');
    if (firstEnd == std::string_view::npos || text.substr(0, firstEnd) != kFirstLine)
        return std::nullopt;
    OverviewManifest manifest;
    std::size_t at = firstEnd + 1;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            return std::nullopt; // cut short
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() < kHashDigits + 2 || line[kHashDigits] != ' ')
            return std::nullopt;
        const std::optional<std::uint64_t> hash = ParseHash(line.substr(0, kHashDigits));
        const std::string_view name = line.substr(kHashDigits + 1);
        if (!hash || !IsNodeFileName(name) ||
            !manifest.nodes.emplace(std::string(name), *hash).second)
            return std::nullopt;
    }
    return manifest;
}

std::optional<OverviewManifest> ReadManifest(const fs::path& folder) {
    RegularFile file;
    const Result<RegularFile::Opened> opened = file.open(ManifestPath(folder));
    if (!opened || *opened != RegularFile::Opened::Yes || file.size() > kMaxManifestBytes)
        return std::nullopt;
    // One byte more than its size, so that a file grown since the open is seen.
    std::string bytes(static_cast<std::size_t>(file.size()) + 1, '\0');
    const Result<std::size_t> read = file.read(bytes.data(), bytes.size());
    if (!read || *read != file.size())
        return std::nullopt;
    bytes.resize(*read);
    return ParseManifest(bytes);
}

Status WriteManifest(const fs::path& folder, const OverviewManifest& manifest) {
    const Result<FileReplaced> replaced =
        ReplaceFileAtomically(ManifestPath(folder), ManifestText(manifest));
    if (!replaced)
        return replaced.error();
    return {};
}

} // namespace brindle
