#include "export/run/folder_cache.h"

#include "export/scan/tile_root.h"

#include <osg/Version>

#include <algorithm>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The key of a tile's root file in its folder's cache: "<subfolder>/<root file>", in the
// protocol's text for paths.
std::string TileKey(const TileCheck& tile) {
    std::string name = RequestPathText(tile.folder.filename());
    std::string key = name;
    key += '/';
    if (tile.listed())
        key += RequestPathText(tile.listedRoot);
    else if (tile.rootName == TileRootName::Root)
        key += kRootFileName;
    else
        key += name + ".osgb";
    return key;
}

// The folder's own index has a key no tile's can have: one without a folder.
const std::string kOwnIndexKey = kRootFileName;

std::int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The verdict a check came to, when it rests on the tile's bytes alone: it loads, or it does
// not for a reason in those bytes. Not what depends on the moment or the machine (a read
// error, a crash, a deadline, a memory ceiling, a worker that could not start), nor what
// depends on other files (the files it names, a link to the folder's own index).
std::optional<KeptTileOutcome> LastingVerdict(const TileResult& result) {
    const TileOutcome& outcome = result.outcome;
    if (result.rechecked || result.followsOthers)
        return std::nullopt;
    KeptTileOutcome verdict;
    if (outcome.reason == TileStatus::Valid) {
        verdict.loads = true;
    } else if (outcome.reason == TileStatus::LoadFailed && !outcome.cause &&
               outcome.loadFailure != LoadFailure::None) {
        verdict.loadFailure = outcome.loadFailure;
        verdict.readerText = outcome.readerText;
    } else {
        return std::nullopt;
    }
    verdict.bound = result.bound;
    return verdict;
}

TileOutcome OutcomeOf(const KeptTileOutcome& verdict) {
    TileOutcome outcome;
    if (verdict.loads) {
        outcome.reason = TileStatus::Valid;
        return outcome;
    }
    outcome.reason = TileStatus::LoadFailed;
    outcome.loadFailure = verdict.loadFailure;
    outcome.readerText = verdict.readerText;
    return outcome;
}

} // namespace

std::uint64_t VerdictSetting(const CheckSettings& settings) {
    SettingHash hash;
    hash.add(BRINDLE_VERSION).add(osgGetVersion());
    const FileFacts worker = LookAt(settings.program()).value_or({});
    hash.add(worker.device).add(worker.inode).add(worker.size);
    hash.add(static_cast<std::uint64_t>(worker.modified));
    hash.add(static_cast<std::uint64_t>(worker.changed));
    hash.add(settings.fullValidation ? 1 : 0);
    const TileLimits& limits = settings.limits;
    hash.add(static_cast<std::uint64_t>(limits.deadlineBase.count()));
    hash.add(limits.deadlineBytesPerSecond).add(limits.memoryBase);
    hash.add(limits.memoryPerFileByte).add(limits.memoryMax);
    return hash.value();
}

FolderCache::FolderCache(const fs::path& cacheFolder, const fs::path& folder, std::uint64_t setting)
    : cache_(VerdictCache::Load(cacheFolder, folder, setting)),
      settledBefore_(NowNanoseconds() -
                     std::chrono::duration_cast<std::chrono::nanoseconds>(kSettleTime).count()),
      enabled_(true) {}

bool FolderCache::settled(const FileFacts& file) const {
    return std::max(file.modified, file.changed) < settledBefore_;
}

bool FolderCache::settledAtCheck(const FileFacts& file, std::int64_t checkBegan) const {
    const std::int64_t settle =
        std::chrono::duration_cast<std::chrono::nanoseconds>(kSettleTime).count();
    return std::max(file.modified, file.changed) < std::max(settledBefore_, checkBegan - settle);
}

FolderWork FolderCache::takeCached(FolderWork& work, bool wantBound) {
    lookUp(work, wantBound);
    return takeUnknown(work);
}

void FolderCache::lookUp(FolderWork& work, bool wantBound) {
    const std::size_t tiles = work.tiles.size();
    fromCache_.assign(tiles, false);
    tileVerdicts_.assign(tiles, {});
    asIndex_.assign(tiles, ExistingFileKind::None);
    cached_ = 0;
    keys_.clear();
    keys_.reserve(tiles);
    for (std::size_t i = 0; i < tiles; ++i) {
        TileCheck& tile = work.tiles[i];
        keys_.push_back(TileKey(tile));
        std::optional<CacheEntry> found;
        if (cache_.loaded())
            found = cache_.find(keys_.back());
        bool usable = found && found->tile &&
                      (!wantBound || !found->tile->loads ||
                       found->tile->bound.kind != TileBound::Kind::NotAsked);
        if (usable) {
            // The scan's look, where it took one.
            Result<FileFacts> now = tile.result.facts;
            if (now->type == fs::file_type::none)
                now = LookAt(tile.root());
            // A root that is the folder's own index is the pool's to tell.
            usable = now && Unchanged(found->file, *now) && !SameFile(*now, work.ownIndex);
            if (usable)
                tile.result.facts = *now;
        }
        if (!usable)
            continue;
        fromCache_[i] = true;
        ++cached_;
        asIndex_[i] = found->existing;
        tile.result.outcome = OutcomeOf(*found->tile);
        tile.result.bound = wantBound ? found->tile->bound : TileBound{};
        tileVerdicts_[i] = std::move(*found->tile);
    }
}

