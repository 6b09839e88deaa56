#include "export/fs/regular_file.h"

#include <utility>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "export/fs/file_descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brindle {

RegularFile::~RegularFile() {
    close();
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)), size_(other.size_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, kClosed);
        size_ = other.size_;
    }
    return *this;
}

std::error_code SystemError(int value) {
    return {value, std::system_category()};
}

std::error_code SystemError(std::error_code cause) {
#ifndef _WIN32
    if (cause.category() == std::generic_category())
        return SystemError(cause.value());
#endif
    return cause;
}

std::error_code SystemError(std::errc condition) {
    return SystemError(std::make_error_code(condition));
}

bool SameFile(const FileFacts& a, const FileFacts& b) {
    return a.inode != 0 && a.device == b.device && a.inode == b.inode;
}

bool Unchanged(const FileFacts& before, const FileFacts& now) {
    return before.type == std::filesystem::file_type::regular && now.type == before.type &&
           SameFile(before, now) && before.changed != 0 && now.size == before.size &&
           now.modified == before.modified && now.changed == before.changed;
}

std::optional<std::string> ReadWholeRegularFile(const std::filesystem::path& path,
                                                std::uint64_t most) {
    RegularFile file;
    const Result<RegularFile::Opened> opened = file.open(path);
    if (!opened || *opened != RegularFile::Opened::Yes || file.size() > most)
        return std::nullopt;
    // One byte more than its size, so that a file grown since the open is seen.
    std::string bytes(static_cast<std::size_t>(file.size()) + 1, '\0');
    const Result<std::size_t> read = file.read(bytes.data(), bytes.size());
    if (!read || *read != file.size())
        return std::nullopt;
    bytes.resize(*read);
    return bytes;
}

#ifdef _WIN32

namespace {
std::error_code LastError() {
    return SystemError(static_cast<int>(GetLastError()));
}
bool IsMissingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A file time (100 ns steps since 1601) in nanoseconds since 1970; 0 stays 0, "not known".
std::int64_t NanosecondsSince1970(const LARGE_INTEGER& time) {
    constexpr std::int64_t k1601To1970 = 116444736000000000;
    return time.QuadPart == 0 ? 0 : (time.QuadPart - k1601To1970) * 100;
}

// What a path leads to, opened only to read its attributes: a folder opens too (backup
// semantics), links on the way are followed, and no other program's sharing mode refuses it.
class AttributeHandle {
public:
    explicit AttributeHandle(const std::filesystem::path& path)
        : handle_(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~AttributeHandle() {
        if (valid())
            CloseHandle(handle_);
    }
    AttributeHandle(const AttributeHandle&) = delete;
    AttributeHandle& operator=(const AttributeHandle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};
} // namespace

bool IsMissing(std::error_code cause) {
    return cause.category() == std::system_category() &&
           IsMissingError(static_cast<DWORD>(cause.value()));
}

Result<FileFacts> LookAt(const std::filesystem::path& path, Look look) {
    namespace fs = std::filesystem;
    FileFacts facts;
    const AttributeHandle file(path);
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (!IsMissingError(error))
            return SystemError(static_cast<int>(error));
        facts.type = fs::file_type::not_found;
        return facts;
    }
    switch (GetFileType(file.get())) {
    case FILE_TYPE_DISK:
        break;
    case FILE_TYPE_CHAR:
        facts.type = fs::file_type::character;
        return facts;
    case FILE_TYPE_PIPE:
        facts.type = fs::file_type::fifo;
        return facts;
    default:
        facts.type = fs::file_type::unknown;
        return facts;
    }
    if (look == Look::TypeAndSize) {
        FILE_STANDARD_INFO standard{};
        if (!GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard))
            return LastError();
        facts.type = standard.Directory ? fs::file_type::directory : fs::file_type::regular;
        if (!standard.Directory)
            facts.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
        return facts;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info))
        return LastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        facts.type = fs::file_type::directory;
    } else {
        facts.type = fs::file_type::regular;
        facts.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    }
    facts.device = info.dwVolumeSerialNumber;
    facts.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    // The change time only this call tells; a system without it leaves both times 0.
    FILE_BASIC_INFO times{};
    if (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &times, sizeof times)) {
        facts.modified = NanosecondsSince1970(times.LastWriteTime);
        facts.changed = NanosecondsSince1970(times.ChangeTime);
    }
    return facts;
}

