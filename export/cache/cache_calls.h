#pragma once

#include "export/fs/atomic_file.h"

#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#endif

namespace brindle {

// The system calls the verdict cache's writes make, its folder's preparation included, which
// tests make fail on demand; SystemCacheCalls() gives the real ones. On Windows the folder is
// prepared through the standard library alone.
struct CacheWriteCalls {
#ifndef _WIN32
    int (*mkdir)(const char* path, mode_t mode) = nullptr;
    int (*lstat)(const char* path, struct stat* seen) = nullptr;
    int (*chmod)(const char* path, mode_t mode) = nullptr;
    int (*access)(const char* path, int how) = nullptr;
    int (*utimensat)(int folder, const char* path, const struct timespec times[2],
                     int flags) = nullptr;
#endif
    AtomicFileCalls file; // the cache file's own replacement
};
CacheWriteCalls SystemCacheCalls();

#ifndef _WIN32
// What errno says after a failed call of these, as the cache reports it.
std::error_code CacheCallError();
#endif

} // namespace brindle
