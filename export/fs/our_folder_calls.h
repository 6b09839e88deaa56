#pragma once

#include "export/error/result.h"

#include <filesystem>
#include <string_view>

namespace brindle {

// The plain system calls behind the folders the program keeps of its own (the overview's
// levels, a 3D Tiles output), which their tests replace to fail on demand.

// Makes `folder`, and only it; std::errc::file_exists when anything at all is there by that
// name, a folder included.
Status MakeOneFolder(const std::filesystem::path& folder);
// Puts `bytes` in place as `file`, whole or not at all (ReplaceFileAtomically).
Status WriteWholeFile(const std::filesystem::path& file, std::string_view bytes);
// Removes a file, a link itself or an empty folder; a path already gone is no error.
Status RemoveOne(const std::filesystem::path& path);

// True when `file` is a marker of ours: a regular file itself, not a link, holding `text` and
// nothing more.
bool HoldsMarker(const std::filesystem::path& file, std::string_view text);

} // namespace brindle
