#pragma once

#include "export/error/result.h"

#include <filesystem>

namespace brindle {

// What publishing a folder of files needs of the system beyond the standard library.

// Puts every file in `folder`, and the folder's own entry in its parent, on disk, so that an
// index written after it never names a file a power cut could take. On Linux one syncfs() of
// the folder's file system, which costs far less than a flush of each file of thousands;
// elsewhere each regular file in turn (FlushFileBuffers on Windows), then on POSIX the folder
// and its parent.
Status FlushFolder(const std::filesystem::path& folder);

// Renames the folder `from` to `to` in the same parent, never over anything: when anything is
// there by the name `to` (on POSIX even an empty folder, which a plain rename replaces), fails
// with std::errc::file_exists and leaves both as they were.
Status RenameFolderWithoutReplacing(const std::filesystem::path& from,
                                    const std::filesystem::path& to);

} // namespace brindle
