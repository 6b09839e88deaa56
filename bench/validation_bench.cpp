// brindle-bench: times brindle-export, whose tiles are parsed in worker processes, against a
// plain sequential load of every tile and against the same validation done in this process on
// threads; on many small tiles against a program that validates them on threads in-process
// (brindle-bench-validate); with a cold page cache against reading the same bytes; and
// measures the peak memory of the exporter and its workers. Run through ./bench.sh.
#include "bench/address_space_ceiling.h"
#include "bench/bench_data.h"
#include "bench/cache_block.h"
#include "bench/exporter_run.h"
#include "bench/in_process_validation.h"
#include "bench/index_listing.h"
#include "bench/page_cache.h"
#include "bench/small_tile_data.h"
#include "bench/timings.h"
#include "export/run/folder_cache.h"
#include "export/system/heap_reuse.h"

#include <CLI/CLI.hpp>

#include <osg/Notify>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <new>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;
using brindle::bench::ExporterRun;
using brindle::bench::Fixed;
using brindle::bench::InProcessRun;
using brindle::bench::Timings;
using Clock = std::chrono::steady_clock;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kBaselineTarget = 15.0;    // all cores against the sequential full load
constexpr double kJobsTarget = 1.8;         // all cores against one job
constexpr double kIsolationTarget = 0.10;   // workers against threads, on the block
constexpr double kSmallTilesTarget = 1.2;   // exporter against a threaded validator program
constexpr double kColdTarget = 1.5;         // cold export against the cold read floor
constexpr double kMemoryTargetMiB = 1536.0; // any one process of the run
constexpr double kUnchangedTarget = 20.0;   // first run against an unchanged re-run, cached
constexpr double kTouchedTarget = 10.0;     // first run against a re-run with 1% touched
constexpr std::uint64_t kBaselineCeiling = std::uint64_t{2} << 30;
constexpr int kMemoryRuns = 2; // sampled runs, apart from the timed ones

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Percent(double fraction) {
    return (fraction >= 0 ? "+" : "") + Fixed(100.0 * fraction, 1) + "%";
}

