#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "cli/report_json.h"
#include "cli/report_printer.h"
#include "cli/user_language.h"
#include "cli/verify_json.h"
#include "export/cache/verdict_cache.h"
#include "export/export_run.h"
#include "export/system/heap_reuse.h"
#include "export/system/large_pages.h"
#include "export/verify/index_verify.h"
#include "wording/command_line_wording.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#ifdef _WIN32
#include "cli/windows_arguments.h"
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace brindle {
namespace {

// True when standard output is a pipe whose reader has gone: writing would raise SIGPIPE.
bool StdoutReaderGone(int writeErrno) {
#ifdef _WIN32
    return writeErrno == EPIPE;
#else
    if (writeErrno == EPIPE)
        return true;
    pollfd out{STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
#endif
}

// Everything the run shows while it goes and once it is over: report lines on stdout,
// progress, errors and warnings on stderr. Callbacks come from the run's threads, so the
// terminal is taken in turns.
class Console {
public:
    Console(const CommandLine& line, wording::Language language, InterruptHandler& interrupt)
        : line_(line), language_(language), interrupt_(interrupt),
          streamer_(std::cout, std::cerr, line.quiet || line.json, language) {
        const auto start = ProgressClock::now();
        ProgressStyle style = line.progress;
        if (style == ProgressStyle::Auto)
            style = !line.quiet && ProgressBar::isTerminal(stderr) ? ProgressStyle::Bar
                                                                   : ProgressStyle::None;
        if (style == ProgressStyle::Bar)
            bar_ = std::make_unique<ProgressBar>(std::cerr, start);
        else if (style == ProgressStyle::Lines)
            lines_ = std::make_unique<ProgressLines>(std::cerr, kLinesInterval, start);
    }

    bool showsProgress() const { return bar_ || lines_; }

    void progress(const ExportProgress& progress) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (bar_)
            bar_->update(progress, ProgressClock::now());
        if (lines_)
            lines_->update(progress, ProgressClock::now());
    }

    void folderDone(const FolderReport& folder) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (bar_)
            bar_->clear();
        streamer_.folder(folder);
        checkStdout();
    }

    // Prints the summary (or the JSON document) and says why the run stopped early.
    void finish(const ExportReport& report, const RunSettings& settings) {
        const std::lock_guard<std::mutex> lock(mutex_);
        bar_.reset();
        if (output_ == Output::Fine) {
            if (line_.json)
                std::cout << ReportJson(report, settings)
                                 .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                          << '\n'
                          << std::flush;
            // Quiet with --json: only the run's own warnings, on stderr.
            streamer_.summary(report);
            checkStdout();
        }
        if (const int signal = interrupt_.signal())
            std::cerr << wording::StoppedLine(language_, signal == SIGINT, line_.dryRun,
                                              report.totals().written)
                      << '\n';
    }

    int exitStatus(const ExportReport& report) const {
        if (const int signal = interrupt_.signal())
            return 128 + signal;
        if (output_ == Output::Closed)
            return kExitOutputClosed;
        if (output_ == Output::Failed)
            return kExitFailed;
        return ExitStatusFor(report, line_.strict);
    }

private:
    enum class Output { Fine, Closed, Failed };
    static constexpr std::chrono::seconds kLinesInterval{3};

    // A reader that closed the pipe wants no more: stop quietly, as a program ended by
    // SIGPIPE would. Any other write error is reported, and stops the run as well, since
    // the report of what it writes would be lost.
    void checkStdout() {
        if (output_ != Output::Fine || std::cout.good())
            return;
        const int writeErrno = errno;
        output_ = StdoutReaderGone(writeErrno) ? Output::Closed : Output::Failed;
        if (output_ == Output::Failed)
            std::cerr << wording::OutputFailedLine(
                             language_, std::error_code(writeErrno, std::generic_category()))
                      << '\n';
        interrupt_.requestStop();
    }

    const CommandLine& line_;
    const wording::Language language_;
    InterruptHandler& interrupt_;
    ReportStreamer streamer_;
    std::unique_ptr<ProgressBar> bar_;
    std::unique_ptr<ProgressLines> lines_;
    Output output_ = Output::Fine;
    std::mutex mutex_;
};

// A folder as given: UTF-8 on Windows (see Utf8Arguments), the bytes themselves elsewhere.
std::filesystem::path FolderPath(const std::string& argument) {
#ifdef _WIN32
    return std::filesystem::u8path(argument);
#else
    return argument;
#endif
}

ExportOptions OptionsFor(const CommandLine& line) {
    ExportOptions options;
    options.jobs = line.jobs;
    options.dryRun = line.dryRun;
    options.index = line.index;
    options.strict = line.strict;
    options.tilesets.folder = FolderPath(line.tilesets);
    options.tilesets.quantize = line.tilesetsQuantize;
    options.tilesets.b3dm = line.tilesetsB3dm;
    options.tilesets.meshopt = line.tilesetsMeshopt;
    if (!line.noCache)
        options.verdictCache = DefaultVerdictCacheFolder();
    return options;
}

// What the run calls back: --force answers every question yes.
ExportCalls CallsFor(const CommandLine& line, InterruptHandler& interrupt) {
    ExportCalls calls;
    calls.cancel = &interrupt.cancelFlag();
    if (line.force)
        calls.confirmReplace = [](const Problem&) { return true; };
    return calls;
}

RunSettings SettingsFor(const CommandLine& line) {
    RunSettings settings;
    settings.version = BRINDLE_VERSION;
    settings.jobs = line.jobs ? line.jobs : std::max(1u, std::thread::hardware_concurrency());
    settings.dryRun = line.dryRun;
    settings.force = line.force;
    settings.strict = line.strict;
    settings.index = line.index;
    settings.verdictCache = !line.noCache;
    return settings;
}

void PrintVerifyProblem(wording::Language language, const FolderVerification& folder) {
    if (folder.error)
        std::cerr << wording::ProgramLine(wording::DescribeVerifyProblem(language, *folder.error))
                  << '\n';
}

// Each folder's verdict, its broken entries under it; what stopped its check in its turn.
void PrintVerifyLines(const CommandLine& line, wording::Language language,
                      const std::vector<FolderVerification>& results) {
    for (const FolderVerification& folder : results) {
        PrintVerifyProblem(language, folder);
        if (folder.folder.empty() || folder.error)
            continue;
        if (!line.quiet || folder.broken() > 0)
            std::cout << wording::VerifyLine(language, folder) << '\n';
        for (const IndexEntryCheck& entry : folder.entries)
            if (entry.status != TileStatus::Valid)
                std::cout << wording::BrokenEntryLine(language, entry) << '\n';
    }
}

// --verify: each folder's verdict on stdout, or with --json one document; what stopped a
// folder's check on stderr.
int RunVerify(const CommandLine& line, wording::Language language,
              const std::vector<std::filesystem::path>& folders) {
    InterruptHandler interrupt(wording::StoppingLine(language));
    const ExportOptions options = OptionsFor(line);
    const std::vector<FolderVerification> results =
        VerifyFolderIndexes(folders, options.checkSettings(&interrupt.cancelFlag()));
    if (line.json) {
        for (const FolderVerification& folder : results)
            PrintVerifyProblem(language, folder);
        std::cout << VerifyJson(results, BRINDLE_VERSION, interrupt.signal() != 0)
                         .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << '\n';
    } else {
        PrintVerifyLines(line, language, results);
    }
    std::cout.flush();
    if (const int signal = interrupt.signal())
        return 128 + signal;
    // A folder not reached before an interrupt has no verdict.
    const bool allResolve =
        std::all_of(results.begin(), results.end(), [](const FolderVerification& folder) {
            return !folder.folder.empty() && folder.allResolve();
        });
    return allResolve ? kExitWritten : kExitFailed;
}

int Run(const CommandLine& line, wording::Language language) {
#ifndef _WIN32
    // A closed stdout shows as a failed write, handled in Console, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    KeepFreedMemoryForReuse();
    // A run over a big block builds tens of megabytes of paths and entries out of small
    // allocations: large pages spare it most of their page faults.
    AdviseLargePagesForHeap(std::size_t{64} << 20);
    if (line.verify) {
        std::vector<std::filesystem::path> folders;
        for (const std::string& folder : line.folders)
            folders.push_back(FolderPath(folder));
        return RunVerify(line, language, folders);
    }

    InterruptHandler interrupt(wording::StoppingLine(language));
    Console console(line, language, interrupt);
    const ExportOptions options = OptionsFor(line);
    ExportCalls calls = CallsFor(line, interrupt);
    calls.folderDone = [&console](const FolderReport& folder) { console.folderDone(folder); };
    if (console.showsProgress())
        calls.progress = [&console](const ExportProgress& p) { console.progress(p); };

    std::vector<std::filesystem::path> folders;
    for (const std::string& folder : line.folders)
        folders.push_back(FolderPath(folder));
    const ExportReport report = ExportFolderIndexes(folders, options, calls);
    console.finish(report, SettingsFor(line));
    return console.exitStatus(report);
}

} // namespace
} // namespace brindle

int main(int argc, char** argv) {
#ifdef _WIN32
    brindle::Utf8Arguments utf8;
    if (utf8.argc() > 0) {
        argc = utf8.argc();
        argv = utf8.argv();
    }
    brindle::PrintUtf8ToConsole();
#endif
    const brindle::wording::Language language = brindle::UserLanguage();
    brindle::CommandLine line;
    if (const std::optional<int> status =
            brindle::ParseCommandLine(argc, argv, line, std::cout, std::cerr, language))
        return *status;
    return brindle::Run(line, language);
}
