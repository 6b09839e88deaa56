#pragma once

#include "wording/report_wording.h"

#include <cstddef>
#include <filesystem>
#include <string>

// brindle-export's own lines, in English or Chinese. No line carries its line end; the lines
// under a folder's start with their two spaces of indent.
namespace brindle::wording {

// "wrote X: 2 entries, translation (10.500, 20.000, 0.000); left out 1: 1 no root file".
std::string FolderLine(Language language, const FolderReport& folder);
std::string BlockOfLine(Language language, const std::filesystem::path& master);
std::string BlockLine(Language language, const std::filesystem::path& block);
// One left-out subfolder, name first, so that grep finds it.
std::string LeftOutLine(Language language, const LeftOutSubfolder& leftOut);
// A listed tile the overview levels show nothing of, and why.
std::string OverviewHoleLine(Language language, const OverviewHole& hole);
std::string RecheckedLine(Language language, const std::filesystem::path& tile);
std::string ProxyLeafLine(Language language, const std::string& entry);
// Under a folder whose proxy index names more than kPagedIndexAdvisedAbove tiles: the overview
// index would show a viewer the whole block, the paged one the tiles in view, sooner.
std::string PagedIndexTipLine(Language language, std::size_t entries);
// What became of the folder's 3D Tiles tileset, and each file left out of it, name first.
std::string TilesetLine(Language language, const TilesetReport& tileset);
std::string TilesetLeftOutLine(Language language, const LeftOutSubfolder& file);
// A folder of status ListedTwice: which listing it repeats.
std::string ListedTwiceLine(Language language, const FolderReport& folder);
// "brindle-export: warning: <sentence>", "brindle-export: error: <sentence>".
std::string WarningLine(Language language, const std::string& sentence);
std::string ErrorLine(Language language, const std::string& sentence);
// The line after the last folder: "3 folders: 2 written, 1 failed; 120 entries, 4 left out".
std::string SummaryLine(Language language, const ReportTotals& totals);

// --verify: a folder's verdict, "B/root.osgb: 3 entries ok, 1 broken", for an overview
// "B/root.osgb: 5 level files and 12 tiles ok, 1 broken", and one broken entry under it, as
// "  T2\root.osgb: <reason>", one a level file names as "  <level file> -> <name>: <reason>".
std::string VerifyLine(Language language, const FolderVerification& folder);
std::string BrokenEntryLine(Language language, const IndexEntryCheck& entry);
// "brindle-export: <sentence>", for what stops a folder's check.
std::string ProgramLine(const std::string& sentence);

// Said at the first SIGINT or SIGTERM, before the run has stopped; with its line end, as a
// signal handler writes it whole.
std::string StoppingLine(Language language);
// A run stopped by SIGINT (`interrupted`) or SIGTERM, and what it had written by then.
std::string StoppedLine(Language language, bool interrupted, bool dryRun, std::size_t written);
// Standard output could not be written (`cause` says why), so the run stops.
std::string OutputFailedLine(Language language, const std::error_code& cause);

// --help: the program's description, each option's, and the footer of exit statuses.
struct HelpText {
    std::string description;
    std::string footer;
    std::string folder, jobs, dryRun, force, verify, strict, noCache, index, json, quiet, progress;
    std::string tilesets, tilesetsQuantize, tilesetsB3dm, tilesetsMeshopt;
    std::string help, version;
    // The help's own headings: "Usage", "OPTIONS" (in the usage line), "Options" (the group),
    // "Positionals", "REQUIRED".
    std::string usage, optionsInUsage, options, positionals, required;
};
HelpText Help(Language language);

// Usage errors, each a line of its own: "brindle-export: <problem>" (and " (see --help)"
// where the command line itself is malformed).
std::string UsageLine(Language language, const std::string& problem, bool seeHelp);
std::string NoFolderGiven(Language language);
std::string NoSuchOption(Language language, const std::string& option);
std::string UnexpectedArgument(Language language, const std::string& argument);
std::string NeedsValue(Language language, const std::string& option);
std::string BadJobs(Language language, const std::string& value, unsigned maximum);
std::string BadIndexKind(Language language, const std::string& value);
std::string BadProgress(Language language, const std::string& value);
// --3dtiles with --index other than overview (`kind`), and a content flag (`flag`, such as
// --3dtiles-quantize) without it.
std::string TilesetsNeedOverview(Language language, const std::string& kind);
std::string NeedsTilesets(Language language, const std::string& flag);

} // namespace brindle::wording
