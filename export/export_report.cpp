#include "export/export_report.h"

#include <algorithm>

namespace brindle {

bool ExportReport::succeeded() const {
    return !cancelled && std::all_of(folders.begin(), folders.end(), [](const FolderReport& f) {
        const bool tilesetMade = !f.tileset || f.tileset->status == TilesetStatus::Written ||
                                 f.tileset->status == TilesetStatus::DryRun;
        return (f.status == FolderStatus::Written || f.status == FolderStatus::DryRun ||
                f.status == FolderStatus::ListedTwice) &&
               tilesetMade;
    });
}

bool ExportReport::spotless() const {
    return succeeded() && warnings.empty() &&
           std::all_of(folders.begin(), folders.end(), [](const FolderReport& f) {
               return f.status != FolderStatus::ListedTwice && f.leftOut.empty() &&
                      f.warnings.empty() && (!f.tileset || f.tileset->leftOut.empty());
           });
}

ReportTotals ExportReport::totals() const {
    ReportTotals totals;
    for (const FolderReport& folder : folders) {
        totals.leftOut += folder.leftOut.size();
        totals.warnings += folder.warnings.size();
        totals.overviewHoles += folder.overviewHoles.size();
        totals.cachedVerdicts += folder.cachedVerdicts;
        // A folder that failed or was cancelled names its tiles in no index: they are not
        // counted, however many its scan found.
        const bool hasIndex =
            folder.status == FolderStatus::Written || folder.status == FolderStatus::DryRun;
        if (hasIndex && folder.originSource != OriginSource::Blocks)
            totals.entries += folder.entries.size();
        if (!folder.master.empty()) {
            if (folder.status == FolderStatus::ListedTwice)
                continue;
            ++totals.blocks;
            totals.blocksNotWritten +=
                folder.status == FolderStatus::Failed || folder.status == FolderStatus::Cancelled;
            continue;
        }
        ++totals.folders;
        switch (folder.status) {
        case FolderStatus::Written:
            ++totals.written;
            break;
        case FolderStatus::DryRun:
            ++totals.dryRun;
            break;
        case FolderStatus::Failed:
            ++totals.failed;
            break;
        case FolderStatus::Cancelled:
            ++totals.cancelled;
            break;
        case FolderStatus::ListedTwice:
            ++totals.listedTwice;
            break;
        }
    }
    return totals;
}

} // namespace brindle