bool IsLink(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

Result<std::filesystem::path> ResolvedPath(const std::filesystem::path& path) {
    const AttributeHandle file(path);
    if (!file.valid())
        return LastError();
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(file.get(), name.data(), static_cast<DWORD>(name.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return LastError();
        // Too small a buffer gives the length it needs, its terminating null included.
        const bool fits = length < name.size();
        name.resize(length);
        if (fits)
            break;
    }
    // The system's spelling lifts the length limit with a prefix ("\\?\C:\..." or
    // "\\?\UNC\server\share\..."); without it the name reads as the paths it is compared with.
    if (name.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        name.replace(0, 8, L"\\\\");
    else if (name.compare(0, 4, L"\\\\?\\") == 0)
        name.erase(0, 4);
    return std::filesystem::path(name);
}

Result<RegularFile::Opened> RegularFile::open(const std::filesystem::path& path) {
    close();
    const HANDLE file = CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder cannot be opened without FILE_FLAG_BACKUP_SEMANTICS.
        if (error == ERROR_ACCESS_DENIED &&
            (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) &&
            GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return Opened::NotRegular;
        return SystemError(static_cast<int>(error));
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        close();
        return Opened::NotRegular;
    }
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return Opened::Yes;
}

Result<std::size_t> RegularFile::read(char* destination, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), destination + done, chunk, &got, nullptr))
            return LastError();
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

Status RegularFile::seek(std::uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN))
        return LastError();
    return {};
}

void RegularFile::adviseWillNeed() const {}

void RegularFile::close() {
    if (handle_ != kClosed)
        CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, kClosed)));
}

OpenFolder::OpenFolder(const std::filesystem::path&) {}

OpenFolder::~OpenFolder() = default;

Result<FileFacts> OpenFolder::lookAt(const wchar_t*) const {
    return SystemError(std::errc::function_not_supported);
}

#else

namespace {

// What `::fstatat(folder, path, ...)` tells, following links, as a look.
Result<FileFacts> LookAtRelative(int folder, const char* path) {
    namespace fs = std::filesystem;
    FileFacts facts;
    struct stat info {};
    if (::fstatat(folder, path, &info, 0) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return LastPosixError();
        facts.type = fs::file_type::not_found;
        return facts;
    }
    if (S_ISREG(info.st_mode))
        facts.type = fs::file_type::regular;
    else if (S_ISDIR(info.st_mode))
        facts.type = fs::file_type::directory;
    else if (S_ISFIFO(info.st_mode))
        facts.type = fs::file_type::fifo;
    else if (S_ISSOCK(info.st_mode))
        facts.type = fs::file_type::socket;
    else if (S_ISCHR(info.st_mode))
        facts.type = fs::file_type::character;
    else if (S_ISBLK(info.st_mode))
        facts.type = fs::file_type::block;
    else
        facts.type = fs::file_type::unknown;
    facts.size = static_cast<std::uint64_t>(info.st_size);
    facts.device = static_cast<std::uint64_t>(info.st_dev);
    facts.inode = static_cast<std::uint64_t>(info.st_ino);
    facts.modified = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    facts.changed = std::int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec;
    return facts;
}

} // namespace

bool IsMissing(std::error_code cause) {
    return cause == SystemError(ENOENT) || cause == SystemError(ENOTDIR);
}

Result<FileFacts> LookAt(const std::filesystem::path& path, Look) {
    return LookAtRelative(AT_FDCWD, path.c_str());
}

OpenFolder::OpenFolder(const std::filesystem::path& folder)
    : handle_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

OpenFolder::~OpenFolder() {
    if (handle_ >= 0)
        ::close(handle_);
}

Result<FileFacts> OpenFolder::lookAt(const char* relative) const {
    return LookAtRelative(handle_, relative);
}

bool IsLink(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec));
}

Result<std::filesystem::path> ResolvedPath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (ec)
        return SystemError(ec);
    return resolved;
}

Result<RegularFile::Opened> RegularFile::open(const std::filesystem::path& path) {
    close();
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // A FIFO without a writer, or a device that refuses readers.
        if (errno == ENXIO || errno == ENODEV || errno == EISDIR)
            return Opened::NotRegular;
        return LastPosixError();
    }
    handle_ = fd;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const std::error_code cause = LastPosixError();
        close();
        return cause;
    }
    if (!S_ISREG(info.st_mode)) {
        close();
        return Opened::NotRegular;
    }
    // Reads of a regular file never block anyway; clear the flag so none ever returns EAGAIN.
    // O_NONBLOCK is the only status flag the file was opened with, so no read of them first.
    fcntl(fd, F_SETFL, 0);
    size_ = static_cast<std::uint64_t>(info.st_size);
    return Opened::Yes;
}

Result<std::size_t> RegularFile::read(char* destination, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(static_cast<int>(handle_), destination + done, count - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return LastPosixError();
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Status RegularFile::seek(std::uint64_t offset) {
    if (::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0)
        return LastPosixError();
    return {};
}

void RegularFile::adviseWillNeed() const {
#ifdef POSIX_FADV_WILLNEED
    if (handle_ != kClosed)
        posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_WILLNEED);
#endif
}

void RegularFile::close() {
    if (handle_ != kClosed)
        ::close(static_cast<int>(std::exchange(handle_, kClosed)));
}

#endif

} // namespace brindle
