#include "export/run/export_order.h"

#include "export/cache/verdict_cache.h"
#include "export/origin/spatial_reference.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The folder's work without the earlier levels' nodes read back after its tiles (the last
// `nodeReads`): only the tiles go back among those the cache gave.
FolderWork WithoutNodeReads(FolderWork work, std::size_t nodeReads) {
    work.tiles.resize(work.tiles.size() - std::min(nodeReads, work.tiles.size()));
    return work;
}

} // namespace

ExportOrder::ExportOrder(const ExportOptions& options, const ExportCalls& calls,
                         SpatialReferences& references)
    : options_(options), calls_(calls), references_(references),
      settings_(options.checkSettings(calls.cancel)), inspector_(settings_.program()),
      relay_(calls.progress),
      verdictSetting_(options.verdictCache.empty() ? 0 : VerdictSetting(settings_)),
      tilesets_(options, settings_, references, locks_,
                calls.startConverter ? ConverterStart(calls.startConverter)
                                     : WorkerConverterStart()) {
    tilesets_.setProgress(relay_.forTilesets());
}

void ExportOrder::exportListed(const std::vector<fs::path>& folders,
                               std::vector<FolderReport>& out) {
    std::vector<fs::path> normal;
    normal.reserve(folders.size());
    for (const fs::path& folder : folders) {
        normal.push_back(ListedFolderPath(folder));
        spellings_.addListing(folder, normal.back());
    }
    tilesets_.setListed(normal);
    exportFolders(normal, {}, 0, out);
}

// A folder listed twice, or a block listed on its own as well, is exported once: where it
// comes first. A repeat known before the scan is not scanned (setAside); one that only turns
// out to be a repeat later (a block that a folder of blocks before it exported) is told so
// when its turn to be written comes (writePlanned).
std::vector<ExportOrder::FolderOutcome>
ExportOrder::exportFolders(const std::vector<fs::path>& folders, const fs::path& master, int depth,
                           std::vector<FolderReport>& out) {
    if (folders.empty())
        return {};
    FolderPlan plan(folders, master, depth);
    plan.progress.folder = spelledFolder(plan, 0);
    TileCheckPool pool(settings_, rootLook(), plan.progress,
                       depth > 0 ? relay_.forBlocks() : relay_.forListed(),
                       SystemWorkerStartCalls(), calls_.readAheadHint);
    planFolders(plan, pool);
    return writeFolders(plan, pool, out);
}

ExportOrder::FolderPlan::FolderPlan(const std::vector<fs::path>& folders, const fs::path& master,
                                    int depth)
    : folders(folders), master(master), depth(depth), firstListings(FirstListings(folders)),
      planned(folders.size()) {
    progress.folderCount = folders.size();
}

const Spelling* ExportOrder::ownSpelling(const FolderPlan& plan, std::size_t i) const {
    return plan.depth == 0 ? spellings_.listing(i) : nullptr;
}

fs::path ExportOrder::spelledFolder(const FolderPlan& plan, std::size_t i) const {
    return spellings_.spelled(plan.folders[i], ownSpelling(plan, i));
}

const ExportOrder::Exported* ExportOrder::exportedBefore(const fs::path& folder) const {
    if (exported_.empty())
        return nullptr;
    const FolderIdentity wanted = IdentifyFolder(folder);
    for (const Exported& earlier : exported_)
        if (SameFolder(earlier.identity, wanted))
            return &earlier;
    return nullptr;
}

void ExportOrder::loadVerdicts(const fs::path& path, PlannedFolder& folder) const {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    if (!ec)
        folder.cache = FolderCache(options_.verdictCache, absolute, verdictSetting_);
}

void ExportOrder::mergeChecked(PlannedFolder& folder, FolderWork checked) {
    folder.scan.work = folder.cache.merge(WithoutNodeReads(std::move(checked), folder.nodeReads));
}

void ExportOrder::keepVerdictsReached(TileCheckPool& pool, std::size_t handle,
                                      PlannedFolder& folder, std::optional<FolderWork> work,
                                      const fs::path& path) {
    if (!work)
        work = pool.takeChecked(handle);
    if (!work || std::none_of(work->tiles.begin(), work->tiles.end(),
                              [](const TileCheck& tile) { return tile.result.checked; }))
        return;
    FolderCache& cache = folder.cache;
    noteCacheWrite(cache.save(cache.merge(WithoutNodeReads(std::move(*work), folder.nodeReads))),
                   path);
}

void ExportOrder::noteCacheWrite(std::error_code saved, const fs::path& folder) {
    if (!saved || cacheNotWritten_)
        return;
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    cacheNotWritten_ =
        Problem{ProblemKind::CacheNotWritten,
                VerdictCacheFileFor(options_.verdictCache, ec ? folder : absolute), saved};
}

} // namespace brindle
