#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

namespace brindle {
namespace {

constexpr unsigned kMaxJobs = 1024;

constexpr char kExitStatusFooter[] =
    "Exit status:\n"
    "  0    every folder's index was written (with --dry-run: would be written)\n"
    "  1    some folder failed (the others are still written), or standard output could\n"
    "       not be written\n"
    "  2    usage error\n"
    "  3    with --strict: every folder was written, but subfolders were left out or\n"
    "       warnings were given\n"
    "  130  interrupted by SIGINT (Ctrl-C); folders already written stay written\n"
    "  141  standard output was closed by its reader (e.g. | head -1)\n"
    "  143  terminated by SIGTERM; folders already written stay written\n";

std::optional<unsigned> WholeNumber(const std::string& text, unsigned low, unsigned high) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long value = std::stoul(text);
    if (value < low || value > high)
        return std::nullopt;
    return static_cast<unsigned>(value);
}

std::optional<ProgressStyle> ProgressStyleNamed(const std::string& name) {
    if (name == "auto")
        return ProgressStyle::Auto;
    if (name == "bar")
        return ProgressStyle::Bar;
    if (name == "lines")
        return ProgressStyle::Lines;
    if (name == "none")
        return ProgressStyle::None;
    return std::nullopt;
}

// CLI11's own messages, in the program's words where they would puzzle a user.
std::string DescribeParseError(const CLI::ParseError& error, const CLI::App& app) {
    if (dynamic_cast<const CLI::RequiredError*>(&error))
        return "name at least one FOLDER to export";
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::vector<std::string> extras = app.remaining();
        const std::string first = extras.empty() ? std::string() : extras.front();
        if (!first.empty() && first[0] == '-')
            return "there is no option '" + first + "'";
        return "unexpected argument '" + first + "'";
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        const std::string what = error.what();
        return what.substr(0, what.find(':')) + " needs a value";
    }
    return error.what();
}

struct RawLine {
    bool jobsGiven = false;
    std::string jobs;
    std::string progress = "auto";
    std::string index = "proxy";
};

std::optional<std::string> Finish(const RawLine& raw, CommandLine& line) {
    if (raw.jobsGiven) {
        const std::optional<unsigned> jobs = WholeNumber(raw.jobs, 1, kMaxJobs);
        if (!jobs)
            return "--jobs takes a whole number from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                   raw.jobs + "'";
        line.jobs = *jobs;
    }
    if (raw.index == "proxy")
        line.index = IndexKind::Proxy;
    else if (raw.index == "paged")
        line.index = IndexKind::Paged;
    else
        return "--index takes proxy or paged, not '" + raw.index + "'";
    const std::optional<ProgressStyle> progress = ProgressStyleNamed(raw.progress);
    if (!progress)
        return "--progress takes auto, bar, lines or none, not '" + raw.progress + "'";
    line.progress = *progress;
    return std::nullopt;
}

} // namespace

std::optional<int> ParseCommandLine(int argc, const char* const* argv, CommandLine& line,
                                    std::ostream& out, std::ostream& err) {
    CLI::App app{"Writes an index scene root.osgb into each FOLDER: a translation by the "
                 "folder's report.txt origin over a proxy naming every subfolder's root.osgb "
                 "that loads.",
                 "brindle-export"};
    app.footer(kExitStatusFooter);
    RawLine raw;
    app.add_option("FOLDER", line.folders, "folders holding tile subfolders, exported in order")
        ->required();
    const CLI::Option* jobs =
        app.add_option("-j,--jobs", raw.jobs,
                       "worker processes checking tiles (default: one per core)")
            ->type_name("N");
    app.add_flag("--dry-run", line.dryRun,
                 "scan and check everything, print what would be written, write nothing");
    app.add_flag("--force", line.force,
                 "replace an existing root.osgb that holds scene data or cannot be read, and "
                 "write an index even when no subfolder loads");
    app.add_flag("--verify", line.verify,
                 "write nothing; check that every file each FOLDER's existing root.osgb names "
                 "exists and loads (exit status 0 when all do, 1 otherwise)");
    app.add_flag("--strict", line.strict,
                 "exit with status 3 when subfolders were left out or warnings were given");
    app.add_option("--index", raw.index,
                   "proxy (one proxy node; a viewer loads every tile at once) or paged (a paged "
                   "node per tile; a viewer loads what is in view); default proxy")
        ->type_name("KIND");
    app.add_flag("--json", line.json, "print the run as one JSON document instead of lines");
    app.add_flag("-q,--quiet", line.quiet, "print errors and warnings only");
    app.add_option("--progress", raw.progress,
                   "auto (a bar when stderr is a terminal), bar, lines or none")
        ->type_name("WHEN");
    app.set_version_flag("--version", std::string("brindle-export ") + BRINDLE_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        err << "brindle-export: " << DescribeParseError(e, app) << " (see --help)\n";
        return kExitUsage;
    }
    raw.jobsGiven = jobs->count() > 0;
    if (const std::optional<std::string> problem = Finish(raw, line)) {
        err << "brindle-export: " << *problem << '\n';
        return kExitUsage;
    }
    return std::nullopt;
}

int ExitStatusFor(const ExportReport& report, bool strict) {
    if (!report.succeeded())
        return kExitFailed;
    if (strict && !report.spotless())
        return kExitStrict;
    return kExitWritten;
}

} // namespace brindle
