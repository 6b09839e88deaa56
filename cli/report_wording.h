#pragma once

#include "export/export_report.h"
#include "export/index_verify.h"

#include <filesystem>
#include <string>

namespace brindle {

// The command line's English words for what the export run reports.
std::string DescribeLeftOut(const LeftOutSubfolder& leftOut);
// A few words for a reason, to follow a count: "2 no root.osgb, 1 failed to load".
std::string DescribeReasonBriefly(TileStatus reason);
std::string DescribeProblem(const Problem& problem);
// --verify: why an index entry is broken, and why a folder's index could not be read.
std::string DescribeBrokenEntry(const IndexEntryCheck& entry);
std::string DescribeVerifyProblem(const Problem& problem);
std::string DescribeCause(const std::error_code& cause);
// A folder of status ListedTwice: which listing it repeats.
std::string DescribeListedTwice(const FolderReport& folder);
// Why a file does not load: "the file is cut short", or the reader's own words.
std::string DescribeLoadFailure(LoadFailure failure, const std::string& readerText);

// A path as printed in text output: its bytes, except that control characters (which would
// split the line or drive the terminal) are written as \xNN.
std::string DisplayPath(const std::filesystem::path& path);

} // namespace brindle
