#include "export/export_report.h"

#include <algorithm>

namespace brindle {

bool ExportReport::succeeded() const {
    return !cancelled && std::all_of(folders.begin(), folders.end(), [](const FolderReport& f) {
        return f.status == FolderStatus::Written || f.status == FolderStatus::DryRun ||
               f.status == FolderStatus::ListedTwice;
    });
}

bool ExportReport::spotless() const {
    return succeeded() && std::all_of(folders.begin(), folders.end(), [](const FolderReport& f) {
               return f.status != FolderStatus::ListedTwice && f.leftOut.empty() &&
                      f.warnings.empty();
           });
}

} // namespace brindle