void FolderCache::checkAgain(std::size_t tile) {
    if (tile >= fromCache_.size() || !fromCache_[tile])
        return;
    fromCache_[tile] = false;
    --cached_;
    asIndex_[tile] = ExistingFileKind::None;
    tileVerdicts_[tile] = {};
}

FolderWork FolderCache::takeUnknown(FolderWork& work) {
    FolderWork left;
    left.ownIndex = work.ownIndex;
    left.indexesAbove = work.indexesAbove;
    left.searchAbove = work.searchAbove;
    left.checkListener = work.checkListener;
    for (std::size_t i = 0; i < work.tiles.size(); ++i) {
        if (i < fromCache_.size() && fromCache_[i])
            continue;
        // Moved, not copied: the tile comes back in merge(), in its place by its id.
        left.tiles.push_back(std::move(work.tiles[i]));
    }
    whole_ = std::move(work);
    return left;
}

FolderWork FolderCache::merge(FolderWork checked) {
    // A folder queued whole comes back as it is.
    if (!enabled_ || cached_ == 0)
        return checked;
    FolderWork whole = std::move(whole_);
    whole.workersFailed = std::move(checked.workersFailed);
    for (TileCheck& tile : checked.tiles)
        if (tile.id < whole.tiles.size())
            whole.tiles[tile.id] = std::move(tile);
    return whole;
}

std::optional<ExistingFileKind> FolderCache::tileAsIndex(std::size_t tile) const {
    if (tile >= asIndex_.size() || asIndex_[tile] == ExistingFileKind::None)
        return std::nullopt;
    return asIndex_[tile];
}

void FolderCache::keepTileAsIndex(std::size_t tile, ExistingFileKind verdict) {
    if (tile < asIndex_.size())
        asIndex_[tile] = verdict;
}

const std::optional<CacheEntry>& FolderCache::cachedOwnIndex() {
    // Looked up once: its entry comes last, and a second look-up out of order would have the
    // cache map every name.
    if (!ownIndexRead_)
        ownIndexRead_ = cache_.loaded() ? cache_.find(kOwnIndexKey) : std::nullopt;
    return *ownIndexRead_;
}

std::optional<ExistingFileKind> FolderCache::ownIndex(const FileFacts& now) {
    if (!cache_.loaded())
        return std::nullopt;
    const std::optional<CacheEntry>& found = cachedOwnIndex();
    if (!found || found->existing == ExistingFileKind::None || !Unchanged(found->file, now))
        return std::nullopt;
    ownIndexKept_ = found;
    return found->existing;
}

void FolderCache::keepOwnIndex(const FileFacts& before, ExistingFileKind verdict) {
    if (enabled_ && settled(before))
        ownIndexKept_ = CacheEntry{before, std::nullopt, verdict};
}

void FolderCache::keepWrittenIndex(const FileFacts& written, std::uint64_t from,
                                   std::string levels) {
    if (enabled_)
        ownIndexKept_ =
            CacheEntry{written, std::nullopt, ExistingFileKind::IsIndex, from, std::move(levels)};
}

std::string FolderCache::writtenLevels(const FileFacts& now) {
    if (!cache_.loaded())
        return {};
    const std::optional<CacheEntry>& found = cachedOwnIndex();
    if (!found || found->writtenFrom == 0 || !Unchanged(found->file, now) || !settled(found->file))
        return {};
    return found->levels;
}

bool FolderCache::writtenIndexHolds(const FileFacts& now, std::uint64_t from) {
    if (!cache_.loaded() || from == 0)
        return false;
    const std::optional<CacheEntry>& found = cachedOwnIndex();
    return found && found->writtenFrom == from && Unchanged(found->file, now) &&
           settled(found->file);
}

std::error_code FolderCache::save(const FolderWork& work) {
    if (!enabled_)
        return {};
    for (std::size_t i = 0; i < work.tiles.size(); ++i) {
        const TileCheck& tile = work.tiles[i];
        CacheEntry verdicts;
        verdicts.file = tile.result.facts;
        const bool cached = i < fromCache_.size() && fromCache_[i];
        // A tile a cancelled run did not reach has nothing to keep.
        if (!cached && !tile.result.checked)
            continue;
        // A verdict from the cache was settled when kept; it is kept as it was.
        const bool settledFile = cached || settledAtCheck(verdicts.file, tile.result.checkBegan);
        if (cached)
            verdicts.tile = tileVerdicts_[i];
        else if (settledFile)
            verdicts.tile = LastingVerdict(tile.result);
        // Asked later than the check began, on the file as the same look found it.
        if (i < asIndex_.size() && settledFile)
            verdicts.existing = asIndex_[i];
        // The keys the cache was asked with, where the work is the one it was asked for.
        if (keys_.size() == work.tiles.size())
            cache_.keep(keys_[i], verdicts);
        else
            cache_.keep(TileKey(tile), verdicts);
    }
    if (ownIndexKept_)
        cache_.keep(kOwnIndexKey, *ownIndexKept_);
    return cache_.save().error();
}

} // namespace brindle
