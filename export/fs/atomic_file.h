#pragma once

#include "export/error/result.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace brindle {

// The system calls the writer makes that tests make fail on demand; SystemFileCalls() gives
// the real ones.
struct AtomicFileCalls {
#ifndef _WIN32
    int (*fsync)(int fd) = nullptr;
    int (*rename)(const char* from, const char* to) = nullptr;
#endif
};
AtomicFileCalls SystemFileCalls();

// A file put in place. A failure to put it there leaves the old one untouched and nothing
// behind.
struct FileReplaced {
    // The new file is in place, but its folder could not be flushed, so after a power cut
    // the folder may still show the old file.
    std::error_code notFlushed;
};

// Who may read the file put in place.
enum class FileAccess {
    AsReplaced, // the bits of the file replaced; a new file gets what any new file gets
    OwnerOnly,  // the owner alone (0600), from its creation on, whatever the file replaced had
};

// Puts `bytes` in place as `target`, atomically: a reader sees the old file or the new one,
// never a part. The bytes are on disk before the new file takes the old one's place, and the
// folder's entry is on disk after. The new file keeps the permission bits of the file it
// replaces; a new file gets the bits any new file gets (0666 less the umask, or the folder's
// default ACL), which the system applies without the process-wide umask being touched.
//
// The bytes go to a file without a name where the file system offers one, so a process
// killed mid-write leaves nothing; elsewhere to a temporary name no longer than the target's
// own, so a target path that is valid can always be written.
// With FileAccess::OwnerOnly the new file is the owner's alone on POSIX; Windows files in the
// user's own profile folders are the user's already.
Result<FileReplaced> ReplaceFileAtomically(const std::filesystem::path& target,
                                           std::string_view bytes,
                                           const AtomicFileCalls& calls = SystemFileCalls(),
                                           FileAccess access = FileAccess::AsReplaced);

// Whether `folder` takes new files, without writing any.
Status CheckFolderWritable(const std::filesystem::path& folder);

// Removes temporary files of this writer's naming in `folder` that are older than an hour:
// left by a run that was killed where the file system has no unnamed files.
void RemoveStaleTemporaryFiles(const std::filesystem::path& folder);

// Whether a file name is one of this writer's temporary names.
bool IsTemporaryFileName(const std::string& name);

} // namespace brindle
