// brindle-startup-bench: what brindle-export costs before it does any work, and what that
// leaves of a re-run. Times `brindle-export --version` against the tile-check worker's own
// start (brindle-tile-check --serve, told at once that there is nothing to check), and a
// re-run over an unchanged production block (tiles under Data, the origin and its SRS in
// metadata.xml) against the first run over it. Run through ./bench-startup.sh.
#include "bench/overview_block.h"
#include "tools/sample_block.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The targets.
constexpr double kStartupRatio = 1.5; // brindle-export --version against the worker's start
constexpr double kRerunFaster = 10.0; // the first run against an unchanged re-run

constexpr char kSrs[] = "EPSG:4547";

struct Timed {
    double seconds = 0;
    int exitCode = -1;
};

// Runs `arguments` (the program first) to its end with `extraEnvironment` added to this
// program's, its input empty and its output going to `log` (or nowhere).
Timed RunProgram(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& extraEnvironment, const fs::path& log = {}) {
    std::vector<std::string> environment = extraEnvironment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        const bool overridden =
            std::any_of(extraEnvironment.begin(), extraEnvironment.end(),
                        [&](const std::string& extra) { return extra.rfind(name, 0) == 0; });
        if (!overridden)
            environment.push_back(entry);
    }
    std::vector<char*> argv, envp;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    const std::string output = log.empty() ? std::string("/dev/null") : log.string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    const int started = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        throw std::runtime_error("cannot start " + arguments[0]);
    int status = 0;
    waitpid(child, &status, 0);
    Timed timed;
    timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    timed.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return timed;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

std::string Ms(double seconds) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << seconds * 1000 << " ms";
    return text.str();
}

std::string Times(double ratio) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(ratio < 10 ? 2 : 1) << ratio << "x";
    return text.str();
}

void Verdict(bool pass, const std::string& target) {
    std::cout << (pass ? "PASS " : "FAIL ") << target << std::endl;
}