// The system's 1, 5 and 15 minute load averages: on a shared machine, what else was running.
std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void Verdict(bool pass, const std::string& target) {
    std::cout << (pass ? "PASS " : "FAIL ") << target << "\n";
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

// The sequential load a naive exporter would do: every tile in full, textures decoded and
// referenced scenes loaded, one after the other. Under an address-space ceiling, so that the
// hostile tile fails to allocate rather than take the machine's memory. Prints the seconds
// taken, then each file that loaded, a line each.
int PrintBaseline(const std::vector<fs::path>& probes) {
    const brindle::bench::ScopedAddressSpaceCeiling ceiling(kBaselineCeiling);
    std::vector<fs::path> loaded;
    const auto start = Clock::now();
    for (const auto& probe : probes) {
        try {
            const osg::ref_ptr<osg::Node> node =
                osgDB::readNodeFile(probe.string(), osgDB::Registry::instance()->getOptions());
            if (node.valid()) {
                loaded.push_back(probe);
            }
        } catch (const std::bad_alloc&) {
            // The hostile tile: it does not load.
        }
    }
    std::cout << SecondsSince(start) << "\n";
    for (const auto& file : loaded) {
        std::cout << file.string() << "\n";
    }
    return 0;
}

// The baseline in a process of its own, as a naive exporter would run it.
double TimeBaseline(const std::vector<fs::path>& probes, const fs::path& log,
                    std::set<fs::path>& loaded) {
    std::vector<std::string> args = {"/proc/self/exe", "--baseline-of"};
    for (const auto& probe : probes) {
        args.push_back(probe.string());
    }
    if (brindle::bench::RunWithStartEnvironment(args, log) != 0) {
        throw std::runtime_error("the baseline did not run to its end: " + log.string());
    }
    std::istringstream lines(brindle::bench::ReadFileBytes(log));
    std::string line;
    std::getline(lines, line);
    const double seconds = std::strtod(line.c_str(), nullptr);
    loaded.clear();
    while (std::getline(lines, line)) {
        loaded.insert(line);
    }
    return seconds;
}

// The runs check every tile unless `cached`: the verdict cache would otherwise answer for
// all but the first.
std::vector<std::string> ExportArguments(unsigned jobs, const std::vector<fs::path>& folders,
                                         bool quiet = true, bool cached = false) {
    std::vector<std::string> args = {"-j", std::to_string(jobs)};
    if (!cached) {
        args.push_back("--no-cache");
    }
    if (quiet) {
        args.insert(args.begin(), "-q");
    }
    for (const auto& folder : folders) {
        args.push_back(folder.string());
    }
    return args;
}

void RemoveIndexes(const std::vector<fs::path>& folders) {
    for (const auto& folder : folders) {
        fs::remove(folder / "root.osgb"); // a run that writes nothing must not pass
    }
}

// Runs brindle-export once on `folders` (index files removed first) and fails loudly when it
// does not succeed.
ExporterRun Export(unsigned jobs, const std::vector<fs::path>& folders, const fs::path& log,
                   bool sampleMemory = false, bool quiet = true) {
    RemoveIndexes(folders);
    const ExporterRun run =
        brindle::bench::RunExporter(ExportArguments(jobs, folders, quiet), log, sampleMemory);
    if (run.exitCode != 0) {
        std::cerr << brindle::bench::ReadFileBytes(log);
        throw std::runtime_error("brindle-export -j " + std::to_string(jobs) + " exited with " +
                                 std::to_string(run.exitCode));
    }
    return run;
}

struct Settings {
    brindle::bench::BenchDataOptions data;
    fs::path dataRoot = BRINDLE_BENCH_DATA_DIR;
    int runs = 5;
    int smallTiles = 10000;
    int coldRuns = 3;
    int cacheTiles = 10000;
    bool cacheOnly = false;
};

struct Data {
    std::vector<fs::path> block;
    std::vector<fs::path> probes;   // the block's subfolder root.osgb files
    std::vector<fs::path> allFiles; // every file of the block
    std::vector<fs::path> small;
    std::vector<fs::path> warmUp; // one small tile, to load the programs without the block
};

Data PrepareData(const Settings& settings, unsigned cores) {
    const auto start = Clock::now();
    Data data;
    data.block = brindle::bench::PrepareBenchData(settings.dataRoot, settings.data);
    data.probes = ListProbeFiles(data.block);
    data.allFiles = ListAllFiles(data.block);
    data.small = brindle::bench::PrepareSmallTileData(settings.dataRoot, settings.smallTiles, 2);
    data.warmUp = brindle::bench::PrepareSmallTileData(settings.dataRoot / "warm-up", 1, 1);

    std::uintmax_t smallest = UINTMAX_MAX, largest = 0, total = 0;
    for (const auto& probe : data.probes) {
        const std::uintmax_t size = fs::file_size(probe);
        total += size;
        if (size > std::uintmax_t{64} * 1024) { // the broken, hostile and index files aside
            smallest = std::min(smallest, size);
            largest = std::max(largest, size);
        }
    }
    const fs::path smallTile = data.small.front() / "Tile_00000" / "root.osgb";
    std::cout << "block: " << data.block.size() << " folders, " << data.probes.size()
              << " subfolder root.osgb files, " << Fixed(static_cast<double>(total) / kMiB, 0)
              << " MB (tiles " << Fixed(static_cast<double>(smallest) / kMiB, 2) << " to "
              << Fixed(static_cast<double>(largest) / kMiB, 2)
              << " MB, JPEG textures embedded; one hostile tile claiming a 24 GiB vertex array)\n";
    std::cout << "small tiles: " << settings.smallTiles << " tiles in " << data.small.size()
              << " folders, e.g. " << fs::file_size(smallTile) << " bytes each\n";
    std::cout << "data prepared in " << Fixed(SecondsSince(start), 1) << " s; cores: " << cores
              << "; load average " << LoadAverage() << "\n";
    return data;
}

struct Results {
    double baseline = 0;
    // The fewest page faults of any run on the block.
    std::uint64_t exportFaults = UINT64_MAX;
    std::uint64_t inProcessFaults = UINT64_MAX;
    Timings exportOne, exportAll, inProcessAll;
    Timings smallExport, smallValidator, smallInProcess;
    bool smallIndexesAgree = true;
    bool identical = true;
    std::size_t mismatches = 0;
    bool inProcessAgrees = true;
    bool coldMeasured = false;
    Timings coldExport, coldFloor;
    double fullyColdExport = 0;
    double coldFloorMiB = 0;
    double memoryTreeMiB = 0, memoryExporterMiB = 0, memoryWorkersMiB = 0;
    double cacheFirst = 0;
    Timings cacheUnchanged, cacheTouched;
    bool cacheIdentical = true;
};

void MeasureBlock(const Settings& settings, const Data& data, unsigned cores, Results& results) {
    const fs::path log = settings.dataRoot / "export.log";
    std::set<fs::path> loaded;
    brindle::bench::ReadFiles(data.allFiles);
    results.baseline = TimeBaseline(data.probes, settings.dataRoot / "baseline.log", loaded);
    std::cout << "baseline, sequential osgDB::readNodeFile of each: " << Fixed(results.baseline, 2)
              << " s (" << loaded.size() << " of " << data.probes.size() << " loaded)\n";

    // From here on this process validates as the exporter's workers do.
    brindle::KeepFreedMemoryForReuse();
    std::vector<std::string> reference;
    const auto exportOnce = [&](unsigned jobs, Timings& timings) {
        brindle::bench::ReadFiles(data.allFiles);
        const ExporterRun run = Export(jobs, data.block, log);
        timings.add(run.seconds, run.cpuSeconds);
        if (jobs == cores) {
            results.exportFaults = std::min(results.exportFaults, run.minorFaults);
        }
        const std::vector<std::string> indexes = brindle::bench::SnapshotIndexes(data.block);
        if (reference.empty()) {
            reference = indexes;
        }
        results.identical = results.identical && indexes == reference;
    };
    // Alternating keeps a slow spell of the machine from landing on one of them only.
    for (int i = 0; i < settings.runs; ++i) {
        exportOnce(1, results.exportOne);
        exportOnce(cores, results.exportAll);
        brindle::bench::ReadFiles(data.allFiles);
        const InProcessRun run = brindle::bench::ValidateInProcess(data.block, cores);
        results.inProcessAll.add(run.seconds, run.cpuSeconds);
        results.inProcessFaults = std::min(results.inProcessFaults, run.minorFaults);
        results.inProcessAgrees = results.inProcessAgrees && run.loaded == loaded;
    }
    results.mismatches =
        brindle::bench::ListingMismatches(data.block, reference, data.probes, loaded).size();

    const double overBaseline = results.baseline / results.exportAll.best();
    std::cout << "brindle-export -j 1: " << results.exportOne.describe() << ", "
              << Fixed(results.baseline / results.exportOne.best(), 1)
              << "x faster than baseline\n";
    std::cout << "brindle-export -j " << cores << ": " << results.exportAll.describe() << ", "
              << Fixed(overBaseline, 1) << "x faster than baseline, "
              << Fixed(results.exportOne.best() / results.exportAll.best(), 2) << "x over jobs 1\n";
    std::cout << "in-process validation, " << cores
              << " threads: " << results.inProcessAll.describe() << "; brindle-export -j " << cores
              << " takes " << Percent(results.exportAll.best() / results.inProcessAll.best() - 1)
              << " (" << Percent(results.exportAll.leastCpu() / results.inProcessAll.leastCpu() - 1)
              << " CPU)\n";
    // Workers start with an empty heap every run; this process's heap has grown already.
    std::cout << "page faults, fewest of any run: brindle-export -j " << cores << " "
              << results.exportFaults << " (exporter and workers), in-process "
              << results.inProcessFaults << "\n";
}

// Runs brindle-bench-validate once on `folders` (index files removed first) and fails loudly
// when it does not succeed.
ExporterRun ValidateInOwnProcess(unsigned jobs, const std::vector<fs::path>& folders,
                                 const fs::path& log) {
    RemoveIndexes(folders);
    std::vector<std::string> args = {"-j", std::to_string(jobs)};
    for (const auto& folder : folders) {
        args.push_back(folder.string());
    }
    const ExporterRun run = brindle::bench::RunInProcessValidator(args, log);
    if (run.exitCode != 0) {
        std::cerr << brindle::bench::ReadFileBytes(log);
        throw std::runtime_error("brindle-bench-validate -j " + std::to_string(jobs) +
                                 " exited with " + std::to_string(run.exitCode));
    }
    return run;
}

// The exporter against the same validation done without workers, by a program of its own
// that also starts, lists the folders and writes the indexes, timed as a whole process as the
// exporter is. Both write their indexes, which must be the same bytes. The in-process figure
// of this already warm process (plugin loaded, listing only) is shown beside it.
void MeasureSmallTiles(const Settings& settings, const Data& data, unsigned cores,
                       Results& results) {
    const fs::path log = settings.dataRoot / "export-small.log";
    const fs::path validateLog = settings.dataRoot / "validate-small.log";
    std::vector<fs::path> files;
    for (const auto& folder : data.small) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            files.push_back(entry.path() / "root.osgb");
        }
    }
    for (int i = 0; i < settings.runs; ++i) {
        brindle::bench::ReadFiles(files);
        const ExporterRun exported = Export(cores, data.small, log);
        results.smallExport.add(exported.seconds, exported.cpuSeconds);
        const std::vector<std::string> exportedIndexes =
            brindle::bench::SnapshotIndexes(data.small);
        brindle::bench::ReadFiles(files);
        const ExporterRun validator = ValidateInOwnProcess(cores, data.small, validateLog);
        results.smallValidator.add(validator.seconds, validator.cpuSeconds);
        results.smallIndexesAgree = results.smallIndexesAgree &&
                                    brindle::bench::SnapshotIndexes(data.small) == exportedIndexes;
        brindle::bench::ReadFiles(files);
        const InProcessRun validated = brindle::bench::ValidateInProcess(data.small, cores);
        results.smallInProcess.add(validated.seconds, validated.cpuSeconds);
    }
    const auto perTile = [&](double exporter, double other) {
        return Fixed(1e6 * (exporter - other) / static_cast<double>(settings.smallTiles), 0);
    };
    const Timings& exported = results.smallExport;
    std::cout << "small tiles, brindle-export -j " << cores << ": " << exported.describe() << "\n";
    std::cout << "small tiles, brindle-bench-validate -j " << cores
              << " (a process of its own checking on threads, index written): "
              << results.smallValidator.describe() << "; brindle-export takes "
              << Fixed(exported.best() / results.smallValidator.best(), 2) << "x, "
              << perTile(exported.best(), results.smallValidator.best()) << " us more a tile ("
              << perTile(exported.leastCpu(), results.smallValidator.leastCpu())
              << " us more CPU)\n";
    std::cout << "small tiles, in-process validation in this warm process (information), " << cores
              << " threads: " << results.smallInProcess.describe() << "; brindle-export takes "
              << Fixed(exported.best() / results.smallInProcess.best(), 2) << "x, "
              << perTile(exported.best(), results.smallInProcess.best()) << " us more a tile ("
              << perTile(exported.leastCpu(), results.smallInProcess.leastCpu())
              << " us more CPU)\n";
}

