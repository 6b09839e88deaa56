#pragma once

#include "export/cache/cache_calls.h"
#include "export/error/result.h"
#include "export/export_report.h"
#include "export/fs/regular_file.h"
#include "export/hash/fnv1a.h"
#include "export/protocol/tile_check_protocol.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace brindle {

// What a worker found a file to be, as an index about to be replaced: the verdicts that rest
// on the file's bytes alone.
enum class ExistingFileKind : std::uint8_t {
    None = 0,        // not asked, or the answer rested on more than the file
    IsIndex = 1,     // it loads and holds only groups, transforms and references
    HoldsScene = 2,  // it loads and holds drawables
    DoesNotLoad = 3, // it does not parse
};

// A tile check's verdict that rests on the tile's own bytes alone: it loads, or it does not
// for a reason those bytes give.
struct KeptTileOutcome {
    bool loads = false;
    LoadFailure loadFailure = LoadFailure::None; // when it does not load
    std::string readerText;                      // for ReaderError
    TileBound bound;                             // kind NotAsked when the check did not ask
};

// What the checks of one file came to, and the file as it was before they looked at it.
struct CacheEntry {
    FileFacts file;
    std::optional<KeptTileOutcome> tile;
    ExistingFileKind existing = ExistingFileKind::None;
    // For a folder's own index as this program wrote it, or left it in place: a hash of what
    // it was written from (IndexHash); 0 for none.
    std::uint64_t writtenFrom = 0;
    // For an overview index as this program wrote it: the name of the folder of levels it
    // names, so that a re-run knows them without parsing the index. Empty for none.
    std::string levels{};
};

// The verdicts of one listed folder's files, kept in a file of their own from run to run so
// that a file unchanged since its check is not parsed again. Each verdict is kept with the
// file's identity and change stamp as they were before it was checked, and is given back only
// while the file still has them: any write to the file, even one whose size and write time are
// then set back, changes its change time.
//
// The cache file is read whole or not at all: one that is missing, damaged, cut short, too
// large, not a regular file, of another format or written under another `setting` (the
// checker's version and the checks' mode, which decide the verdicts) is ignored and replaced
// when the run saves. Saving keeps only what was put since loading, so a folder's file holds
// the files present at its last run.
class VerdictCache {
public:
    // No cache: finds nothing, saves nothing.
    VerdictCache() = default;

    // The cache of `folder` (an absolute path) in `cacheFolder`.
    static VerdictCache Load(const std::filesystem::path& cacheFolder,
                             const std::filesystem::path& folder, std::uint64_t setting);

    // True when a cache file was read: the earlier run's verdicts are there to use.
    bool loaded() const { return !bytes_.empty(); }

    // The verdicts read for `name`, with the file as it was before they were taken; they hold
    // only while Unchanged(found->file, the file now).
    std::optional<CacheEntry> find(std::string_view name) const;

    // Keeps `verdicts` for the next run. Nothing is kept for a file with no identity or no
    // change time from the system, or with nothing worth keeping.
    void keep(std::string_view name, const CacheEntry& verdicts);

    // Writes what was kept, atomically, unless it is what was read (then only the file's time
    // is renewed, as the least recently used files are the first dropped). No cache, no write.
    // The folder is made private where it is missing, and not written into where it may not
    // be trusted (PrepareVerdictCacheFolder); the file is the user's alone. A write that
    // fails leaves the file as it was.
    Status save(const CacheWriteCalls& calls = SystemCacheCalls());

    const std::filesystem::path& file() const { return file_; }

private:
    // Renews the file's time, when what was kept is what was read.
    Status renew(const CacheWriteCalls& calls) const;

    struct Read {
        std::string_view name;
        std::size_t offset; // of the entry's stamp in bytes_
    };

    std::optional<CacheEntry> decode(std::size_t offset) const;
    const Read* lookUp(std::string_view name) const;

    std::filesystem::path file_; // empty for no cache
    std::string folderKey_;      // the folder's path, as stored in the file
    std::uint64_t setting_ = 0;
    std::string bytes_; // the file read, which `names_` point into; empty when unusable
    std::vector<Read> names_;
    // Lookups come in the order the entries were written, so the next one is tried first,
    // and a map by name is built only when the order differs.
    mutable std::size_t cursor_ = 0;
    mutable std::unordered_map<std::string_view, std::size_t> byName_;
    std::string kept_; // the entries kept, encoded
    std::size_t keptCount_ = 0;
};

// Where the user's verdict caches go: $XDG_CACHE_HOME/brindle or ~/.cache/brindle on POSIX,
// %LOCALAPPDATA%\brindle\cache on Windows. Empty when none of these is known.
std::filesystem::path DefaultVerdictCacheFolder();

// The cache file that holds the verdicts of `folder` (an absolute path) in `cacheFolder`.
std::filesystem::path VerdictCacheFileFor(const std::filesystem::path& cacheFolder,
                                          const std::filesystem::path& folder);

// Drops the least recently used cache files of `cacheFolder` until the rest take at most
// `budget` bytes, and temporary files a killed run left there.
void TrimVerdictCache(const std::filesystem::path& cacheFolder, std::uint64_t budget);

// The bytes a whole cache folder may take.
constexpr std::uint64_t kVerdictCacheBudget = std::uint64_t{256} << 20;

// A hash of the bytes fed to it, for settings and names: not for security.
class SettingHash {
public:
    SettingHash& add(std::string_view bytes);
    SettingHash& add(std::uint64_t value);
    std::uint64_t value() const { return hash_.value(); }

private:
    Fnv1a hash_;
};

} // namespace brindle
