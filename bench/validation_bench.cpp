// brindle-bench: times brindle-export's tile validation against a plain sequential load of
// every tile, against reading the tiles' bytes from the page cache, and checks its memory
// and that its output does not depend on the number of jobs. Run through ./bench.sh.
#include "bench/bench_data.h"

#include <CLI/CLI.hpp>

#include <osg/Geometry>
#include <osg/Image>
#include <osg/NodeVisitor>
#include <osg/Notify>
#include <osg/StateSet>
#include <osg/Texture>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kMemoryHeadroomMiB = 100.0;
constexpr double kBaselineTarget = 6.0;
constexpr double kJobsTarget = 1.8;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What brindle-export validates: the root.osgb directly in each immediate subfolder.
std::vector<fs::path> ListProbeFiles(const std::vector<fs::path>& folders) {
    std::vector<fs::path> files;
    for (const auto& folder : folders) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            const fs::path root = entry.path() / "root.osgb";
            if (entry.is_directory() && fs::is_regular_file(root)) {
                files.push_back(root);
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Everything a full load may touch, nested tiles included: what warming has to cover.
std::vector<fs::path> ListAllFiles(const std::vector<fs::path>& folders) {
    std::vector<fs::path> files;
    for (const auto& folder : folders) {
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    return files;
}

std::uintmax_t ReadAllBytes(const std::vector<fs::path>& files) {
    std::vector<char> buffer(1 << 20);
    std::uintmax_t total = 0;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               in.gcount() > 0) {
            total += static_cast<std::uintmax_t>(in.gcount());
        }
    }
    return total;
}

// The sequential load a naive exporter would do: every tile in full, textures decoded and
// referenced scenes loaded, one after the other.
double TimeBaseline(const std::vector<fs::path>& probes, std::set<fs::path>& loaded) {
    // Nested indexes name a missing tile on purpose; its warnings would only clutter the output.
    const osg::NotifySeverity previous = osg::getNotifyLevel();
    osg::setNotifyLevel(osg::FATAL);
    loaded.clear();
    const auto start = Clock::now();
    for (const auto& probe : probes) {
        const osg::ref_ptr<osg::Node> node =
            osgDB::readNodeFile(probe.string(), osgDB::Registry::instance()->getOptions());
        if (node.valid()) {
            loaded.insert(probe);
        }
    }
    const double seconds = SecondsSince(start);
    osg::setNotifyLevel(previous);
    return seconds;
}

double TimePageCacheRead(const std::vector<fs::path>& probes, std::uintmax_t& bytes) {
    const auto start = Clock::now();
    bytes = ReadAllBytes(probes);
    return SecondsSince(start);
}

struct ChildRun {
    double seconds = 0;
    double peakRssMiB = 0;
    int exitCode = -1;
};

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs brindle-export as its own process, its output going to `log` to be shown only if it
// fails. The peak memory comes from /usr/bin/time rather than from wait4: a child spawned
// from this process inherits this process's high-water mark (the tiles it loaded) through
// exec, while /usr/bin/time is small when it starts the exporter.
ChildRun RunExporter(unsigned jobs, const std::vector<fs::path>& folders, const fs::path& log) {
    const fs::path rssFile = log.string() + ".rss";
    std::vector<std::string> args = {
        "/usr/bin/time",     "-f", "%M", "-o", rssFile.string(), BRINDLE_EXPORT_PATH, "-q", "-j",
        std::to_string(jobs)};
    for (const auto& folder : folders) {
        args.push_back(folder.string());
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    ChildRun run;
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawnError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        throw std::runtime_error(std::string("cannot start ") + argv[0]);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        throw std::runtime_error("lost track of brindle-export");
    }
    run.seconds = SecondsSince(start);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream rss(ReadFileBytes(rssFile));
    double kilobytes = 0;
    if (run.exitCode == 0 && !(rss >> kilobytes)) {
        throw std::runtime_error("/usr/bin/time reported no peak memory in " + rssFile.string());
    }
    run.peakRssMiB = kilobytes / 1024.0;
    return run;
}

// Whether a folder's index names `probe`'s tile. The binary format stores a string as its
// length followed by its bytes, so the length keeps one name from matching inside another.
bool IndexListsTile(const std::string& index, const fs::path& probe) {
    const std::string entry = probe.parent_path().filename().string() + "\\root.osgb";
    const auto length = static_cast<std::uint32_t>(entry.size());
    std::string stored(reinterpret_cast<const char*>(&length), sizeof length);
    return index.find(stored + entry) != std::string::npos;
}

// The probes whose listing in their folder's index differs from whether the baseline loaded
// them.
std::vector<fs::path> ListingMismatches(const std::vector<fs::path>& folders,
                                        const std::vector<std::string>& indexes,
                                        const std::vector<fs::path>& probes,
                                        const std::set<fs::path>& loaded) {
    std::vector<fs::path> mismatches;
    for (const auto& probe : probes) {
        const fs::path folder = probe.parent_path().parent_path();
        const auto at = std::find(folders.begin(), folders.end(), folder);
        const bool listed = at != folders.end() &&
                            IndexListsTile(indexes[std::size_t(at - folders.begin())], probe);
        if (listed != (loaded.count(probe) > 0)) {
            mismatches.push_back(probe);
        }
    }
    return mismatches;
}

std::vector<std::string> SnapshotIndexes(const std::vector<fs::path>& folders) {
    std::vector<std::string> indexes;
    indexes.reserve(folders.size());
    for (const auto& folder : folders) {
        indexes.push_back(ReadFileBytes(folder / "root.osgb"));
    }
    return indexes;
}

// Sums what a loaded scene holds in memory: decoded images and vertex and index arrays,
// each counted once however often it is shared.
class LoadedSizeVisitor : public osg::NodeVisitor {
public:
    LoadedSizeVisitor() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    std::uintmax_t bytes() const { return bytes_; }

    void apply(osg::Node& node) override {
        addStateSet(node.getStateSet());
        traverse(node);
    }

    void apply(osg::Geometry& geometry) override {
        addStateSet(geometry.getStateSet());
        for (const osg::Array* array :
             {geometry.getVertexArray(), geometry.getNormalArray(), geometry.getColorArray(),
              geometry.getSecondaryColorArray(), geometry.getFogCoordArray()}) {
            addBuffer(array);
        }
        for (const auto& array : geometry.getTexCoordArrayList()) {
            addBuffer(array.get());
        }
        for (const auto& array : geometry.getVertexAttribArrayList()) {
            addBuffer(array.get());
        }
        for (const auto& primitives : geometry.getPrimitiveSetList()) {
            addBuffer(primitives.get());
        }
    }

private:
    void addBuffer(const osg::BufferData* data) {
        if (data && seen_.insert(data).second) {
            bytes_ += data->getTotalDataSize();
        }
    }

    void addStateSet(const osg::StateSet* stateSet) {
        if (!stateSet) {
            return;
        }
        for (const auto& unit : stateSet->getTextureAttributeList()) {
            for (const auto& attribute : unit) {
                const auto* texture =
                    dynamic_cast<const osg::Texture*>(attribute.second.first.get());
                for (unsigned i = 0; texture && i < texture->getNumImages(); ++i) {
                    const osg::Image* image = texture->getImage(i);
                    if (image && seen_.insert(image).second) {
                        bytes_ += image->getTotalSizeInBytesIncludingMipmaps();
                    }
                }
            }
        }
    }

    std::set<const void*> seen_;
    std::uintmax_t bytes_ = 0;
};

// The largest files are the tiles with the largest textures, which dominate a tile's loaded
// size; checking a few guards against a fine mesh beside a slightly smaller texture.
std::pair<fs::path, double> LargestLoadedTileMiB(std::vector<fs::path> probes) {
    std::sort(probes.begin(), probes.end(), [](const fs::path& a, const fs::path& b) {
        return fs::file_size(a) > fs::file_size(b);
    });
    probes.resize(std::min<std::size_t>(probes.size(), 3));
    std::pair<fs::path, double> largest{{}, 0.0};
    for (const auto& probe : probes) {
        const osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(probe.string());
        if (!node) {
            throw std::runtime_error("cannot load " + probe.string());
        }
        LoadedSizeVisitor visitor;
        node->accept(visitor);
        const double mib = static_cast<double>(visitor.bytes()) / kMiB;
        if (mib > largest.second) {
            largest = {probe, mib};
        }
    }
    return largest;
}

const char* Verdict(bool pass) {
    return pass ? "PASS" : "MISS";
}

std::string Fixed(double value, int digits) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(digits) << value;
    return out.str();
}

