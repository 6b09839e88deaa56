#include "export/fs/folder_publish.h"

#include "export/fs/file_descriptor.h"
#include "export/fs/regular_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace brindle {
namespace fs = std::filesystem;
namespace {

Result<int> OpenForFlush(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return LastPosixError();
    return fd;
}

#if !defined(__linux__)
Status SyncDescriptor(int fd) {
    if (::fsync(fd) != 0 && errno != EINVAL)
        return LastPosixError();
    return {};
}

// Each regular file itself in `folder`, then the folder and its parent.
Status FlushEachFile(const fs::path& folder, int folderFd) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || it->is_symlink(typeError))
            continue;
        const FileDescriptor file(::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (file.get() < 0)
            return LastPosixError();
        if (const Status synced = SyncDescriptor(file.get()); !synced)
            return synced;
    }
    if (ec)
        return SystemError(ec);
    return SyncDescriptor(folderFd);
}
#endif

} // namespace

Status FlushFolder(const fs::path& folder) {
    const Result<int> opened = OpenForFlush(folder);
    if (!opened)
        return opened.error();
    const FileDescriptor fd(*opened);
#if defined(__linux__)
    // One call for the whole file system the folder is on: its files, the folder and its
    // parent's entry for it. Since Linux 5.8 it reports a write that failed.
    if (::syncfs(fd.get()) != 0)
        return LastPosixError();
    return {};
#else
    if (const Status flushed = FlushEachFile(folder, fd.get()); !flushed)
        return flushed;
    const Result<int> parent =
        OpenForFlush(folder.parent_path().empty() ? "." : folder.parent_path());
    if (!parent)
        return parent.error();
    const FileDescriptor parentFd(*parent);
    return SyncDescriptor(parentFd.get());
#endif
}

Status RenameFolderWithoutReplacing(const fs::path& from, const fs::path& to) {
#if defined(__linux__) && defined(SYS_renameat2)
    constexpr unsigned kNoReplace = 1; // RENAME_NOREPLACE
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), kNoReplace) == 0)
        return {};
    // File systems without it say EINVAL; kernels without it ENOSYS: the look below is all
    // that is left there.
    if (errno != EINVAL && errno != ENOSYS)
        return LastPosixError();
#endif
    struct stat seen {};
    if (::lstat(to.c_str(), &seen) == 0)
        return SystemError(std::errc::file_exists);
    if (errno != ENOENT)
        return LastPosixError();
    if (::rename(from.c_str(), to.c_str()) != 0)
        return LastPosixError();
    return {};
}

} // namespace brindle
