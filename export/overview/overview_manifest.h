#pragma once

#include "export/error/result.h"
#include "export/overview/node_stamp.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// One node file of an overview folder as its run wrote it: a hash of everything its subtree
// rests on (the tiles' names, their root files' stamps and verdicts, and the options that
// shape the levels), and the box its subtree's surface takes up (min x, y, z, max x, y, z in
// the block's frame; min above max where nothing below it has a surface); and the file as
// the run left it, which a later run checks before it takes the file.
struct ManifestNode {
    std::uint64_t hash = 0;
    std::array<double, 6> box{};
    NodeFileStamp file;

    bool operator==(const ManifestNode& other) const {
        return hash == other.hash && box == other.box && file == other.file;
    }
};

// One tile as the levels show it: the stamp of what its part rests on, and how its summary
// came out (a SummaryState), so that a later run which finds the stamp unchanged knows the
// tile without reading it.
struct ManifestTile {
    std::uint64_t stamp = 0;
    std::uint8_t summaryState = 0;

    bool operator==(const ManifestTile& other) const {
        return stamp == other.stamp && summaryState == other.summaryState;
    }
};

// What an overview folder's levels were made from. A later run whose node comes to the same
// hash takes the file as it is; one whose tiles all come to the stamps kept here takes the
// node without reading those tiles again.
struct OverviewManifest {
    std::map<std::string, ManifestNode> nodes; // by node file name
    std::map<std::string, ManifestTile> tiles; // by the name the level-1 nodes give the tile
};

// Beyond this a manifest is taken for damaged: a block of 10^5 tiles needs some ten megabytes.
constexpr std::uint64_t kMaxManifestBytes = 64ull << 20;

// The manifest as text. A tile whose name holds a line break is left out: a later run reads
// that tile again.
std::string ManifestText(const OverviewManifest& manifest);

// The manifest in `text`, or nothing when any line of it is not as ManifestText writes it: a
// damaged manifest reuses nothing, and neither does one of an earlier layout, whose nodes say
// nothing of their files.
std::optional<OverviewManifest> ParseManifest(std::string_view text);

// The manifest of the overview folder `folder`, read bounded from a regular file; nothing when
// there is none or it is damaged.
std::optional<OverviewManifest> ReadManifest(const std::filesystem::path& folder);

// Puts the manifest in place in `folder`, whole or not at all.
Status WriteManifest(const std::filesystem::path& folder, const OverviewManifest& manifest);

} // namespace brindle
