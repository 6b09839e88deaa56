#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace brindle {

// Puts `bytes` in place as `target`, atomically: a reader sees the old file or the new one,
// never a part. The bytes are on disk before the new file takes the old one's place, and the
// folder's entry is on disk after. The new file keeps the permission bits of the file it
// replaces. On failure the old file is untouched and nothing is left behind.
//
// The bytes go to a file without a name where the file system offers one, so a process
// killed mid-write leaves nothing; elsewhere to a temporary name no longer than the target's
// own, so a target path that is valid can always be written.
std::error_code ReplaceFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// Whether `folder` takes new files, without writing any.
std::error_code CheckFolderWritable(const std::filesystem::path& folder);

// Removes temporary files of this writer's naming in `folder` that are older than an hour:
// left by a run that was killed where the file system has no unnamed files.
void RemoveStaleTemporaryFiles(const std::filesystem::path& folder);

// Whether a file name is one of this writer's temporary names.
bool IsTemporaryFileName(const std::string& name);

} // namespace brindle
