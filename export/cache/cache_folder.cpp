#include "export/cache/cache_folder.h"

#ifndef _WIN32
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brindle {
namespace fs = std::filesystem;

#ifndef _WIN32
namespace {

std::error_code LastError() {
    return {errno, std::generic_category()};
}

} // namespace

CacheFolderCheck PrepareVerdictCacheFolder(const fs::path& folder) {
    std::error_code ec;
    // The folders above are the user's own business; only the cache folder itself is made
    // private, at once, so it is never open to others for a moment.
    if (folder.has_parent_path())
        fs::create_directories(folder.parent_path(), ec);
    if (ec)
        return {CacheFolderTrust::Unavailable, ec};
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {CacheFolderTrust::Unavailable, LastError()};
    struct stat seen {};
    if (::lstat(folder.c_str(), &seen) != 0)
        return {CacheFolderTrust::Unavailable, LastError()};
    if (S_ISLNK(seen.st_mode))
        return {CacheFolderTrust::IsLink, {}};
    if (!S_ISDIR(seen.st_mode))
        return {CacheFolderTrust::Unavailable, std::make_error_code(std::errc::not_a_directory)};
    if (seen.st_uid != ::geteuid())
        return {CacheFolderTrust::NotOwned, {}};
    if ((seen.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {CacheFolderTrust::OpenToOthers, {}};
    if ((seen.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        return {CacheFolderTrust::Unavailable, LastError()};
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return {CacheFolderTrust::Unavailable, LastError()};
    return {CacheFolderTrust::Usable, {}};
}

#else

// The user's local application data folder is the user's alone; only a link there could lead
// elsewhere.
CacheFolderCheck PrepareVerdictCacheFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return {CacheFolderTrust::Unavailable, ec};
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (ec)
        return {CacheFolderTrust::Unavailable, ec};
    if (fs::is_symlink(status))
        return {CacheFolderTrust::IsLink, {}};
    if (!fs::is_directory(status))
        return {CacheFolderTrust::Unavailable, std::make_error_code(std::errc::not_a_directory)};
    return {CacheFolderTrust::Usable, {}};
}

#endif

} // namespace brindle
