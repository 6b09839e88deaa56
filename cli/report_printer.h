#pragma once

#include "export/export_run.h"

#include <iosfwd>

namespace brindle {

// One line per folder on `out` (unless quiet), and every error and warning on `err`.
void PrintExportReport(const ExportReport& report, bool quiet, std::ostream& out,
                       std::ostream& err);

} // namespace brindle
