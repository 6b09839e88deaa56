#include "export/export_run.h"

#include "export/cache/cache_folder.h"
#include "export/cache/srs_kind_cache.h"
#include "export/cache/verdict_cache.h"
#include "export/origin/spatial_reference.h"
#include "export/run/export_order.h"

#include <algorithm>
#include <optional>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// Why the run does not use the verdict cache folder `folder`, if it does not.
std::optional<Problem> ProblemWithCacheFolder(const fs::path& folder) {
    const Result<CacheFolderTrust> trust = PrepareVerdictCacheFolder(folder);
    if (!trust)
        return Problem{ProblemKind::CacheFolderUnusable, folder, trust.error()};
    switch (*trust) {
    case CacheFolderTrust::Usable:
        return std::nullopt;
    case CacheFolderTrust::IsLink:
        return Problem{ProblemKind::CacheFolderIsLink, folder, {}};
    case CacheFolderTrust::NotOwned:
        return Problem{ProblemKind::CacheFolderNotOwned, folder, {}};
    case CacheFolderTrust::OpenToOthers:
        return Problem{ProblemKind::CacheFolderOpenToOthers, folder, {}};
    }
    return std::nullopt;
}

// The options the run goes by: a cache folder that is not safe to trust, or cannot be made,
// is not used, so that every tile is checked, as without a cache, and the run says why once.
ExportOptions UsableOptions(const ExportOptions& options, ExportReport& report) {
    ExportOptions usable = options;
    // A tileset's top levels are the overview's.
    if (options.tilesets.wanted())
        usable.index = IndexKind::Overview;
    if (options.verdictCache.empty())
        return usable;
    if (std::optional<Problem> unusable = ProblemWithCacheFolder(options.verdictCache)) {
        report.warnings.push_back(std::move(*unusable));
        usable.verdictCache.clear();
    }
    return usable;
}

} // namespace

CheckSettings ExportOptions::checkSettings(const std::atomic<bool>* cancel) const {
    CheckSettings settings;
    settings.limits = limits;
    settings.readAhead = readAhead;
    settings.fullValidation = fullValidation;
    // Tiles without a grid name take their place on an overview by their bounds.
    settings.wantBound = index == IndexKind::Paged || index == IndexKind::Overview;
    settings.jobs = jobs;
    settings.workerProgram = workerProgram;
    settings.cancel = cancel;
    return settings;
}

ExportReport ExportFolderIndexes(const std::vector<fs::path>& folders, const ExportOptions& options,
                                 const ExportCalls& calls) {
    ExportReport report;
    if (folders.empty())
        return report;
    const ExportOptions used = UsableOptions(options, report);
    // What earlier runs found the SRSs to be: a re-run over known ones never loads PROJ.
    SrsKindCache srsKinds = SrsKindCache::Load(used.verdictCache, ProjLibraryName());
    SpatialReferences references;
    for (const auto& [text, kind] : srsKinds.kinds())
        references.remember(text, kind);
    ExportOrder run(used, calls, references);
    run.exportListed(folders, report.folders);
    srsKinds.keep(references.learnt());
    // Like the verdicts, the kinds only save time: one not kept is identified again.
    (void)srsKinds.save();
    if (run.cacheNotWritten())
        report.warnings.push_back(*run.cacheNotWritten());
    if (!used.verdictCache.empty())
        TrimVerdictCache(used.verdictCache, kVerdictCacheBudget);
    report.cancelled =
        std::any_of(report.folders.begin(), report.folders.end(),
                    [](const FolderReport& f) { return f.status == FolderStatus::Cancelled; });
    return report;
}

} // namespace brindle