// What a run costs before it checks anything: starting the exporter and its workers, shown
// by exports of a folder holding one small tile.
void MeasureFixedCost(const Settings& settings, const Data& data, unsigned cores) {
    const fs::path log = settings.dataRoot / "export-one.log";
    Timings one, all;
    for (int i = 0; i < settings.runs; ++i) {
        const ExporterRun single = Export(1, data.warmUp, log);
        one.add(single.seconds, single.cpuSeconds);
        const ExporterRun several = Export(cores, data.warmUp, log);
        all.add(several.seconds, several.cpuSeconds);
    }
    std::cout << "one small tile, brindle-export -j 1: " << one.describe() << "\n";
    std::cout << "one small tile, brindle-export -j " << cores << ": " << all.describe() << "\n";
}

// Cold runs: the page cache is dropped, then the programs (not the block) are brought back by
// an export of a one-tile folder, so that what is timed is reading the tiles, not loading
// the scene-graph libraries from disk. One fully cold run shows what the libraries add.
void MeasureColdCache(const Settings& settings, const Data& data, unsigned cores,
                      Results& results) {
    if (!brindle::bench::DropPageCache()) {
        std::cout << "cold cache: skipped: cannot drop the page cache\n";
        return;
    }
    results.coldMeasured = true;
    const fs::path log = settings.dataRoot / "export-cold.log";
    const auto warmPrograms = [&] { Export(cores, data.warmUp, log); };
    for (int i = 0; i < settings.coldRuns; ++i) {
        brindle::bench::DropPageCache();
        warmPrograms();
        const ExporterRun run = Export(cores, data.block, log);
        results.coldExport.add(run.seconds, run.cpuSeconds);
        brindle::bench::DropPageCache();
        warmPrograms();
        const auto start = Clock::now();
        const std::uintmax_t bytes = brindle::bench::ReadFiles(data.probes, cores);
        results.coldFloor.add(SecondsSince(start));
        results.coldFloorMiB = static_cast<double>(bytes) / kMiB;
    }
    brindle::bench::DropPageCache();
    results.fullyColdExport = Export(cores, data.block, log).seconds;

    std::cout << "cold cache, brindle-export -j " << cores << ": " << results.coldExport.describe()
              << "\n";
    std::cout << "cold cache, floor: " << cores << " threads reading the "
              << Fixed(results.coldFloorMiB, 0)
              << " MB of subfolder root.osgb files: " << results.coldFloor.describe()
              << "; brindle-export takes "
              << Fixed(results.coldExport.best() / results.coldFloor.best(), 2) << "x\n";
    std::cout << "cold cache, reading and then parsing without overlap would take the floor plus "
                 "the warm export: "
              << Fixed(results.coldFloor.best() + results.exportAll.best(), 3) << " s\n";
    std::cout << "cold cache with the programs' own files cold too: brindle-export -j " << cores
              << " " << Fixed(results.fullyColdExport, 3) << " s (one run)\n";
}

