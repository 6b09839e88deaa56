#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace brindle {

// A regular file opened for reading, and nothing else: a path that names (or links to) a
// folder, FIFO, device or socket is refused without blocking on it and without reading a
// byte of it, even if it is swapped in between a look and the open.
class RegularFile {
public:
    enum class Opened { Yes, Missing, NotRegular, Failed };

    RegularFile() = default;
    ~RegularFile();
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Opens `path`; `ec` holds the system's cause for Missing and Failed.
    Opened open(const std::filesystem::path& path, std::error_code& ec);

    bool isOpen() const { return handle_ != kClosed; }
    std::uint64_t size() const { return size_; }

    // Reads up to `count` bytes; fewer only at the end of the file or on an error (`ec`).
    std::size_t read(char* destination, std::size_t count, std::error_code& ec);

    // Moves the read position to `offset` from the start; false when the system refuses.
    bool seek(std::uint64_t offset);

    // Tells the system the whole file will be read soon, where it takes such hints.
    void adviseWillNeed() const;

private:
    void close();

    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
    std::uint64_t size_ = 0;
};

} // namespace brindle
