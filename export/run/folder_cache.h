#pragma once

#include "export/cache/verdict_cache.h"
#include "export/existing_index/existing_index_guard.h"
#include "export/isolation/check_settings.h"
#include "export/tile/tile_check.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace brindle {

// What decides the verdicts a cache may give back to this run: this program's version, the
// worker program as it is on disk now, the parse mode and the limits a check runs under.
std::uint64_t VerdictSetting(const CheckSettings& settings);

// A verdict is kept only for a file that had not changed for this long before its check began
// (or the folder's scan, for what the cache gave): a file's times step by a clock tick, so a
// file written twice within one tick, once before and once after its check read it, would
// show the same stamp both times. A block copied just before a run has its tiles checked
// later than that, all but the first few, whose verdicts wait for the next run.
constexpr std::chrono::milliseconds kSettleTime{1000};

// One listed folder's verdict cache through a run: read before the folder's scan, asked for
// each tile before the tiles go to the pool and for an existing index before a worker is,
// and written once the folder is done, with the verdicts of the files present now.
class FolderCache : public OwnIndexMemory {
public:
    // No cache: nothing is found or kept.
    FolderCache() = default;
    FolderCache(const std::filesystem::path& cacheFolder, const std::filesystem::path& folder,
                std::uint64_t setting);

    // True when the folder's cache file was read.
    bool loaded() const { return cache_.loaded(); }

    // Takes out of `work`, as scanned, every tile whose root file is unchanged since the
    // cache's verdict on it (with its bound, when `wantBound`), and gives back the tiles left
    // to check, in scan order: moved out of `work`, until merge() puts them back.
    FolderWork takeCached(FolderWork& work, bool wantBound);
    // takeCached() in two steps, so that some tiles can be checked again in between: puts
    // the cache's verdicts into `work` in place; then gives back, moved out of it, the tiles
    // left to check.
    void lookUp(FolderWork& work, bool wantBound);
    FolderWork takeUnknown(FolderWork& work);
    // Between the two: tile `tile` is checked after all, its verdict from the cache unused.
    void checkAgain(std::size_t tile);

    // The folder's whole work again: the tiles checked put back among those from the cache,
    // each in its place by its id, in scan order.
    FolderWork merge(FolderWork checked);

    // How many tiles' verdicts came from the cache.
    std::size_t cachedTiles() const { return cached_; }
    // True when tile `tile`'s verdict came from the cache rather than a check this run.
    bool fromCache(std::size_t tile) const { return tile < fromCache_.size() && fromCache_[tile]; }

    // Tile `tile`'s verdict as an existing index, when the cache has one for its root file
    // as the check found it; and the verdict a worker gave this run.
    std::optional<ExistingFileKind> tileAsIndex(std::size_t tile) const;
    void keepTileAsIndex(std::size_t tile, ExistingFileKind verdict);

    // The folder's own index: its verdict when the file is unchanged since the cache's (kept
    // again, as it was), and the verdict a worker gave on the file as it was before it looked
    // (`before`).
    std::optional<ExistingFileKind> ownIndex(const FileFacts& now) override;
    void keepOwnIndex(const FileFacts& before, ExistingFileKind verdict) override;
    // The index the run wrote, or left in place, as it lies on disk, and the hash of what it
    // was written from (IndexHash): an index, settled or not, since the run read it back. For
    // an overview index, `levels` is the name of the folder of levels it names.
    void keepWrittenIndex(const FileFacts& written, std::uint64_t from, std::string levels = {});
    // The name of the folder of levels the folder's own index, as it is `now`, names: when it
    // is an overview index an earlier run wrote, untouched since and settled. Empty otherwise.
    std::string writtenLevels(const FileFacts& now) override;
    // True when the folder's own index, as it is `now`, is one an earlier run wrote from what
    // hashes to `from`, untouched since and settled: writing again would give the same bytes.
    bool writtenIndexHolds(const FileFacts& now, std::uint64_t from);

    // Writes the verdicts on the tiles of `work` (the whole folder) and on its own index.
    [[nodiscard]] std::error_code save(const FolderWork& work);

private:
    bool settled(const FileFacts& file) const;
    // True when `file`, as the look before its check found it, had not changed for the settle
    // time when that check began (`checkBegan`, TileResult's): no later write can show its
    // stamp.
    bool settledAtCheck(const FileFacts& file, std::int64_t checkBegan) const;
    const std::optional<CacheEntry>& cachedOwnIndex();

    VerdictCache cache_;
    std::int64_t settledBefore_ = 0; // nanoseconds since 1970
    bool enabled_ = false;
    FolderWork whole_;                          // the tiles from the cache, until merged
    std::vector<std::string> keys_;             // per tile: its key in the cache
    std::vector<bool> fromCache_;               // per tile
    std::vector<KeptTileOutcome> tileVerdicts_; // per tile from the cache
    std::vector<ExistingFileKind> asIndex_;     // per tile
    std::size_t cached_ = 0;
    std::optional<CacheEntry> ownIndexKept_;
    std::optional<std::optional<CacheEntry>> ownIndexRead_; // once looked up
};

} // namespace brindle
