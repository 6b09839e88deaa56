#pragma once

#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace brindle {

// The system calls a folder's listing makes, which tests make fail on demand;
// SystemListingCalls() gives the real ones. On Windows the listing goes through the standard
// library alone.
struct FolderListingCalls {
#ifndef _WIN32
    DIR* (*opendir)(const char* folder) = nullptr;
    dirent* (*readdir)(DIR* listing) = nullptr;
    int (*closedir)(DIR* listing) = nullptr;
    int (*fstatat)(int folder, const char* name, struct stat* seen, int flags) = nullptr;
#endif
};
FolderListingCalls SystemListingCalls();

} // namespace brindle