// The shared libraries the system's loader maps for `program` as it starts.
int SharedLibraries(const fs::path& program) {
    const std::string command = "ldd '" + program.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    int lines = 0;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        lines += c == '\n';
    return pclose(pipe) == 0 ? lines : -1;
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A production block of `tiles` production-shaped tiles under Data, written once into `root`
// and reused while its stamp says it was made so.
fs::path PrepareProductionBlock(const fs::path& root, int tiles) {
    const fs::path block = root / ("production-" + std::to_string(tiles));
    const fs::path complete = root / (block.filename().string() + "-complete.txt");
    const std::string stamp = "tiles " + std::to_string(tiles) + ", " + kSrs + "\n";
    if (ReadText(complete) == stamp && fs::exists(block / "metadata.xml"))
        return block;
    fs::remove(complete);
    fs::remove_all(block);
    std::cout << "writing a production block of " << tiles << " tiles ..." << std::endl;
    brindle::SampleBlockOptions options = brindle::bench::OverviewBlockOptions(tiles);
    brindle::WriteSampleBlock(block / "Data", options);
    // Its origin comes from metadata.xml alone, with the SRS that must be identified.
    fs::remove(block / "Data" / "report.txt");
    std::ofstream(block / "metadata.xml")
        << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n  <SRS>"
        << kSrs << "</SRS>\n  <SRSOrigin>" << std::setprecision(12) << options.originX << ","
        << options.originY << "," << options.originZ << "</SRSOrigin>\n</ModelMetadata>\n";
    std::ofstream(complete) << stamp;
    return block;
}

void MeasureStartup(const fs::path& exporter, const fs::path& worker, int runs) {
    std::cout << "start-up, the median of " << runs << " runs each:" << std::endl;
    std::vector<double> exporterTimes, workerTimes;
    // Taken in turn, so that what else the machine does falls on both alike.
    for (int i = 0; i < runs + 2; ++i) {
        const Timed version = RunProgram({exporter.string(), "--version"}, {});
        const Timed serve = RunProgram({worker.string(), "--serve"}, {});
        if (version.exitCode != 0 || serve.exitCode != 0)
            throw std::runtime_error("brindle-export --version or the worker failed");
        if (i < 2)
            continue; // the first runs bring the programs into the page cache
        exporterTimes.push_back(version.seconds);
        workerTimes.push_back(serve.seconds);
    }
    const double exporterMedian = Median(exporterTimes);
    const double workerMedian = Median(workerTimes);
    std::cout << "  brindle-export --version: " << Ms(exporterMedian) << ", "
              << SharedLibraries(exporter) << " shared libraries at start\n"
              << "  brindle-tile-check:       " << Ms(workerMedian) << ", "
              << SharedLibraries(worker) << " shared libraries at start" << std::endl;
    Verdict(exporterMedian <= kStartupRatio * workerMedian,
            "brindle-export --version starts within " + Times(kStartupRatio) +
                " of the worker's start (" + Times(exporterMedian / workerMedian) + ": " +
                Ms(exporterMedian) + " against " + Ms(workerMedian) + ")");
}

// Whether a run over `block` loads the projection library, as the loader tells (LD_DEBUG).
bool RunLoadsProj(const fs::path& exporter, const fs::path& block, const std::string& cache,
                  const fs::path& log) {
    fs::remove(log);
    RunProgram({exporter.string(), "-q", block.string()}, {cache, "LD_DEBUG=files"}, log);
    return ReadText(log).find("file=libproj") != std::string::npos;
}

void MeasureRerun(const fs::path& exporter, const fs::path& data, int tiles, int reruns) {
    const fs::path block = PrepareProductionBlock(data, tiles);
    const fs::path cacheFolder = data / "cache";
    const fs::path log = data / "startup-export.log";
    const std::string cache = "XDG_CACHE_HOME=" + cacheFolder.string();
    fs::remove_all(cacheFolder);
    fs::remove(block / "root.osgb");
    fs::remove(log);
    std::cout << "a production block of " << tiles << " tiles, " << kSrs
              << " in metadata.xml:" << std::endl;
    const Timed first = RunProgram({exporter.string(), "-q", block.string()}, {cache}, log);
    std::vector<double> times;
    bool failed = first.exitCode != 0;
    for (int i = 0; i < reruns; ++i) {
        const Timed again = RunProgram({exporter.string(), "-q", block.string()}, {cache}, log);
        failed = failed || again.exitCode != 0;
        times.push_back(again.seconds);
    }
    const double rerun = Median(times);
    const bool loads = RunLoadsProj(exporter, block, cache, data / "startup-ld-debug.log");
    std::cout << "  first run, empty cache: " << Ms(first.seconds) << "\n"
              << "  unchanged re-run:       " << Ms(rerun) << " (median of " << reruns
              << "); it loads PROJ: " << (loads ? "yes" : "no") << std::endl;
    Verdict(!failed && first.seconds >= kRerunFaster * rerun,
            "an unchanged re-run over " + std::to_string(tiles) + " production tiles at least " +
                Times(kRerunFaster) + " faster than the first run (" +
                Times(first.seconds / rerun) + ": " + Ms(rerun) + " against " + Ms(first.seconds) +
                (failed ? ", a run failed: see " + log.string() : "") + ")");
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Times brindle-export's start-up and its re-runs over an unchanged block."};
    fs::path data = BRINDLE_STARTUP_DATA_DIR;
    int runs = 50;
    int tiles = 2000;
    int reruns = 9;
    bool quick = std::getenv("BRINDLE_BENCH_QUICK") != nullptr;
    app.add_option("--data", data, "folder for the generated block (kept between runs)");
    app.add_option("--runs", runs, "start-up runs of each program")->check(CLI::Range(1, 10000));
    app.add_option("--tiles", tiles, "tiles in the production block")->check(CLI::Range(1, 100000));
    app.add_flag("--quick", quick, "fewer runs; also BRINDLE_BENCH_QUICK");
    CLI11_PARSE(app, argc, argv);
    if (quick) {
        runs = std::min(runs, 20);
        reruns = 5;
    }
    try {
        data = fs::absolute(data);
        fs::create_directories(data);
        MeasureStartup(BRINDLE_EXPORT_PATH, BRINDLE_WORKER_PATH, runs);
        std::cout << std::endl;
        MeasureRerun(BRINDLE_EXPORT_PATH, data, tiles, reruns);
    } catch (const std::exception& e) {
        std::cerr << "brindle-startup-bench: " << e.what() << "\n";
        return 2;
    }
    return 0;
}
