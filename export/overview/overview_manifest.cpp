#include "export/overview/overview_manifest.h"

#include "export/fs/atomic_file.h"
#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"

#include <algorithm>
#include <cstring>

namespace brindle {

namespace fs = std::filesystem;

namespace {

// Nodes: "N <hash> <six box coordinates> <size> <write time> <change time> <device> <file
// number> <content hash> <file name>"; tiles: "T <stamp> <state> <name>". Numbers in
// hexadecimal, the coordinates as their bits, so that they read back exactly whatever the
// locale.
constexpr std::string_view kFirstLine = "brindle-overview-manifest 3";
constexpr std::size_t kHashDigits = 16;
constexpr std::size_t kStateDigits = 2;
constexpr std::size_t kMaxNameLength = 128;
constexpr std::size_t kMaxTileNameLength = 4096;

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

bool IsTileName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxTileNameLength &&
           name.find('\n') == std::string_view::npos;
}

std::optional<std::uint64_t> ParseHex(std::string_view digits) {
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

void AppendHex(std::string& text, std::uint64_t value, std::size_t digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = digits; i-- > 0;)
        text += kDigits[(value >> (4 * i)) & 0xf];
}

// Takes the next field of `digits` hexadecimal digits and the space after it off `line`.
std::optional<std::uint64_t> TakeHex(std::string_view& line, std::size_t digits) {
    if (line.size() < digits + 1 || line[digits] != ' ')
        return std::nullopt;
    const std::optional<std::uint64_t> value = ParseHex(line.substr(0, digits));
    line.remove_prefix(digits + 1);
    return value;
}

std::uint64_t Bits(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double FromBits(std::uint64_t bits) {
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool ParseNodeLine(std::string_view line, OverviewManifest& manifest) {
    ManifestNode node;
    const std::optional<std::uint64_t> hash = TakeHex(line, kHashDigits);
    if (!hash)
        return false;
    node.hash = *hash;
    for (double& coordinate : node.box) {
        const std::optional<std::uint64_t> bits = TakeHex(line, kHashDigits);
        if (!bits)
            return false;
        coordinate = FromBits(*bits);
    }
    std::array<std::uint64_t, 6> file{};
    for (std::uint64_t& field : file) {
        const std::optional<std::uint64_t> value = TakeHex(line, kHashDigits);
        if (!value)
            return false;
        field = *value;
    }
    node.file.facts.type = fs::file_type::regular;
    node.file.facts.size = file[0];
    node.file.facts.modified = static_cast<std::int64_t>(file[1]);
    node.file.facts.changed = static_cast<std::int64_t>(file[2]);
    node.file.facts.device = file[3];
    node.file.facts.inode = file[4];
    node.file.content = file[5];
    return IsNodeFileName(line) && manifest.nodes.emplace(std::string(line), node).second;
}

bool ParseTileLine(std::string_view line, OverviewManifest& manifest) {
    const std::optional<std::uint64_t> stamp = TakeHex(line, kHashDigits);
    const std::optional<std::uint64_t> state = stamp ? TakeHex(line, kStateDigits) : std::nullopt;
    if (!state || !IsTileName(line))
        return false;
    const ManifestTile tile{*stamp, static_cast<std::uint8_t>(*state)};
    return manifest.tiles.emplace(std::string(line), tile).second;
}

fs::path ManifestPath(const fs::path& folder) {
    return JoinPath(folder, fs::path(std::string(kOverviewManifestName)));
}

} // namespace

std::string ManifestText(const OverviewManifest& manifest) {
    std::string text(kFirstLine);
    text += '\n';
    for (const auto& [name, node] : manifest.nodes) {
        text += "N ";
        AppendHex(text, node.hash, kHashDigits);
        for (const double coordinate : node.box) {
            text += ' ';
            AppendHex(text, Bits(coordinate), kHashDigits);
        }
        const FileFacts& facts = node.file.facts;
        for (const std::uint64_t field : {facts.size, static_cast<std::uint64_t>(facts.modified),
                                          static_cast<std::uint64_t>(facts.changed), facts.device,
                                          facts.inode, node.file.content}) {
            text += ' ';
            AppendHex(text, field, kHashDigits);
        }
        text.append(" ").append(name).append("\n");
    }
    for (const auto& [name, tile] : manifest.tiles) {
        if (!IsTileName(name))
            continue;
        text += "T ";
        AppendHex(text, tile.stamp, kHashDigits);
        text += ' ';
        AppendHex(text, tile.summaryState, kStateDigits);
        text.append(" ").append(name).append("\n");
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
        if (line.size() < 2 || line[1] != ' ')
            return std::nullopt;
        const bool parsed = line[0] == 'N'   ? ParseNodeLine(line.substr(2), manifest)
                            : line[0] == 'T' ? ParseTileLine(line.substr(2), manifest)
                                             : false;
        if (!parsed)
            return std::nullopt;
    }
    return manifest;
}

std::optional<OverviewManifest> ReadManifest(const fs::path& folder) {
    const std::optional<std::string> bytes =
        ReadWholeRegularFile(ManifestPath(folder), kMaxManifestBytes);
    if (!bytes)
        return std::nullopt;
    return ParseManifest(*bytes);
}

Status WriteManifest(const fs::path& folder, const OverviewManifest& manifest) {
    const Result<FileReplaced> replaced =
        ReplaceFileAtomically(ManifestPath(folder), ManifestText(manifest));
    if (!replaced)
        return replaced.error();
    return {};
}

} // namespace brindle
