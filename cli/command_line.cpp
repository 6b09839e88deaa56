#include "cli/command_line.h"

#include "wording/command_line_wording.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

namespace brindle {
namespace {

constexpr unsigned kMaxJobs = 1024;

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
std::string DescribeParseError(wording::Language language, const CLI::ParseError& error,
                               const CLI::App& app) {
    if (dynamic_cast<const CLI::RequiredError*>(&error))
        return wording::NoFolderGiven(language);
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        const std::vector<std::string> extras = app.remaining();
        const std::string first = extras.empty() ? std::string() : extras.front();
        if (!first.empty() && first[0] == '-')
            return wording::NoSuchOption(language, first);
        return wording::UnexpectedArgument(language, first);
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        const std::string what = error.what();
        return wording::NeedsValue(language, what.substr(0, what.find(':')));
    }
    return error.what();
}

struct RawLine {
    bool jobsGiven = false;
    bool indexGiven = false;
    bool tilesetsGiven = false;
    std::string jobs;
    std::string progress = "auto";
    std::string index = "proxy";
};

std::optional<std::string> Finish(wording::Language language, const RawLine& raw,
                                  CommandLine& line) {
    if (raw.jobsGiven) {
        const std::optional<unsigned> jobs = WholeNumber(raw.jobs, 1, kMaxJobs);
        if (!jobs)
            return wording::BadJobs(language, raw.jobs, kMaxJobs);
        line.jobs = *jobs;
    }
    if (raw.index == "proxy")
        line.index = IndexKind::Proxy;
    else if (raw.index == "paged")
        line.index = IndexKind::Paged;
    else if (raw.index == "overview")
        line.index = IndexKind::Overview;
    else
        return wording::BadIndexKind(language, raw.index);
    // A tileset's top levels are the overview's.
    if (raw.tilesetsGiven) {
        if (raw.indexGiven && line.index != IndexKind::Overview)
            return wording::TilesetsNeedOverview(language, raw.index);
        if (line.tilesets.empty())
            return wording::NeedsValue(language, "--3dtiles");
        line.index = IndexKind::Overview;
    } else if (line.tilesetsQuantize || line.tilesetsB3dm || line.tilesetsMeshopt) {
        return wording::NeedsTilesets(language, line.tilesetsQuantize ? "--3dtiles-quantize"
                                                : line.tilesetsB3dm   ? "--3dtiles-b3dm"
                                                                      : "--3dtiles-meshopt");
    }
    const std::optional<ProgressStyle> progress = ProgressStyleNamed(raw.progress);
    if (!progress)
        return wording::BadProgress(language, raw.progress);
    line.progress = *progress;
    return std::nullopt;
}

} // namespace

std::optional<int> ParseCommandLine(int argc, const char* const* argv, CommandLine& line,
                                    std::ostream& out, std::ostream& err,
                                    wording::Language language) {
    const wording::HelpText help = wording::Help(language);
    CLI::App app{help.description, "brindle-export"};
    // The help's headings in the language too; the help flag made again, first as before,
    // to take its group and description.
    app.get_formatter()->label("Usage", help.usage);
    app.get_formatter()->label("OPTIONS", help.optionsInUsage);
    app.get_formatter()->label("Positionals", help.positionals);
    app.get_formatter()->label("REQUIRED", help.required);
    app.option_defaults()->group(help.options);
    app.set_help_flag("-h,--help", help.help);
    app.footer(help.footer);
    RawLine raw;
    app.add_option("FOLDER", line.folders, help.folder)->required();
    const CLI::Option* jobs = app.add_option("-j,--jobs", raw.jobs, help.jobs)->type_name("N");
    app.add_flag("--dry-run", line.dryRun, help.dryRun);
    app.add_flag("--force", line.force, help.force);
    app.add_flag("--verify", line.verify, help.verify);
    app.add_flag("--strict", line.strict, help.strict);
    app.add_flag("--no-cache", line.noCache, help.noCache);
    const CLI::Option* index = app.add_option("--index", raw.index, help.index)->type_name("KIND");
    const CLI::Option* tilesets =
        app.add_option("--3dtiles", line.tilesets, help.tilesets)->type_name("DIR");
    app.add_flag("--3dtiles-quantize", line.tilesetsQuantize, help.tilesetsQuantize);
    app.add_flag("--3dtiles-b3dm", line.tilesetsB3dm, help.tilesetsB3dm);
    app.add_flag("--3dtiles-meshopt", line.tilesetsMeshopt, help.tilesetsMeshopt);
    app.add_flag("--json", line.json, help.json);
    app.add_flag("-q,--quiet", line.quiet, help.quiet);
    app.add_option("--progress", raw.progress, help.progress)->type_name("WHEN");
    app.set_version_flag("--version", std::string("brindle-export ") + BRINDLE_VERSION,
                         help.version);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        err << wording::UsageLine(language, DescribeParseError(language, e, app), true) << '\n';
        return kExitUsage;
    }
    raw.jobsGiven = jobs->count() > 0;
    raw.indexGiven = index->count() > 0;
    raw.tilesetsGiven = tilesets->count() > 0;
    if (const std::optional<std::string> problem = Finish(language, raw, line)) {
        err << wording::UsageLine(language, *problem, false) << '\n';
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
