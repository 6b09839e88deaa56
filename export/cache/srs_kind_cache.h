#pragma once

#include "export/cache/cache_calls.h"
#include "export/error/result.h"
#include "export/export_report.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brindle {

// What earlier runs found spatial references to be, by their text, kept in the user's cache
// folder beside the verdicts: a re-run over folders whose SRS is known then never loads the
// projection library. The kinds are those one library (`library`, the name it is loaded by)
// gave; a file kept under another is ignored whole, as is one that is damaged, cut short, too
// large or not a regular file. The most recently learnt kinds are kept, at most kMaxKinds.
class SrsKindCache {
public:
    using Kinds = std::vector<std::pair<std::string, SrsKind>>;
    static constexpr std::size_t kMaxKinds = 64;

    // No cache: finds nothing, saves nothing.
    SrsKindCache() = default;

    static SrsKindCache Load(const std::filesystem::path& cacheFolder, std::string library);

    // The kinds read, most recently learnt first.
    const Kinds& kinds() const { return kinds_; }

    // Keeps `learnt` in front of those read. Only Projected, Geographic and Unknown are kept:
    // an ENU frame needs no library, and None is no answer.
    void keep(const Kinds& learnt);

    // Writes the kinds when some were kept since loading, atomically, the file the user's
    // alone, in a folder checked as the verdicts' is. No cache or nothing new, no write.
    Status save(const CacheWriteCalls& calls = SystemCacheCalls());

private:
    std::filesystem::path file_; // empty for no cache
    std::string library_;
    Kinds kinds_;
    bool changed_ = false;
};

// The file the kinds are kept in, in `cacheFolder`.
std::filesystem::path SrsKindCacheFile(const std::filesystem::path& cacheFolder);

} // namespace brindle
