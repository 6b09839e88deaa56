#include "export/cache/cache_folder.h"

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brindle {
namespace fs = std::filesystem;

#ifndef _WIN32

// The cache's causes are in the generic category, as the standard library's are, which the
// folder's preparation mixes with its own.
std::error_code CacheCallError() {
    return {errno, std::generic_category()};
}

CacheWriteCalls SystemCacheCalls() {
    CacheWriteCalls calls;
    calls.mkdir = ::mkdir;
    calls.lstat = ::lstat;
    calls.chmod = ::chmod;
    calls.access = ::access;
    calls.utimensat = ::utimensat;
    calls.file = SystemFileCalls();
    return calls;
}

Result<CacheFolderTrust> PrepareVerdictCacheFolder(const fs::path& folder,
                                                   const CacheWriteCalls& calls) {
    std::error_code ec;
    // The folders above are the user's own business; only the cache folder itself is made
    // private, at once, so it is never open to others for a moment.
    if (folder.has_parent_path())
        fs::create_directories(folder.parent_path(), ec);
    if (ec)
        return ec;
    if (calls.mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return CacheCallError();
    struct stat seen {};
    if (calls.lstat(folder.c_str(), &seen) != 0)
        return CacheCallError();
    if (S_ISLNK(seen.st_mode))
        return CacheFolderTrust::IsLink;
    if (!S_ISDIR(seen.st_mode))
        return std::make_error_code(std::errc::not_a_directory);
    if (seen.st_uid != ::geteuid())
        return CacheFolderTrust::NotOwned;
    if ((seen.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return CacheFolderTrust::OpenToOthers;
    if ((seen.st_mode & 077) != 0 && calls.chmod(folder.c_str(), 0700) != 0)
        return CacheCallError();
    if (calls.access(folder.c_str(), W_OK | X_OK) != 0)
        return CacheCallError();
    return CacheFolderTrust::Usable;
}

#else

CacheWriteCalls SystemCacheCalls() {
    CacheWriteCalls calls;
    calls.file = SystemFileCalls();
    return calls;
}

// The user's local application data folder is the user's alone; only a link there could lead
// elsewhere.
Result<CacheFolderTrust> PrepareVerdictCacheFolder(const fs::path& folder, const CacheWriteCalls&) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (ec)
        return ec;
    if (fs::is_symlink(status))
        return CacheFolderTrust::IsLink;
    if (!fs::is_directory(status))
        return std::make_error_code(std::errc::not_a_directory);
    return CacheFolderTrust::Usable;
}

#endif

} // namespace brindle
