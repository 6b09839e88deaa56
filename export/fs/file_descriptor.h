#pragma once

#include "export/error/result.h"
#include "export/fs/regular_file.h"

#include <cerrno>
#include <cstddef>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace brindle {

// The cause errno holds after a failed POSIX call.
inline std::error_code LastPosixError() {
    return SystemError(errno);
}

// Writes every byte to `fd`, again where a signal cut a write short.
inline Status WriteAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return LastPosixError();
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// Owns a POSIX file descriptor and closes it when done.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now, so that a failure to close is seen.
    Status close() {
        const int fd = release();
        if (fd >= 0 && ::close(fd) != 0)
            return LastPosixError();
        return {};
    }

private:
    int fd_;
};

} // namespace brindle
