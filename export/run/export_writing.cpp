// Writing a planned list of folders, folder by folder as the pool hands each back checked.
#include "export/origin/spatial_reference.h"
#include "export/run/export_order.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"

#include <algorithm>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// What is neither a block nor a tile is left out of a folder of blocks, as of any folder.
void LeaveOutRootlessNonBlocks(const FolderScan& scan, FolderReport& report) {
    for (const LeftOutSubfolder& subfolder : scan.noRoot)
        if (std::none_of(scan.blocks.begin(), scan.blocks.end(),
                         [&](const fs::path& b) { return b.filename() == subfolder.name; }))
            report.leftOut.push_back(subfolder);
}

// Back from an overview index, the levels of ours the new index does not name (all of them,
// but `keep`) are no index's any more.
void RemoveOverviewsNotNamed(FolderReport& report, const fs::path& keep = {}) {
    for (Problem& kept : RemoveOtherOverviews(report.folder, keep))
        report.warnings.push_back(std::move(kept));
}

} // namespace

std::vector<ExportOrder::FolderOutcome>
ExportOrder::writeFolders(FolderPlan& plan, TileCheckPool& pool, std::vector<FolderReport>& out) {
    const std::size_t count = plan.folders.size();
    std::vector<FolderOutcome> outcomes(count);
    std::size_t i = 0;
    std::optional<FolderWork> work;
    for (; i < count; ++i) {
        work = pool.waitFor(i);
        if (!work || settings_.cancelled())
            break;
        mergeChecked(plan.planned[i], std::move(*work));
        work.reset();
        outcomes[i] = writePlanned(plan, i, out);
        if (plan.depth == 0)
            pool.report([&](ExportProgress& p) {
                p.foldersDone = i + 1;
                p.folder = spelledFolder(plan, std::min(i + 1, count - 1));
            });
    }
    handBackUnwritten(plan, i, pool, std::move(work), out);
    return outcomes;
}

void ExportOrder::handBackUnwritten(FolderPlan& plan, std::size_t first, TileCheckPool& pool,
                                    std::optional<FolderWork> work,
                                    std::vector<FolderReport>& out) {
    const std::size_t count = plan.folders.size();
    // What was learned of the folders not written is kept all the same: an interrupted run of
    // a large block may have checked most of its tiles.
    for (std::size_t k = first; k < count && caching(); ++k)
        if (plan.planned[k].queued)
            keepVerdictsReached(pool, k, plan.planned[k],
                                k == first ? std::move(work) : std::nullopt, plan.folders[k]);
    for (std::size_t k = first; k < count; ++k) {
        FolderReport& report = plan.planned[k].report;
        spellings_.respell(report, ownSpelling(plan, k));
        out.push_back(std::move(report));
    }
}

std::optional<fs::path> ExportOrder::firstListingOf(const FolderPlan& plan, std::size_t i) const {
    const std::size_t first = plan.firstListings[i];
    if (first != i)
        return spelledFolder(plan, first);
    if (const Exported* earlier = exportedBefore(plan.folders[i]))
        return spellings_.spelled(earlier->folder, nullptr);
    return std::nullopt;
}

ExportOrder::FolderOutcome ExportOrder::writePlanned(FolderPlan& plan, std::size_t i,
                                                     std::vector<FolderReport>& out) {
    PlannedFolder& folder = plan.planned[i];
    FolderReport& report = folder.report;
    const fs::path& path = plan.folders[i];
    if (std::optional<fs::path> firstListing = firstListingOf(plan, i))
        report = RepeatReport(path, std::move(*firstListing), plan.master);
    else
        writeFirstListing(folder, path, plan.depth, out);
    FolderOutcome outcome{report.status, report.srsKind, report.srs};
    spellings_.respell(report, ownSpelling(plan, i));
    if (calls_.folderDone)
        calls_.folderDone(report);
    out.push_back(std::move(report));
    return outcome;
}

void ExportOrder::writeFirstListing(PlannedFolder& folder, const fs::path& path, int depth,
                                    std::vector<FolderReport>& out) {
    FolderReport& report = folder.report;
    if (report.error) {
        report.status = FolderStatus::Failed;
    } else {
        report.cachedVerdicts = folder.cache.cachedTiles();
        const std::size_t firstBlock = out.size();
        writeFolder(folder, depth, out);
        if (depth == 0 && options_.tilesets.wanted())
            writeTileset(report, out, firstBlock);
        // A cache that cannot be written costs the next run time, and nothing else; the run
        // says so once.
        if (report.status != FolderStatus::Cancelled)
            noteCacheWrite(folder.cache.save(folder.scan.work), path);
    }
    // Written and tidied: the folder is another run's to write.
    folder.lock.reset();
    // Cancelled within its blocks, it was not exported, and may still be later.
    if (report.status != FolderStatus::Cancelled)
        exported_.push_back({path, IdentifyFolder(path), report.status});
}

