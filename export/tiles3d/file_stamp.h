#pragma once

#include "export/tiles3d/tileset_names.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace brindle {

// A file as a tileset's manifest knows it: enough to tell whether it changed since.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0; // the file system's time, in its own ticks
};
// The stamp of a regular file; nothing for anything else or when it cannot be read.
std::optional<FileStamp> StampOf(const std::filesystem::path& file);

// True when `file` is itself a regular file (not a link) of `bytes` bytes: a file an earlier
// build wrote, as it recorded it.
bool HoldsBytes(const std::filesystem::path& file, std::uint64_t bytes);

// What the walk over a tileset's files needs of one from a single look (LookAt): its stamp,
// when it is a regular file, and a key that every path to it shares, links and hard links
// resolved (its device and inode; for a file that is not there, or where the system tells no
// identity, its path with the links resolved), so that a file named twice, or a link back to
// a folder above, is walked once.
struct FileLook {
    std::optional<FileStamp> stamp;
    PathKey identity;
};
FileLook LookAtFile(const std::filesystem::path& file);

} // namespace brindle
