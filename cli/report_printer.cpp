#include "cli/report_printer.h"

#include "cli/report_wording.h"

#include <iomanip>
#include <ostream>

namespace brindle {
namespace {

void PrintTranslation(const osg::Vec3d& t, std::ostream& out) {
    out << std::fixed << std::setprecision(3) << '(' << t.x() << ", " << t.y() << ", " << t.z()
        << ')';
    out.unsetf(std::ios::floatfield);
}

void PrintSkipped(const FolderReport& folder, std::ostream& out) {
    if (folder.leftOut.empty())
        return;
    out << "; left out:";
    const char* separator = " ";
    for (const LeftOutSubfolder& skipped : folder.leftOut) {
        out << separator << skipped.name.string() << " (" << DescribeLeftOut(skipped) << ')';
        separator = ", ";
    }
}

void PrintFolderLine(const FolderReport& folder, std::ostream& out) {
    out << (folder.status == FolderStatus::DryRun ? "would write " : "wrote ")
        << folder.indexFile.string() << ": " << folder.entries.size()
        << (folder.entries.size() == 1 ? " entry" : " entries") << ", translation ";
    PrintTranslation(folder.translation, out);
    PrintSkipped(folder, out);
    out << '\n';
}

} // namespace

void PrintExportReport(const ExportReport& report, bool quiet, std::ostream& out,
                       std::ostream& err) {
    for (const FolderReport& folder : report.folders) {
        for (const Problem& warning : folder.warnings)
            err << "brindle-export: warning: " << DescribeProblem(warning) << '\n';
        switch (folder.status) {
        case FolderStatus::Written:
        case FolderStatus::DryRun:
            if (!quiet)
                PrintFolderLine(folder, out);
            break;
        case FolderStatus::Failed:
            if (folder.error)
                err << "brindle-export: error: " << DescribeProblem(*folder.error) << '\n';
            break;
        case FolderStatus::Cancelled:
            break;
        }
    }
    if (report.cancelled)
        err << "brindle-export: cancelled; folders not yet written keep their old index\n";
}

} // namespace brindle