void ExportOrder::writeFolder(PlannedFolder& folder, int depth, std::vector<FolderReport>& out) {
    FolderReport& report = folder.report;
    FolderScan& scan = folder.scan;
    report.index = options_.index;
    LeaveOutLinksToNewIndex(scan.work, report.indexFile);
    if (scan.ofBlocks) {
        writeBlocks(folder, depth, out);
        return;
    }
    ApplyOrigin(folder.origin, graph_, origin_, report);
    const std::vector<PagedEntry> entries = RecordTiles(scan, report);
    report.error = scan.work.workersFailed;
    if (folder.overview) {
        writeOverview(folder, entries);
        return;
    }
    WriteIndex({graph_, entries, &scan}, indexWriting(), folder.cache, report);
    if (report.status == FolderStatus::Written && !options_.dryRun)
        RemoveOverviewsNotNamed(report);
}

void ExportOrder::writeOverview(PlannedFolder& folder, const std::vector<PagedEntry>& entries) {
    FolderReport& report = folder.report;
    const std::shared_ptr<OverviewBuild> overview = std::move(folder.overview);
    Result<std::vector<std::string>> tops = overview->finish();
    report.overviewHoles = overview->holes();
    if (!tops && !report.error)
        report.error = Problem{ProblemKind::OverviewNotWritten, overview->folder(), tops.error()};
    WriteIndex({graph_, entries, &folder.scan, tops ? &*tops : nullptr}, indexWriting(),
               folder.cache, report);
    if (report.status != FolderStatus::Written)
        return;
    report.overviewPicture = overview->picture();
    // The new index names the new levels only; the old ones go once it is in place.
    overview->commit();
    RemoveOverviewsNotNamed(report, overview->folder());
}

void ExportOrder::writeBlocks(PlannedFolder& folder, int depth, std::vector<FolderReport>& out) {
    FolderReport& report = folder.report;
    const std::vector<fs::path>& blocks = folder.scan.blocks;
    LeaveOutRootlessNonBlocks(folder.scan, report);
    mastersAbove_.insert(mastersAbove_.begin(), report.indexFile);
    const std::vector<FolderOutcome> outcomes =
        exportFolders(blocks, report.folder, depth + 1, out);
    mastersAbove_.erase(mastersAbove_.begin());
    if (settings_.cancelled()) {
        report.status = FolderStatus::Cancelled;
        return;
    }
    report.originSource = OriginSource::Blocks;
    std::vector<SrsOf> blockSrs;
    const std::vector<PagedEntry> entries = recordBlocks(blocks, outcomes, report, blockSrs);
    SortLeftOut(report.leftOut);
    noteBlocksInDifferentSrs(blockSrs, report);
    IndexGraph graph;
    WriteIndex({graph, entries}, indexWriting(), folder.cache, report);
}

std::vector<PagedEntry> ExportOrder::recordBlocks(const std::vector<fs::path>& blocks,
                                                  const std::vector<FolderOutcome>& outcomes,
                                                  FolderReport& report,
                                                  std::vector<SrsOf>& blockSrs) const {
    std::vector<PagedEntry> entries;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const fs::path name = blocks[i].filename();
        // A block exported earlier in the run has its index from then.
        FolderStatus status = outcomes[i].status;
        if (status == FolderStatus::ListedTwice)
            if (const Exported* first = exportedBefore(blocks[i]))
                status = first->status;
        if (status != FolderStatus::Written && status != FolderStatus::DryRun) {
            report.leftOut.push_back({name, TileStatus::BlockNotWritten, {}, 0, {}});
            continue;
        }
        PagedEntry entry;
        entry.name = TileEntryFor({}, *NameText(name), kRootFileName, report.index);
        entry.bound.kind = TileBound::Kind::Unknown;
        entries.push_back(entry);
        report.entries.push_back(entry.name);
        report.blocks.push_back(blocks[i]);
        if (outcomes[i].srsKind != SrsKind::None)
            blockSrs.push_back({blocks[i], outcomes[i].srs});
        if (report.index == IndexKind::Paged)
            report.proxyLeaves.push_back(entry.name);
    }
    return entries;
}

void ExportOrder::noteBlocksInDifferentSrs(const std::vector<SrsOf>& blockSrs,
                                           FolderReport& report) const {
    std::optional<Problem> differ = BlocksInDifferentSrs(report.folder, blockSrs, references_);
    if (!differ)
        return;
    if (options_.strict)
        report.error = std::move(differ);
    else
        report.warnings.push_back(std::move(*differ));
}

void ExportOrder::writeTileset(FolderReport& report, const std::vector<FolderReport>& out,
                               std::size_t firstBlock) {
    if (report.status != FolderStatus::Written && report.status != FolderStatus::DryRun)
        return;
    // The blocks written for this folder of blocks, in its index's order. Their reports are
    // spelled as the user listed the folder already, this one's not yet: the paths are compared
    // as the folders they name.
    const auto same = [](const fs::path& a, const fs::path& b) {
        std::error_code ec;
        return fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal();
    };
    std::vector<const FolderReport*> blocks;
    for (const fs::path& block : report.blocks)
        for (std::size_t i = firstBlock; i < out.size(); ++i)
            if (same(out[i].folder, block) && same(out[i].master, report.folder) &&
                (out[i].status == FolderStatus::Written || out[i].status == FolderStatus::DryRun))
                blocks.push_back(&out[i]);
    tilesets_.write(report, blocks);
}

IndexWriting ExportOrder::indexWriting() {
    return {options_.index, options_.dryRun, settings_, inspector_, calls_.confirmReplace};
}

} // namespace brindle
