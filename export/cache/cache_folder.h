#pragma once

#include "export/cache/cache_calls.h"
#include "export/error/result.h"

#include <filesystem>

namespace brindle {

// Whether a verdict cache folder may be used. The cache holds the user's paths and tile names,
// and its verdicts decide what an index lists and which file may be replaced, so it is used only
// where nobody else could have read or prepared it.
enum class CacheFolderTrust {
    Usable,
    IsLink,       // the folder is a symbolic link, which could lead anywhere
    NotOwned,     // the folder belongs to another user
    OpenToOthers, // others may write into it, so its files may not be ours
};

// Makes `folder` where it is missing, private from its creation on (0700 on POSIX), and tells
// whether it may be used. A folder of the user's own that others may read but not write (as
// earlier versions made it) is made private; one that others may write to is not used. A
// folder that cannot be made, looked at or written to is a failure with the system's cause.
Result<CacheFolderTrust>
PrepareVerdictCacheFolder(const std::filesystem::path& folder,
                          const CacheWriteCalls& calls = SystemCacheCalls());

} // namespace brindle
