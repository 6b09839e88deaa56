#pragma once

#include "export/export_report.h"
#include "wording/report_wording.h"

#include <iosfwd>

namespace brindle {

// Prints an export run's report as it goes: each folder's line (and its left-out subfolders,
// one per line below it) on `out`, its warnings and error on `err`, both flushed before the
// call returns so that a reader at the other end of a pipe sees the folder at once. Quiet
// prints errors and warnings only. The lines are in `language`.
class ReportStreamer {
public:
    ReportStreamer(std::ostream& out, std::ostream& err, bool quiet, wording::Language language)
        : out_(out), err_(err), quiet_(quiet), language_(language) {}

    // One final folder, as ExportOptions::folderDone hands it over.
    void folder(const FolderReport& folder);
    // The run's own warnings on `err`, then, unless quiet, the line after the last folder:
    // "3 folders: 2 written, 1 failed; 120 entries, 4 left out".
    void summary(const ExportReport& report);

private:
    std::ostream& out_;
    std::ostream& err_;
    bool quiet_;
    wording::Language language_;
};

} // namespace brindle
