#include "cli/report_printer.h"

#include "wording/command_line_wording.h"

#include <ostream>
#include <string>

namespace brindle {
namespace {

using wording::Language;

void PrintLeftOutLines(Language language, const FolderReport& folder, std::ostream& out) {
    // One line per tile, so that grep finds it.
    for (const LeftOutSubfolder& skipped : folder.leftOut)
        out << wording::LeftOutLine(language, skipped) << '\n';
}

void PrintTilesetLines(Language language, const FolderReport& folder, std::ostream& out) {
    if (!folder.tileset)
        return;
    out << wording::TilesetLine(language, *folder.tileset) << '\n';
    for (const LeftOutSubfolder& file : folder.tileset->leftOut)
        out << wording::TilesetLeftOutLine(language, file) << '\n';
}

// The files left out of a tileset are listed under its line with their reasons.
bool ListedUnderTileset(const Problem& warning) {
    return warning.kind == ProblemKind::TilesetFileLeftOut;
}

void PrintFolderLines(Language language, const FolderReport& folder, std::ostream& out) {
    out << wording::FolderLine(language, folder) << '\n';
    // The tree: a block names the folder of blocks whose index names it, which follows.
    if (!folder.master.empty())
        out << wording::BlockOfLine(language, folder.master) << '\n';
    for (const auto& block : folder.blocks)
        out << wording::BlockLine(language, block.filename()) << '\n';
    PrintLeftOutLines(language, folder, out);
    for (const OverviewHole& hole : folder.overviewHoles)
        out << wording::OverviewHoleLine(language, hole) << '\n';
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        out << wording::RecheckedLine(language, tile) << '\n';
    for (const std::string& entry : folder.proxyLeaves)
        out << wording::ProxyLeafLine(language, entry) << '\n';
    PrintTilesetLines(language, folder, out);
    // A viewer reads every tile of a proxy index before its first picture.
    if (folder.index == IndexKind::Proxy && folder.blocks.empty() &&
        folder.entries.size() > kPagedIndexAdvisedAbove)
        out << wording::PagedIndexTipLine(language, folder.entries.size()) << '\n';
}

} // namespace

void ReportStreamer::folder(const FolderReport& folder) {
    for (const Problem& warning : folder.warnings)
        if (quiet_ || !ListedUnderTileset(warning))
            err_ << wording::WarningLine(language_, wording::DescribeProblem(language_, warning))
                 << '\n';
    switch (folder.status) {
    case FolderStatus::Written:
    case FolderStatus::DryRun:
        if (!quiet_)
            PrintFolderLines(language_, folder, out_);
        break;
    case FolderStatus::Failed:
        if (folder.error)
            err_ << wording::ErrorLine(language_,
                                       wording::DescribeProblem(language_, *folder.error))
                 << '\n';
        // A folder with nothing to list fails: what was looked for in each subfolder says why.
        if (folder.error && folder.entries.empty())
            PrintLeftOutLines(language_, folder, err_);
        break;
    case FolderStatus::ListedTwice:
        err_ << wording::WarningLine(language_, wording::ListedTwiceLine(language_, folder))
             << '\n';
        break;
    case FolderStatus::Cancelled:
        break;
    }
    err_.flush();
    out_.flush();
}

void ReportStreamer::summary(const ExportReport& report) {
    // The run's own warnings are about no folder: they come once, at its end, even when quiet.
    for (const Problem& warning : report.warnings)
        err_ << wording::WarningLine(language_, wording::DescribeProblem(language_, warning))
             << '\n';
    err_.flush();
    if (quiet_)
        return;
    out_ << wording::SummaryLine(language_, report.totals()) << '\n';
    out_.flush();
}

} // namespace brindle
