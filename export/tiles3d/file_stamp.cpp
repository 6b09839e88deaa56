#include "export/tiles3d/file_stamp.h"

#include <cstdio>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace brindle {
namespace fs = std::filesystem;
namespace {

PathKey ResolvedPathKey(const fs::path& file) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(file, error);
    return PathKey::Of((error ? file.lexically_normal() : canonical).generic_u8string());
}

#if !defined(_WIN32)
FileStamp StampOfStat(const struct stat& facts) {
    FileStamp stamp;
    stamp.size = static_cast<std::uint64_t>(facts.st_size);
    stamp.modified = static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1000000000 +
                     static_cast<std::int64_t>(facts.st_mtim.tv_nsec);
    return stamp;
}
#endif

} // namespace

std::optional<FileStamp> StampOf(const fs::path& file) {
#if defined(_WIN32)
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (error || !fs::is_regular_file(status))
        return std::nullopt;
    FileStamp stamp;
    stamp.size = fs::file_size(file, error);
    if (error)
        return std::nullopt;
    const fs::file_time_type modified = fs::last_write_time(file, error);
    if (error)
        return std::nullopt;
    stamp.modified = static_cast<std::int64_t>(modified.time_since_epoch().count());
    return stamp;
#else
    struct stat facts {};
    if (::stat(file.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode))
        return std::nullopt;
    return StampOfStat(facts);
#endif
}

bool HoldsBytes(const fs::path& file, std::uint64_t bytes) {
#if defined(_WIN32)
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(file, error)) &&
           fs::file_size(file, error) == bytes && !error;
#else
    struct stat facts {};
    return ::lstat(file.c_str(), &facts) == 0 && S_ISREG(facts.st_mode) &&
           static_cast<std::uint64_t>(facts.st_size) == bytes;
#endif
}

FileLook LookAtFile(const fs::path& file) {
    FileLook look;
#if defined(_WIN32)
    look.stamp = StampOf(file);
    look.identity = ResolvedPathKey(file);
#else
    struct stat facts {};
    if (::stat(file.c_str(), &facts) != 0)
        return {std::nullopt, ResolvedPathKey(file)};
    if (S_ISREG(facts.st_mode))
        look.stamp = StampOfStat(facts);
    // No path's text begins with a control character and "inode".
    char text[64];
    std::snprintf(text, sizeof text, "\x01inode:%llx:%llx",
                  static_cast<unsigned long long>(facts.st_dev),
                  static_cast<unsigned long long>(facts.st_ino));
    look.identity = PathKey::Of(text);
#endif
    return look;
}

} // namespace brindle
