#include "cli/report_printer.h"

#include "wording/report_wording.h"
#include "wording/text.h"

#include <iomanip>
#include <map>
#include <ostream>
#include <string>

namespace brindle {
namespace {

using wording::Language;
using wording::PathText;

// A folder of status ListedTwice: which listing it repeats.
std::string DescribeListedTwice(const FolderReport& folder) {
    if (folder.firstListing == folder.folder)
        return PathText(folder.folder) + ": listed twice; exported once";
    return PathText(folder.folder) + ": the same folder as " + PathText(folder.firstListing) +
           ", listed earlier; exported once";
}

std::string Count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

void PrintTranslation(const osg::Vec3d& t, std::ostream& out) {
    out << std::fixed << std::setprecision(3) << '(' << t.x() << ", " << t.y() << ", " << t.z()
        << ')';
    out.unsetf(std::ios::floatfield);
}

// "; left out 3: 2 no root.osgb, 1 failed to load", reasons in the order of TileStatus.
void PrintLeftOutCounts(const FolderReport& folder, std::ostream& out) {
    if (folder.leftOut.empty())
        return;
    std::map<TileStatus, std::size_t> byReason;
    for (const LeftOutSubfolder& skipped : folder.leftOut)
        ++byReason[skipped.reason];
    out << "; left out " << folder.leftOut.size() << ':';
    const char* separator = " ";
    for (const auto& [reason, count] : byReason) {
        out << separator << count << ' '
            << wording::DescribeReasonBriefly(Language::English, reason);
        separator = ", ";
    }
}

void PrintLeftOutLines(const FolderReport& folder, std::ostream& out) {
    // One line per tile, so that grep finds it.
    for (const LeftOutSubfolder& skipped : folder.leftOut)
        out << "  " << PathText(skipped.name) << ": "
            << wording::DescribeLeftOut(Language::English, skipped) << '\n';
}

void PrintFolderLines(const FolderReport& folder, std::ostream& out) {
    out << (folder.status == FolderStatus::DryRun ? "would write " : "wrote ")
        << PathText(folder.indexFile) << (folder.index == IndexKind::Paged ? " (paged index)" : "");
    if (!folder.blocks.empty())
        out << " over " << Count(folder.blocks.size(), "block", "blocks");
    out << ": " << Count(folder.entries.size(), "entry", "entries") << ", translation ";
    PrintTranslation(folder.translation, out);
    // A translation from another folder's report.txt is easy to take for this folder's own.
    if (folder.originSource == OriginSource::CarriedOver)
        out << " carried over from " << PathText(folder.originReport.parent_path());
    if (folder.originSource == OriginSource::Blocks)
        out << " (each block carries its own)";
    if (!folder.srs.empty())
        out << " in " << folder.srs;
    PrintLeftOutCounts(folder, out);
    out << '\n';
    // The tree: a block names the folder of blocks whose index names it, which follows.
    if (!folder.master.empty())
        out << "  block of " << PathText(folder.master) << '\n';
    for (const auto& block : folder.blocks)
        out << "  block " << PathText(block.filename()) << '\n';
    PrintLeftOutLines(folder, out);
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        out << "  " << PathText(tile)
            << ": reached its memory ceiling, checked again alone with more memory\n";
    for (const std::string& entry : folder.proxyLeaves)
        out << "  " << entry << ": bound unknown, entered as a proxy node that loads at once\n";
}

} // namespace

void ReportStreamer::folder(const FolderReport& folder) {
    for (const Problem& warning : folder.warnings)
        err_ << "brindle-export: warning: " << wording::DescribeProblem(Language::English, warning)
             << '\n';
    switch (folder.status) {
    case FolderStatus::Written:
    case FolderStatus::DryRun:
        if (!quiet_)
            PrintFolderLines(folder, out_);
        break;
    case FolderStatus::Failed:
        if (folder.error)
            err_ << "brindle-export: error: "
                 << wording::DescribeProblem(Language::English, *folder.error) << '\n';
        // A folder with nothing to list fails: what was looked for in each subfolder says why.
        if (folder.error && folder.entries.empty())
            PrintLeftOutLines(folder, err_);
        break;
    case FolderStatus::ListedTwice:
        err_ << "brindle-export: warning: " << DescribeListedTwice(folder) << '\n';
        break;
    case FolderStatus::Cancelled:
        break;
    }
    err_.flush();
    out_.flush();
}

void ReportStreamer::summary(const ExportReport& report) {
    if (quiet_)
        return;
    const ReportTotals totals = report.totals();
    out_ << Count(totals.folders, "folder", "folders") << ": ";
    if (totals.dryRun > 0)
        out_ << totals.dryRun << " would be written";
    else
        out_ << totals.written << " written";
    if (totals.failed > 0)
        out_ << ", " << totals.failed << " failed";
    if (totals.cancelled > 0)
        out_ << ", " << totals.cancelled << " cancelled";
    if (totals.listedTwice > 0)
        out_ << ", " << totals.listedTwice << " listed twice";
    out_ << "; " << Count(totals.entries, "entry", "entries") << ", " << totals.leftOut
         << " left out\n";
    out_.flush();
}

} // namespace brindle
