#pragma once

#include "export/error/result.h"

#include <filesystem>

namespace brindle {

// One run at a time writes a listed folder: a run takes the folder's lock before it scans the
// folder and holds it until it has removed what the new index no longer names, so that two
// runs never remove each other's levels. The system holds the lock for the process, and
// releases it when the process ends, however it ends: a killed run never leaves it taken.
//
// Where the lock lives. Nothing but root.osgb and our overview folder may be written into the
// user's folder, so no lock file goes there.
//  - POSIX: flock() on a descriptor of the folder itself. It needs no file anywhere, so it
//    works where the verdict cache is off or cannot be written; and it is the folder's own, so
//    every spelling of one folder (a link, a bind mount, another case) takes the same lock.
//  - Windows: a folder's handle takes no byte-range lock, so the lock is a lock file of the
//    user's, in %LOCALAPPDATA%\brindle\locks (the verdict cache's neighbour, and always that
//    one, so that runs with and without a cache exclude each other), named by the folder's
//    identity (its volume's serial number and its file index), as its spellings share it.
// Where no lock can be had (a file system without locks, a lock folder that cannot be made)
// the run goes on without one, as it did before it took locks: refusing every export there
// would keep the user from their index for want of a guard against a rare second run.

// The system calls the lock makes, which tests make fail on demand; SystemFolderLockCalls()
// gives the real ones.
struct FolderLockCalls {
#ifndef _WIN32
    // As ::open(path, flags), with no mode.
    int (*open)(const char* path, int flags) = nullptr;
    int (*flock)(int fd, int operation) = nullptr;
#else
    // As CreateFileW of an existing folder (for its identity) or of the lock file; an
    // INVALID_HANDLE_VALUE on failure, GetLastError() telling why.
    void* (*openFolder)(const wchar_t* path) = nullptr;
    void* (*openLockFile)(const wchar_t* path) = nullptr;
    // As LockFileEx of the whole file, exclusive, failing at once; nonzero when taken.
    int (*lockFile)(void* handle) = nullptr;
#endif
};
FolderLockCalls SystemFolderLockCalls();

// A folder's lock, held while the object lives (or until it is moved from).
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // False for a lock that could not be had where the system has none to give.
    bool held() const;

private:
    friend Result<FolderLock> TakeFolderLock(const std::filesystem::path&, const FolderLockCalls&);
#ifndef _WIN32
    int fd_ = -1;
#else
    void* handle_ = nullptr;
#endif
};

// Takes the lock of `folder` at once, without waiting. Another process's lock, or another of
// this process's FolderLock objects for the same folder, fails it with FolderLockHeldError().
// Where the system
// gives no lock (see above) the result is a FolderLock that holds none; any other failure
// (the folder cannot be opened) is returned with the system's cause.
Result<FolderLock> TakeFolderLock(const std::filesystem::path& folder,
                                  const FolderLockCalls& calls = SystemFolderLockCalls());

// The cause TakeFolderLock gives when another holds the lock: resource_unavailable_try_again.
std::error_code FolderLockHeldError();
bool IsFolderLockHeld(const std::error_code& cause);

} // namespace brindle
