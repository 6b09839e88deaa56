#pragma once

#include "export/export_report.h"

#include <filesystem>
#include <string>

namespace brindle {

// The command line's English words for what the export run reports.
std::string DescribeLeftOut(const LeftOutSubfolder& leftOut);
// A few words for a reason, to follow a count: "2 no root.osgb, 1 failed to load".
std::string DescribeReasonBriefly(TileStatus reason);
std::string DescribeProblem(const Problem& problem);
std::string DescribeCause(const std::error_code& cause);
// A folder of status ListedTwice: which listing it repeats.
std::string DescribeListedTwice(const FolderReport& folder);

// A path as printed in text output: its bytes, except that control characters (which would
// split the line or drive the terminal) are written as \xNN.
std::string DisplayPath(const std::filesystem::path& path);

} // namespace brindle
