// Planning a list of folders: each scanned, its origin read, its cached verdicts taken and
// the rest of its tiles queued in the pool, before any folder is written.
#include "export/existing_index/existing_index_guard.h"
#include "export/fs/scratch_file.h"
#include "export/overview/earlier_levels.h"
#include "export/run/export_order.h"

#include <algorithm>
#include <iterator>
#include <thread>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// What the overview levels need of a tile's check.
LevelsCheck LevelsCheckOf(const TileResult& result) {
    LevelsCheck check{result.facts, result.outcome.reason, std::nullopt};
    const TileBound& bound = result.bound;
    if (bound.kind == TileBound::Kind::Known && bound.radius > 0) {
        const Extent extent{bound.centre[0] - bound.radius, bound.centre[1] - bound.radius,
                            bound.centre[0] + bound.radius, bound.centre[1] + bound.radius};
        if (extent.IsUsable())
            check.bound = extent;
    }
    return check;
}

// Hands each tile's summary to the folder's overview levels as its check ends.
class OverviewListener final : public TileCheckListener {
public:
    explicit OverviewListener(std::shared_ptr<OverviewBuild> build) : build_(std::move(build)) {}
    void tileChecked(std::size_t tile, const TileResult& result) override {
        build_->tileChecked(tile, LevelsCheckOf(result), result.summaryState, result.summary);
    }

private:
    const std::shared_ptr<OverviewBuild> build_;
};

} // namespace

void ExportOrder::planFolders(FolderPlan& plan, TileCheckPool& pool) {
    // Without a cache every tile is checked: the workers start while the scan runs. With one,
    // they start as soon as a folder turns out to have no cache, or tiles to check.
    if (!caching())
        pool.startWorkers();
    for (std::size_t i = 0; i < plan.folders.size(); ++i)
        planFolder(plan, i, pool);
    pool.finish();
}

void ExportOrder::planFolder(FolderPlan& plan, std::size_t i, TileCheckPool& pool) {
    PlannedFolder& folder = plan.planned[i];
    folder.report.master = plan.master;
    // The pool hands folders back by the order they were added in: handle i is folder i. A
    // folder set aside is queued empty, so that its handle keeps its place.
    if (setAside(plan, i)) {
        pool.add(FolderWork{});
        return;
    }
    if (caching()) {
        loadVerdicts(plan.folders[i], folder);
        if (!folder.cache.loaded())
            pool.startWorkers();
    }
    scanPlanned(plan, i);
    // A tile the cache has no verdict on is checked whatever the overview takes from its
    // earlier levels: the workers start while it works that out.
    if (caching() && folder.overview && folder.cache.cachedTiles() < folder.scan.work.tiles.size())
        pool.startWorkers();
    folder.queued = !folder.report.error;
    pool.add(workToCheck(folder));
}

bool ExportOrder::setAside(FolderPlan& plan, std::size_t i) {
    const fs::path& path = plan.folders[i];
    if (plan.firstListings[i] != i || exportedBefore(path))
        return true;
    if (options_.dryRun)
        return false;
    PlannedFolder& folder = plan.planned[i];
    std::optional<Problem> busy = locks_.take(path, folder.lock);
    if (!busy)
        return false;
    folder.report.folder = path;
    folder.report.indexFile = path / kRootFileName;
    folder.report.error = std::move(busy);
    return true;
}

void ExportOrder::scanPlanned(FolderPlan& plan, std::size_t i) {
    PlannedFolder& folder = plan.planned[i];
    FolderReport& report = folder.report;
    FolderScan& scan = folder.scan;
    ScanFolder(plan.folders[i], report, scan, rootLook(), plan.depth < kMaxBlockDepth);
    SetWayDown(scan.work, report.indexFile, mastersAbove_);
    if (plan.depth == 0 && !report.error && !scan.ofBlocks)
        tilesets_.readAhead(plan.folders[i]);
    if (!report.error && !scan.ofBlocks)
        readOrigin(folder);
    if (options_.index == IndexKind::Overview && !options_.dryRun && !report.error &&
        !scan.ofBlocks && !scan.work.tiles.empty()) {
        // The tiles' verdicts are looked up before the index's, in the order the cache keeps
        // them.
        if (caching())
            folder.cache.lookUp(scan.work, true);
        startOverview(folder);
    }
}

