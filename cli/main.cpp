#include "cli/progress_bar.h"
#include "cli/report_printer.h"
#include "export/export_run.h"
#include "export/heap_reuse.h"

#include <CLI/CLI.hpp>
#include <osg/Notify>

#include <iostream>
#include <memory>
#include <optional>

#ifdef _WIN32
#include "cli/windows_arguments.h"
#endif

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct CommandLine {
    std::vector<std::string> folders;
    unsigned jobs = 0;
    bool dryRun = false;
    bool quiet = false;
};

std::optional<int> Parse(int argc, char** argv, CommandLine& line) {
    CLI::App app{"Writes an index scene root.osgb into each FOLDER: a translation by the "
                 "folder's report.txt origin over a proxy naming every subfolder's root.osgb "
                 "that loads.",
                 "brindle-export"};
    app.add_option("FOLDER", line.folders, "folders holding tile subfolders")->required();
    app.add_option("-j,--jobs", line.jobs, "threads validating tiles (default: one per core)")
        ->check(CLI::Range(1u, 1024u));
    app.add_flag("--dry-run", line.dryRun, "scan and validate, print what would be written");
    app.add_flag("-q,--quiet", line.quiet, "print errors only");
    app.set_version_flag("--version", std::string("brindle-export ") + BRINDLE_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : kExitUsage;
    }
    return std::nullopt;
}

// A folder as given: UTF-8 on Windows (see Utf8Arguments), the bytes themselves elsewhere.
std::filesystem::path FolderPath(const std::string& argument) {
#ifdef _WIN32
    return std::filesystem::u8path(argument);
#else
    return argument;
#endif
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    brindle::Utf8Arguments utf8;
    if (utf8.argc() > 0) {
        argc = utf8.argc();
        argv = utf8.argv();
    }
    brindle::PrintUtf8ToConsole();
#endif
    CommandLine line;
    if (const std::optional<int> status = Parse(argc, argv, line))
        return *status;

    // The report names every tile that failed to load; the reader's own messages would
    // only repeat it, line by line, through the progress bar.
    osg::setNotifyLevel(osg::FATAL);
    brindle::KeepFreedMemoryForReuse();

    brindle::ExportOptions options;
    options.jobs = line.jobs;
    options.dryRun = line.dryRun;
    std::unique_ptr<brindle::ProgressBar> bar;
    if (!line.quiet && brindle::ProgressBar::IsTerminal(stderr)) {
        bar = std::make_unique<brindle::ProgressBar>(stderr);
        options.progress = [&bar](const brindle::ExportProgress& p) { bar->update(p); };
    }
    std::vector<std::filesystem::path> folders;
    for (const std::string& folder : line.folders)
        folders.push_back(FolderPath(folder));
    const brindle::ExportReport report = brindle::ExportFolderIndexes(folders, options);
    bar.reset();
    brindle::PrintExportReport(report, line.quiet, std::cout, std::cerr);
    return report.succeeded() ? 0 : kExitFailed;
}