struct BestRuns {
    ChildRun best;         // the fastest run
    double peakRssMiB = 0; // the highest peak over all runs
    bool identical = true; // every run wrote the reference indexes byte for byte
};

// Times one export with a warm page cache and adds it to `result`; its indexes are compared
// with `reference`, which the first run ever fills.
void TimeExport(unsigned jobs, const std::vector<fs::path>& folders,
                const std::vector<fs::path>& allFiles, const fs::path& log,
                std::vector<std::string>& reference, BestRuns& result) {
    for (const auto& folder : folders) {
        fs::remove(folder / "root.osgb"); // a run that writes nothing must not pass
    }
    ReadAllBytes(allFiles);
    const ChildRun run = RunExporter(jobs, folders, log);
    if (run.exitCode != 0) {
        std::cerr << ReadFileBytes(log);
        throw std::runtime_error("brindle-export -j " + std::to_string(jobs) + " exited with " +
                                 std::to_string(run.exitCode));
    }
    const std::vector<std::string> indexes = SnapshotIndexes(folders);
    if (reference.empty()) {
        reference = indexes;
    }
    result.identical = result.identical && indexes == reference;
    result.peakRssMiB = std::max(result.peakRssMiB, run.peakRssMiB);
    if (result.best.exitCode != 0 || run.seconds < result.best.seconds) {
        result.best = run;
    }
}

