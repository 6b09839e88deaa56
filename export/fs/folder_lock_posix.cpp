#include "export/fs/folder_lock.h"

#include "export/fs/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace brindle {
namespace {

int OpenPath(const char* path, int flags) {
    return ::open(path, flags);
}

// The causes by which a system says it has no lock to give on this folder's file system
// (a network file system without flock, or one that takes exclusive locks only on
// descriptors open for writing, which a folder's never is).
bool NoLockHere(int error) {
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == EINVAL ||
           error == EBADF || error == ENOSYS;
}

} // namespace

FolderLockCalls SystemFolderLockCalls() {
    FolderLockCalls calls;
    calls.open = OpenPath;
    calls.flock = ::flock;
    return calls;
}

FolderLock::~FolderLock() {
    // Closing the one descriptor of the lock releases it.
    if (fd_ >= 0)
        ::close(fd_);
}

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool FolderLock::held() const {
    return fd_ >= 0;
}

Result<FolderLock> TakeFolderLock(const std::filesystem::path& folder,
                                  const FolderLockCalls& calls) {
    // Not inherited by the workers the run starts: a worker outliving the run would hold the
    // lock after it. Read-only, as a folder opens; the lock is the folder's all the same.
    const int fd = calls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return SystemError(errno);
    FolderLock lock;
    lock.fd_ = fd;
    int taken = 0;
    do
        taken = calls.flock(fd, LOCK_EX | LOCK_NB);
    while (taken != 0 && errno == EINTR);
    if (taken == 0)
        return lock;
    const int error = errno;
    if (error == EWOULDBLOCK || error == EAGAIN)
        return FolderLockHeldError();
    if (NoLockHere(error))
        return FolderLock();
    return SystemError(error);
}

} // namespace brindle