// The verdict cache: a block of real-size tiles exported three ways, each after the one
// before, the index of the last run left in place as a user's re-run finds it: the first run
// with an empty cache, re-runs with nothing changed, and re-runs with the same 1% of the tiles
// rewritten (their bytes the same, their stamps new).
void MeasureVerdictCache(const Settings& settings, unsigned cores, Results& results) {
    const fs::path block =
        brindle::bench::PrepareCacheBlock(settings.dataRoot, settings.cacheTiles);
    const std::vector<fs::path> tiles = brindle::bench::CacheBlockTiles(block);
    const fs::path cache = settings.dataRoot / "verdict-cache";
    const fs::path log = settings.dataRoot / "export-cache.log";
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const std::vector<std::string> args = ExportArguments(cores, {block}, true, true);
    std::string reference;
    const auto exportOnce = [&](Timings* timings) {
        const ExporterRun run = brindle::bench::RunExporter(args, log);
        if (run.exitCode != 0) {
            std::cerr << brindle::bench::ReadFileBytes(log);
            throw std::runtime_error("brindle-export on the cache block exited with " +
                                     std::to_string(run.exitCode));
        }
        const std::string index = brindle::bench::ReadFileBytes(block / "root.osgb");
        if (reference.empty()) {
            reference = index;
        }
        results.cacheIdentical = results.cacheIdentical && index == reference;
        if (timings) {
            timings->add(run.seconds, run.cpuSeconds);
        }
        return run.seconds;
    };
    std::uintmax_t bytes = 0;
    for (const auto& tile : tiles) {
        bytes += fs::file_size(tile);
    }
    brindle::bench::ReadFiles(tiles);
    fs::remove_all(cache);
    fs::remove(block / "root.osgb");
    results.cacheFirst = exportOnce(nullptr);
    // A user's re-run comes later than a second after the run before: by then the index that
    // run wrote has settled, and the cache may vouch for it (a file is trusted by its stamp
    // only once its clock tick has passed).
    std::this_thread::sleep_for(brindle::kSettleTime + std::chrono::milliseconds(100));
    for (int i = 0; i < settings.runs; ++i) {
        exportOnce(&results.cacheUnchanged);
    }
    // The same tiles each time: a tile changed just before a run is checked, and its verdict
    // is kept only once it has settled, so other tiles would add up.
    std::vector<fs::path> touched;
    for (std::size_t i = 0; i < tiles.size(); i += 100) {
        touched.push_back(tiles[i]);
    }
    for (int i = 0; i < settings.runs; ++i) {
        for (const auto& tile : touched) {
            brindle::bench::Rewrite(tile);
        }
        exportOnce(&results.cacheTouched);
    }
    std::cout << "verdict cache, " << tiles.size() << " tiles of "
              << Fixed(static_cast<double>(bytes) / static_cast<double>(tiles.size()) / 1024.0, 0)
              << " KB on average (" << Fixed(static_cast<double>(bytes) / kMiB, 0)
              << " MB), brindle-export -j " << cores << ": first run, empty cache "
              << Fixed(results.cacheFirst, 2) << " s\n";
    std::cout << "verdict cache, re-run unchanged: " << results.cacheUnchanged.describe() << "\n";
    std::cout << "verdict cache, re-run with " << touched.size()
              << " tiles rewritten: " << results.cacheTouched.describe() << "\n";
}

