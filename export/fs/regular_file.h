#pragma once

#include "export/error/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace brindle {

// Every system cause the library returns is in the system category: the one Windows' own
// calls give, and the one a tile-check worker's cause is read back in. On POSIX an errno
// value means the same there as in the generic category, where std::filesystem and
// std::make_error_code put theirs, so such a cause is moved over with its value. On Windows
// an errno value is no Windows error number, and such a cause stays as it is.
std::error_code SystemError(int value);
std::error_code SystemError(std::error_code cause);
std::error_code SystemError(std::errc condition);

// What one look at a path tells, following links: its type, its size, which file it is, and
// when it last changed.
struct FileFacts {
    std::filesystem::file_type type = std::filesystem::file_type::none;
    std::uint64_t size = 0;
    std::uint64_t device = 0; // with `inode`, the same for two paths to one file; both 0
    std::uint64_t inode = 0;  // where the system tells no such identity
    // Nanoseconds since 1970: when the file's bytes were last written (which anyone may set
    // back by hand), and when the file last changed in any way, its bytes, its times or its
    // links (which only the system sets). 0 where the system tells no such time.
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};

// What a look asks for besides the type and the size: which file it is. On Windows that is a
// query of the file's volume as well, many times the cost of the rest (under Wine a round trip
// to another process); without it `device` and `inode` are 0 there.
enum class Look { WithIdentity, TypeAndSize };

// Looks at `path` once. A missing path gives type not_found and no error.
Result<FileFacts> LookAt(const std::filesystem::path& path, Look look = Look::WithIdentity);

// A folder held open for looks at the files under it by their paths relative to it, so that
// the system does not walk the folder's own path again at each look: a block's scan takes a
// look a tile. POSIX only; on Windows, or when the folder cannot be opened, isOpen() is false
// and the caller looks at the joined path instead.
class OpenFolder {
public:
    explicit OpenFolder(const std::filesystem::path& folder);
    ~OpenFolder();
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    bool isOpen() const { return handle_ >= 0; }

    // Looks at `relative` under the folder once, as LookAt looks at the joined path; only
    // while isOpen().
    Result<FileFacts> lookAt(const std::filesystem::path::value_type* relative) const;

private:
    int handle_ = -1;
};

// True when both name one and the same file, as far as the system tells.
bool SameFile(const FileFacts& a, const FileFacts& b);

// True when `now` is the file `before` was, a regular file unchanged since: same identity,
// size, write time and change time. False whenever the system tells no identity or no change
// time, since then a change could go unseen.
bool Unchanged(const FileFacts& before, const FileFacts& now);

// True when `path` itself leads elsewhere, looked at without following it: a symbolic link,
// or on Windows any reparse point (a junction or mount point as well).
bool IsLink(const std::filesystem::path& path);

// The absolute path of what `path` names, with every link on the way followed, spelled as the
// system spells it.
Result<std::filesystem::path> ResolvedPath(const std::filesystem::path& path);

// True when `cause` says that a path, or a folder on its way, is not there.
bool IsMissing(std::error_code cause);

// A regular file opened for reading, and nothing else: a path that names (or links to) a
// folder, FIFO, device or socket is refused without blocking on it and without reading a
// byte of it, even if it is swapped in between a look and the open.
class RegularFile {
public:
    enum class Opened { Yes, NotRegular };

    RegularFile() = default;
    ~RegularFile();
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Opens `path`: Yes, or NotRegular for anything but a regular file (nothing stays open
    // then). A path that is not there is a failure whose cause IsMissing() tells.
    Result<Opened> open(const std::filesystem::path& path);

    bool isOpen() const { return handle_ != kClosed; }
    std::uint64_t size() const { return size_; }

    // Reads up to `count` bytes, fewer only at the end of the file. On a failure the bytes
    // read before it are in `destination` but not counted.
    Result<std::size_t> read(char* destination, std::size_t count);

    // Moves the read position to `offset` from the start.
    Status seek(std::uint64_t offset);

    // Tells the system the whole file will be read soon, where it takes such hints.
    void adviseWillNeed() const;
#ifdef _WIN32
    static constexpr bool kTakesHints = false;
#else
    static constexpr bool kTakesHints = true;
#endif

private:
    void close();

    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
    std::uint64_t size_ = 0;
};

// The bytes of `path` read whole, as RegularFile opens it: nothing when it is not a regular
// file, holds more than `most` bytes, cannot be read, or grows or shrinks while it is read.
std::optional<std::string> ReadWholeRegularFile(const std::filesystem::path& path,
                                                std::uint64_t most);

} // namespace brindle
