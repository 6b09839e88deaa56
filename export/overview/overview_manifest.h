#pragma once

#include "export/error/result.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// What an overview folder's levels were made from: for each node file, a hash of everything its
// subtree rests on (the tiles' names, their root files' stamps and verdicts, and the options
// that shape the levels). A later run whose node comes to the same hash takes the file as it is.
struct OverviewManifest {
    std::map<std::string, std::uint64_t> nodes; // by node file name
};

// Beyond this a manifest is taken for damaged: a block of 10^5 tiles needs a few megabytes.
constexpr std::uint64_t kMaxManifestBytes = 64ull << 20;

std::string ManifestText(const OverviewManifest& manifest);

// The manifest in `text`, or nothing when any line of it is not as ManifestText writes it: a
// damaged manifest reuses nothing.
std::optional<OverviewManifest> ParseManifest(std::string_view text);

// The manifest of the overview folder `folder`, read bounded from a regular file; nothing when
// there is none or it is damaged.
std::optional<OverviewManifest> ReadManifest(const std::filesystem::path& folder);

// Puts the manifest in place in `folder`, whole or not at all.
Status WriteManifest(const std::filesystem::path& folder, const OverviewManifest& manifest);

} // namespace brindle
