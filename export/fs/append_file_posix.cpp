#include "export/fs/append_file.h"

#include "export/fs/file_descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {
namespace fs = std::filesystem;
namespace {

Status CreateEmpty(const fs::path& file) {
    FileDescriptor fd(
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0)
        return LastPosixError();
    return fd.close();
}

Status AppendWhole(const fs::path& file, std::string_view bytes) {
    // Non-blocking, so that a FIFO swapped in is refused below instead of waited on.
    FileDescriptor fd(
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0)
        return LastPosixError();
    struct stat facts {};
    if (::fstat(fd.get(), &facts) != 0)
        return LastPosixError();
    if (!S_ISREG(facts.st_mode))
        return SystemError(std::errc::not_supported);
    Status status = WriteAllTo(fd.get(), bytes);
    if (const Status closed = fd.close(); status)
        status = closed;
    return status;
}

} // namespace

AppendFileCalls SystemAppendFileCalls() {
    return AppendFileCalls{CreateEmpty, AppendWhole};
}

} // namespace brindle