// The hostile tile's line among the left-out tiles of brindle-export's output.
std::string HostileEntry(const std::string& output) {
    const std::size_t at = output.find("Hostile_Tile: ");
    if (at == std::string::npos) {
        return "not reported as left out";
    }
    const std::size_t end = output.find('\n', at);
    return output.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

void MeasureMemory(const Settings& settings, const Data& data, unsigned cores, Results& results) {
    const fs::path log = settings.dataRoot / "export-memory.log";
    std::size_t workers = 0, samples = 0;
    for (int i = 0; i < kMemoryRuns; ++i) {
        brindle::bench::ReadFiles(data.allFiles);
        const ExporterRun run = Export(cores, data.block, log, true, false);
        results.memoryTreeMiB =
            std::max(results.memoryTreeMiB, static_cast<double>(run.maxResidentKiB) / 1024.0);
        results.memoryExporterMiB = std::max(results.memoryExporterMiB,
                                             static_cast<double>(run.sampled->childKiB) / 1024.0);
        results.memoryWorkersMiB = std::max(
            results.memoryWorkersMiB, static_cast<double>(run.sampled->grandchildKiB) / 1024.0);
        workers = std::max(workers, run.sampled->grandchildren.size());
        samples += run.sampled->samples;
    }
    std::cout << "peak RSS, brindle-export -j " << cores << " on the block, " << kMemoryRuns
              << " runs: /usr/bin/time -v (exporter and the workers it reaped) "
              << Fixed(results.memoryTreeMiB, 1) << " MB; sampled every 50 ms (" << samples
              << " samples): exporter " << Fixed(results.memoryExporterMiB, 1) << " MB, largest of "
              << workers << " workers seen " << Fixed(results.memoryWorkersMiB, 1) << " MB\n";
    std::cout << "hostile tile: " << HostileEntry(brindle::bench::ReadFileBytes(log)) << "\n";
}

void PrintVerdicts(const Results& r, unsigned cores, std::size_t folders) {
    const double overBaseline = r.baseline / r.exportAll.best();
    const double overJobs1 = r.exportOne.best() / r.exportAll.best();
    const double isolation = r.exportAll.best() / r.inProcessAll.best() - 1;
    const double small = r.smallExport.best() / r.smallValidator.best();
    const double peak = std::max({r.memoryTreeMiB, r.memoryExporterMiB, r.memoryWorkersMiB});
    const std::string jobs = "-j " + std::to_string(cores);
    Verdict(isolation <= kIsolationTarget,
            "isolation costs at most " + Fixed(100 * kIsolationTarget, 0) + "%: " + jobs +
                " takes " + Percent(isolation) + " against in-process validation");
    Verdict(overBaseline >= kBaselineTarget,
            jobs + " at least " + Fixed(kBaselineTarget, 0) +
                "x faster than baseline: " + Fixed(overBaseline, 1) + "x");
    Verdict(overJobs1 >= kJobsTarget, jobs + " at least " + Fixed(kJobsTarget, 1) +
                                          "x faster than -j 1: " + Fixed(overJobs1, 2) + "x");
    Verdict(small <= kSmallTilesTarget,
            "small tiles: at most " + Fixed(kSmallTilesTarget, 1) +
                "x the in-process validator run as a program of its own: " + Fixed(small, 2) + "x");
    Verdict(r.smallIndexesAgree,
            "small tiles: the in-process validator writes the same index files as brindle-export");
    if (r.coldMeasured) {
        const double cold = r.coldExport.best() / r.coldFloor.best();
        Verdict(cold <= kColdTarget, "cold cache: within " + Fixed(kColdTarget, 1) +
                                         "x of the read floor: " + Fixed(cold, 2) + "x");
    } else {
        std::cout << "SKIP cold cache: cannot drop the page cache\n";
    }
    Verdict(peak <= kMemoryTargetMiB, "no process above " + Fixed(kMemoryTargetMiB, 0) +
                                          " MB: largest " + Fixed(peak, 1) + " MB");
    Verdict(r.identical, "index files byte-identical for -j 1 and " + jobs + " (" +
                             std::to_string(folders) + " files)");
    Verdict(r.mismatches == 0, "index files list exactly the tiles the baseline loads (" +
                                   std::to_string(r.mismatches) + " differ)");
    Verdict(r.inProcessAgrees, "in-process validation loads exactly the tiles the baseline loads");
}

void PrintCacheVerdicts(const Results& r) {
    const double unchanged = r.cacheFirst / r.cacheUnchanged.best();
    const double touched = r.cacheFirst / r.cacheTouched.best();
    Verdict(unchanged >= kUnchangedTarget,
            "verdict cache: unchanged re-run at least " + Fixed(kUnchangedTarget, 0) +
                "x faster than the first run: " + Fixed(unchanged, 1) + "x");
    Verdict(touched >= kTouchedTarget,
            "verdict cache: re-run with 1% touched at least " + Fixed(kTouchedTarget, 0) +
                "x faster than the first run: " + Fixed(touched, 1) + "x");
    Verdict(r.cacheIdentical, "verdict cache: index byte-identical in every run");
}

int RunBench(const Settings& settings) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (settings.cacheOnly) {
        Results results;
        MeasureVerdictCache(settings, cores, results);
        PrintCacheVerdicts(results);
        return 0;
    }
    const Data data = PrepareData(settings, cores);
    Results results;
    MeasureBlock(settings, data, cores, results);
    MeasureSmallTiles(settings, data, cores, results);
    MeasureFixedCost(settings, data, cores);
    MeasureColdCache(settings, data, cores, results);
    MeasureMemory(settings, data, cores, results);
    MeasureVerdictCache(settings, cores, results);
    std::cout << "load average at the end: " << LoadAverage() << "\n";
    PrintVerdicts(results, cores, data.block.size());
    PrintCacheVerdicts(results);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Benchmarks brindle-export's tile validation on generated blocks."};
    Settings settings;
    bool quick = std::getenv("BRINDLE_BENCH_QUICK") != nullptr;
    app.add_flag("--quick", quick,
                 "Small data sets (2 folders x 20 tiles, 2000 small tiles, 1000 tiles for the "
                 "verdict cache, 3 runs); also "
                 "BRINDLE_BENCH_QUICK");
    app.add_option("--folders", settings.data.folders, "Block folders to generate")
        ->capture_default_str()
        ->check(CLI::Range(1, 26));
    app.add_option("--tiles", settings.data.tilesPerFolder, "Tiles per block folder")
        ->capture_default_str()
        ->check(CLI::Range(1, 5000));
    app.add_option("--small-tiles", settings.smallTiles, "Small tiles, over two folders")
        ->capture_default_str()
        ->check(CLI::Range(2, 100000));
    app.add_option("--runs", settings.runs, "Timed warm runs of each; the best counts")
        ->capture_default_str()
        ->check(CLI::Range(1, 20));
    app.add_option("--cold-runs", settings.coldRuns, "Timed cold runs of each; the best counts")
        ->capture_default_str()
        ->check(CLI::Range(1, 20));
    app.add_option("--cache-tiles", settings.cacheTiles,
                   "Real-size tiles in the verdict cache's block")
        ->capture_default_str()
        ->check(CLI::Range(100, 100000));
    app.add_flag("--cache-only", settings.cacheOnly, "Measure the verdict cache only");
    app.add_option("--data", settings.dataRoot, "Where generated data is kept")
        ->capture_default_str();
    std::vector<fs::path> baselineOf;
    app.add_option("--baseline-of", baselineOf,
                   "Only time the sequential load of these files, and print what loaded")
        ->group("");
    CLI11_PARSE(app, argc, argv);
    if (quick) {
        // Only what was not given explicitly.
        if (app.count("--tiles") == 0) {
            settings.data.tilesPerFolder = 20;
        }
        settings.data.nestedIndexesPerFolder = 1;
        if (app.count("--small-tiles") == 0) {
            settings.smallTiles = 2000;
        }
        if (app.count("--runs") == 0) {
            settings.runs = 3;
        }
        if (app.count("--cold-runs") == 0) {
            settings.coldRuns = 1;
        }
        if (app.count("--cache-tiles") == 0) {
            settings.cacheTiles = 1000;
        }
    }
    settings.data.threads = std::max(1u, std::thread::hardware_concurrency());
    // Nested indexes name a missing tile on purpose, and broken tiles are there to fail; the
    // reader's warnings about them would only clutter the output.
    osg::setNotifyLevel(osg::FATAL);
    if (!baselineOf.empty()) {
        return PrintBaseline(baselineOf);
    }

    try {
        return RunBench(settings);
    } catch (const std::exception& e) {
        std::cerr << "brindle-bench: " << e.what() << "\n";
        return 1;
    }
}