struct Settings {
    brindle::bench::BenchDataOptions data;
    fs::path dataRoot = BRINDLE_BENCH_DATA_DIR;
    int runs = 5;
};

int RunBench(const Settings& settings) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    auto start = Clock::now();
    const std::vector<fs::path> folders =
        brindle::bench::PrepareBenchData(settings.dataRoot, settings.data);
    const double prepareSeconds = SecondsSince(start);
    const std::vector<fs::path> probes = ListProbeFiles(folders);
    const std::vector<fs::path> allFiles = ListAllFiles(folders);

    std::uintmax_t smallestTile = UINTMAX_MAX, largestTile = 0;
    for (const auto& probe : probes) {
        const std::uintmax_t size = fs::file_size(probe);
        if (size > std::uintmax_t{64} * 1024) { // skip the broken folders and the nested indexes
            smallestTile = std::min(smallestTile, size);
            largestTile = std::max(largestTile, size);
        }
    }
    std::cout << "data: " << folders.size() << " folders, " << probes.size()
              << " subfolder root.osgb files (tiles "
              << Fixed(static_cast<double>(smallestTile) / kMiB, 2) << " to "
              << Fixed(static_cast<double>(largestTile) / kMiB, 2) << " MB), " << allFiles.size()
              << " files, "
              << "prepared in " << Fixed(prepareSeconds, 1) << " s\n";
    std::cout << "cores: " << cores << "\n";

    ReadAllBytes(allFiles);
    std::set<fs::path> loaded;
    const double baseline = TimeBaseline(probes, loaded);
    std::cout << "baseline, sequential osgDB::readNodeFile of each: " << Fixed(baseline, 2)
              << " s (" << loaded.size() << " of " << probes.size() << " loaded)\n";

    const fs::path log = settings.dataRoot / "export.log";
    std::vector<std::string> reference;
    // Alternating the two keeps a slow spell of the machine from landing on one of them only.
    BestRuns single;
    BestRuns all;
    for (int i = 0; i < settings.runs; ++i) {
        TimeExport(1, folders, allFiles, log, reference, single);
        TimeExport(cores, folders, allFiles, log, reference, all);
    }
    const double overBaseline = baseline / all.best.seconds;
    const double overJobs1 = single.best.seconds / all.best.seconds;
    std::cout << "brindle-export -j 1: " << Fixed(single.best.seconds, 3) << " s (best of "
              << settings.runs << "), " << Fixed(baseline / single.best.seconds, 1)
              << "x faster than baseline\n";
    std::cout << "brindle-export -j " << cores << ": " << Fixed(all.best.seconds, 3)
              << " s (best of " << settings.runs << "), " << Fixed(overBaseline, 1)
              << "x faster than baseline, " << Fixed(overJobs1, 2) << "x over jobs 1\n";

    double floor = 0;
    std::uintmax_t floorBytes = 0;
    for (int i = 0; i < settings.runs; ++i) {
        ReadAllBytes(allFiles);
        std::uintmax_t bytes = 0;
        const double seconds = TimePageCacheRead(probes, bytes);
        if (i == 0 || seconds < floor) {
            floor = seconds;
        }
        floorBytes = bytes;
    }
    const double overFloor = all.best.seconds / floor;
    std::cout << "page-cache floor, reading " << Fixed(static_cast<double>(floorBytes) / kMiB, 0)
              << " MB of subfolder root.osgb files: " << Fixed(floor, 3) << " s (best of "
              << settings.runs << "); -j " << cores << " takes " << Fixed(overFloor, 1)
              << "x the floor\n";

    const auto [largestPath, largestMiB] = LargestLoadedTileMiB(probes);
    const double budget = cores * largestMiB + kMemoryHeadroomMiB;
    std::cout << "largest tile loaded in full: " << Fixed(largestMiB, 1)
              << " MB of images and arrays ("
              << fs::relative(largestPath, settings.dataRoot).string() << ")\n";
    std::cout << "peak RSS: -j 1 " << Fixed(single.peakRssMiB, 1) << " MB, -j " << cores << " "
              << Fixed(all.peakRssMiB, 1) << " MB; budget " << cores << " x "
              << Fixed(largestMiB, 1) << " + " << kMemoryHeadroomMiB << " = " << Fixed(budget, 1)
              << " MB\n";

    const bool identical = single.identical && all.identical;
    const std::vector<fs::path> mismatches = ListingMismatches(folders, reference, probes, loaded);
    for (const auto& probe : mismatches) {
        std::cout << "listed differently from the baseline: " << probe.string() << "\n";
    }
    std::cout << Verdict(overBaseline >= kBaselineTarget) << " -j " << cores << " at least "
              << kBaselineTarget << "x faster than baseline\n";
    std::cout << Verdict(overJobs1 >= kJobsTarget) << " -j " << cores << " at least " << kJobsTarget
              << "x faster than -j 1\n";
    std::cout << Verdict(all.peakRssMiB < budget) << " peak RSS below jobs x largest tile + "
              << kMemoryHeadroomMiB << " MB\n";
    std::cout << Verdict(identical) << " index files byte-identical for -j 1 and -j " << cores
              << " (" << folders.size() << " files, " << 2 * settings.runs << " runs)\n";
    std::cout << Verdict(mismatches.empty()) << " index files list exactly the " << loaded.size()
              << " tiles the baseline loads\n";
    std::cout << "summary: " << Fixed(overBaseline, 1) << "x faster than baseline, "
              << Fixed(overJobs1, 2) << "x over jobs 1, " << Fixed(overFloor, 1)
              << "x the page-cache floor, peak RSS " << Fixed(all.peakRssMiB, 0) << " MB vs "
              << cores << " x " << Fixed(largestMiB, 0) << " MB + " << kMemoryHeadroomMiB
              << " MB budget, output " << (identical ? "identical" : "DIFFERS") << ", "
              << (mismatches.empty() ? "same tiles as baseline" : "TILES DIFFER FROM BASELINE")
              << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Benchmarks brindle-export's tile validation on generated blocks."};
    Settings settings;
    bool quick = std::getenv("BRINDLE_BENCH_QUICK") != nullptr;
    app.add_flag("--quick", quick,
                 "Small data set (2 folders x 20 tiles); also BRINDLE_BENCH_QUICK");
    app.add_option("--folders", settings.data.folders, "Block folders to generate")
        ->capture_default_str()
        ->check(CLI::Range(1, 26));
    app.add_option("--tiles", settings.data.tilesPerFolder, "Tiles per folder")
        ->capture_default_str()
        ->check(CLI::Range(1, 5000));
    app.add_option("--runs", settings.runs, "Timed runs of each export; the best counts")
        ->capture_default_str()
        ->check(CLI::Range(1, 20));
    app.add_option("--data", settings.dataRoot, "Where generated data is kept")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    if (quick) {
        settings.data.tilesPerFolder = 20;
        settings.data.nestedIndexesPerFolder = 1;
    }
    settings.data.threads = std::max(1u, std::thread::hardware_concurrency());

    try {
        return RunBench(settings);
    } catch (const std::exception& e) {
        std::cerr << "brindle-bench: " << e.what() << "\n";
        return 1;
    }
}
