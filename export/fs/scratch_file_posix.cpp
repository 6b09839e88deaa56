#include "export/fs/scratch_file.h"

#include "export/fs/file_descriptor.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {
namespace fs = std::filesystem;

struct ScratchFile::Handle {
    FileDescriptor fd;
};

namespace {

constexpr int kTries = 16;

// A file that has a name only between its creation and the next line: where the file system
// offers no unnamed files. A kill in between leaves an empty file of that pattern, of no use to
// anyone.
Result<int> CreateUnlinked(const fs::path& folder) {
    std::random_device random;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".brindle-scratch-%08x", static_cast<unsigned>(random()));
        const fs::path file = folder / name;
        const int fd =
            ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return LastPosixError();
        if (::unlink(file.c_str()) != 0) {
            const std::error_code cause = LastPosixError();
            ::close(fd);
            return cause;
        }
        return fd;
    }
    return SystemError(std::errc::file_exists);
}

} // namespace

ScratchFile::ScratchFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ScratchFile::~ScratchFile() = default;

Result<std::unique_ptr<ScratchFile>> ScratchFile::Create(const fs::path& folder) {
    auto handle = std::make_unique<Handle>();
#ifdef O_TMPFILE
    handle->fd.reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
#endif
    if (handle->fd.get() < 0) {
        Result<int> made = CreateUnlinked(folder);
        if (!made)
            return made.error();
        handle->fd.reset(*made);
    }
    return std::unique_ptr<ScratchFile>(new ScratchFile(std::move(handle)));
}

Status ScratchFile::append(std::string_view bytes) {
    // Reads take their offset with them, so the file's own position stays at its end.
    return WriteAllTo(handle_->fd.get(), bytes);
}

Status ScratchFile::readAt(std::uint64_t offset, char* into, std::size_t size) const {
    while (size > 0) {
        const ssize_t read = ::pread(handle_->fd.get(), into, size, static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return LastPosixError();
        if (read == 0)
            return SystemError(std::errc::io_error);
        into += read;
        size -= static_cast<std::size_t>(read);
        offset += static_cast<std::uint64_t>(read);
    }
    return {};
}

} // namespace brindle
