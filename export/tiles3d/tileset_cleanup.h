#pragma once

#include "export/error/result.h"
#include "export/tiles3d/tileset_names.h"

#include <filesystem>
#include <unordered_set>
#include <vector>

namespace brindle {

// What a tileset updated in place leaves behind: the files it no longer names.

// The files a tileset names, relative to its output folder, by NameKey.
using NameSet = std::unordered_set<PathKey, PathKeyHash>;
PathKey NameKey(const std::filesystem::path& relative);

// Removes from `folder` each of `names` (relative to it) that `kept` does not hold, and each
// folder that leaves empty, up to `folder`. A file already gone is no failure.
Status RemoveNamesNotKept(const std::filesystem::path& folder,
                          const std::vector<std::filesystem::path>& names, const NameSet& kept);

// Removes from `folder` everything but what `kept` holds and the folder's own files (its
// marker, tileset.json, the manifest): for when the names the tileset no longer uses are not
// known, after a build cut short or a manifest that did not read. Never follows a link; the
// folders left empty go too.
Status RemoveAllNotKept(const std::filesystem::path& folder, const NameSet& kept);

} // namespace brindle
