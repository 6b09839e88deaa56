#pragma once

#include "export/export_report.h"

#include <string>

namespace brindle {

// The command line's English words for what the export run reports.
std::string DescribeLeftOut(const LeftOutSubfolder& leftOut);
std::string DescribeProblem(const Problem& problem);
std::string DescribeCause(const std::error_code& cause);

} // namespace brindle