void ExportOrder::readOrigin(PlannedFolder& folder) const {
    FolderReport& report = folder.report;
    folder.origin = ReadFolderOrigin(report.folder, references_, [this](const Problem& why) {
        return Confirmed(why, calls_.confirmReplace);
    });
    if (!folder.origin.refused)
        return;
    report.error = folder.origin.refused;
    report.srs = folder.origin.srs;
    report.srsKind = folder.origin.srsKind;
}

void ExportOrder::startOverview(PlannedFolder& folder) {
    FolderReport& report = folder.report;
    EarlierLevels earlier;
    FolderCache& cache = folder.cache;
    const IndexLevelsLookup lookup{
        [&cache](const FileFacts& index) { return cache.writtenLevels(index); },
        [&](const fs::path& index) {
            return ExistingIndexNames(index, inspector_, cache, settings_);
        }};
    earlier.folder = LevelsTheIndexNames(report.folder, report.indexFile, lookup);
    // With the cache, the run knows before any tile is read whether the levels can stay.
    earlier.keepIfUnchanged = caching();
    std::vector<LevelsTile> tiles;
    tiles.reserve(folder.scan.work.tiles.size());
    for (const TileCheck& tile : folder.scan.work.tiles)
        tiles.push_back({tile.folder.filename(), tile.rootFileName()});
    // The held summaries wait in the cache folder where there is one: the system's temporary
    // folder is often memory.
    Result<std::shared_ptr<OverviewBuild>> started = OverviewBuild::Start(
        report.folder, folder.scan.entryPrefix, tiles,
        std::max(1u, settings_.jobs ? settings_.jobs : std::thread::hardware_concurrency()),
        SystemScratchFileCalls(), options_.verdictCache, earlier);
    if (!started) {
        report.error = Problem{ProblemKind::OverviewNotWritten, report.folder, started.error()};
        return;
    }
    folder.overview = std::move(*started);
    folder.scan.work.checkListener = std::make_shared<OverviewListener>(folder.overview);
}

FolderWork ExportOrder::workToCheck(PlannedFolder& folder) {
    if (folder.report.error)
        return FolderWork{};
    if (caching() && folder.overview)
        return takeCachedForOverview(folder);
    if (caching())
        return folder.cache.takeCached(folder.scan.work, options_.index == IndexKind::Paged);
    return std::move(folder.scan.work);
}

FolderWork ExportOrder::takeCachedForOverview(PlannedFolder& folder) {
    FolderCache& cache = folder.cache;
    FolderWork& whole = folder.scan.work;
    const std::size_t tileCount = whole.tiles.size();
    std::vector<std::optional<LevelsCheck>> cached(tileCount);
    for (std::size_t t = 0; t < cached.size(); ++t)
        if (cache.fromCache(t))
            cached[t] = LevelsCheckOf(whole.tiles[t].result);
    OverviewBuild::TakenFromEarlier taken = folder.overview->takeUnchanged(cached);
    // The tiles beside a changed one are read again: the node above them is new, and is made
    // from their summaries, which no verdict kept holds.
    for (const std::size_t tile : taken.checkAgain)
        cache.checkAgain(tile);
    FolderWork left = cache.takeUnknown(whole);
    // The earlier nodes a new node is built over whose summaries were not kept are read back
    // by the same workers, after the tiles, their ids after the tiles'; the writing takes back
    // only the tiles.
    folder.nodeReads = taken.nodeFilesToRead.size();
    for (const OverviewBuild::TakenFromEarlier::NodeRead& read : taken.nodeFilesToRead) {
        TileCheck node;
        node.id = read.id;
        node.folder = folder.overview->folder();
        node.listedRoot = read.file;
        node.levelFile = true;
        left.tiles.push_back(std::move(node));
    }
    return left;
}

} // namespace brindle
