#include "export/fs/atomic_file.h"

#include "export/fs/file_descriptor.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The permission bits the new file must get: the old file's. Nothing for a new file, which
// keeps the bits open() gave it: reading the umask means setting it, and the umask is the
// whole process's, so other threads would create files with the wrong bits meanwhile.
std::optional<mode_t> ModeFor(const fs::path& target) {
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        return old.st_mode & 07777;
    return std::nullopt;
}

// Created private when the old file's bits follow, else as any new file is.
mode_t CreationMode(const std::optional<mode_t>& mode) {
    return mode ? 0600 : 0666;
}

std::string TemporaryName() {
    std::random_device random;
    char name[16];
    std::snprintf(name, sizeof name, ".b-%06x", static_cast<unsigned>(random() & 0xffffff));
    return name;
}

Status FillAndSync(int fd, std::string_view bytes, const std::optional<mode_t>& mode,
                   const AtomicFileCalls& calls) {
    if (const Status written = WriteAllTo(fd, bytes); !written)
        return written;
    if ((mode && ::fchmod(fd, *mode) != 0) || calls.fsync(fd) != 0)
        return LastPosixError();
    return {};
}

Status SyncFolder(const fs::path& folder, const AtomicFileCalls& calls) {
    const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || calls.fsync(dir.get()) != 0)
        return LastPosixError();
    return {};
}

// Creates a named temporary file beside the target, filled and synced.
Status WriteNamedTemporary(const fs::path& folder, std::string_view bytes,
                           const std::optional<mode_t>& mode, const AtomicFileCalls& calls,
                           fs::path& temporary) {
    for (int attempt = 0;; ++attempt) {
        temporary = folder / TemporaryName();
        FileDescriptor file(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, CreationMode(mode)));
        if (file.get() < 0) {
            if (errno == EEXIST && attempt < 16)
                continue;
            const std::error_code ec = LastPosixError();
            temporary.clear();
            return ec;
        }
        const Status filled = FillAndSync(file.get(), bytes, mode, calls);
        if (const Status closed = file.close(); filled)
            return closed;
        return filled;
    }
}

#ifdef O_TMPFILE
// Writes the bytes into an unnamed file in `folder`, then gives it a temporary name, so a
// process killed while writing leaves nothing. Reports ENOTSUP-like errors as `unsupported`.
Status WriteUnnamedThenLink(const fs::path& folder, std::string_view bytes,
                            const std::optional<mode_t>& mode, const AtomicFileCalls& calls,
                            fs::path& temporary, bool& unsupported) {
    FileDescriptor file(
        ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, CreationMode(mode)));
    if (file.get() < 0) {
        unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        return LastPosixError();
    }
    if (const Status filled = FillAndSync(file.get(), bytes, mode, calls); !filled)
        return filled;
    const std::string self = "/proc/self/fd/" + std::to_string(file.get());
    for (int attempt = 0;; ++attempt) {
        temporary = folder / TemporaryName();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return file.close();
        if (errno == EEXIST && attempt < 16)
            continue;
        // Without /proc there is no way to name the file; the named route still works.
        unsupported = errno == ENOENT;
        const std::error_code ec = LastPosixError();
        temporary.clear();
        return ec;
    }
}
#endif

} // namespace

AtomicFileCalls SystemFileCalls() {
    AtomicFileCalls calls;
    calls.fsync = ::fsync;
    calls.rename = ::rename;
    return calls;
}

Result<FileReplaced> ReplaceFileAtomically(const fs::path& target, std::string_view bytes,
                                           const AtomicFileCalls& calls, FileAccess access) {
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const std::optional<mode_t> mode =
        access == FileAccess::OwnerOnly ? std::optional<mode_t>(0600) : ModeFor(target);
    fs::path temporary;
    Status written;
    bool unsupported = true;
#ifdef O_TMPFILE
    unsupported = false;
    written = WriteUnnamedThenLink(folder, bytes, mode, calls, temporary, unsupported);
#endif
    if (unsupported)
        written = WriteNamedTemporary(folder, bytes, mode, calls, temporary);
    if (written && calls.rename(temporary.c_str(), target.c_str()) != 0)
        written = LastPosixError();
    if (!written) {
        if (!temporary.empty())
            ::unlink(temporary.c_str());
        return written.error();
    }
    // The new file is in place whatever the flush says; a failed flush only means the
    // folder's entry may not have reached the disk yet.
    return FileReplaced{SyncFolder(folder, calls).error()};
}

Status CheckFolderWritable(const fs::path& folder) {
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return LastPosixError();
    return {};
}

} // namespace brindle
