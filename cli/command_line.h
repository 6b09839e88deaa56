#pragma once

#include "export/export_report.h"
#include "wording/report_wording.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// The program's exit statuses, listed by --help and in the man page.
enum ExitStatus : int {
    kExitWritten = 0,        // every folder's index was written (or would be, in a dry run)
    kExitFailed = 1,         // some folder failed, or standard output could not be written
    kExitUsage = 2,          // the command line was wrong
    kExitStrict = 3,         // --strict, all written, but subfolders left out or warnings given
    kExitInterrupted = 130,  // SIGINT
    kExitOutputClosed = 141, // standard output was closed by its reader (as SIGPIPE would)
    kExitTerminated = 143,   // SIGTERM
};

enum class ProgressStyle { Auto, Bar, Lines, None };

struct CommandLine {
    std::vector<std::string> folders;
    unsigned jobs = 0; // 0: one per hardware thread
    bool dryRun = false;
    bool quiet = false;
    bool json = false;
    bool strict = false;
    bool force = false;
    bool verify = false;  // check the folders' existing indexes instead of writing new ones
    bool noCache = false; // check every tile; keep no verdicts for the next run
    ProgressStyle progress = ProgressStyle::Auto;
    IndexKind index = IndexKind::Proxy;
    // --3dtiles DIR: a 3D Tiles tileset of each folder in DIR/<folder name>; empty for none.
    // The indexes are overview indexes then.
    std::string tilesets;
    bool tilesetsQuantize = false;
    bool tilesetsB3dm = false;
    bool tilesetsMeshopt = false;
};

// Parses the arguments into `line`. Returns the status to exit with when the program should
// end here: after --help or --version (printed on `out`), or on a usage error (a line on
// `err` naming the program and what was wrong). Help and errors are in `language`; the
// options keep their names.
std::optional<int> ParseCommandLine(int argc, const char* const* argv, CommandLine& line,
                                    std::ostream& out, std::ostream& err,
                                    wording::Language language);

// The exit status for a finished run, before signals and output errors are considered.
int ExitStatusFor(const ExportReport& report, bool strict);

} // namespace brindle
