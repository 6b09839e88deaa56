// tile_mutation_fuzz: damages generated tiles at random, seeded, and checks that the export
// run's verdict on each damaged tile agrees with what a plain load of it does. The tiles are
// binary scenes (raw and JPEG textures, some larger than the size at which the run reads
// ahead), zlib-compressed binary scenes and text scenes; the damage is cut ends, overwritten
// and inserted bytes, and huge counts and lengths where the reader takes them from.
//
// A plain load runs in a child process under the worker's memory ceiling and deadline:
//   - it returns a scene: the run must list the tile;
//   - it returns nothing: the run must leave the tile out;
//   - it crashes, hangs or runs out of memory: the run must go on and leave the tile out
//     with its reason.
// A disagreement prints the seed and the mutant's number (--seed S --only N makes that one
// mutant again), saves the mutant to --failures, and ends with status 1.
#include "export/export_run.h"
#include "tools/sample_block.h"

#include <CLI/CLI.hpp>
#include <osg/Notify>
#include <osgDB/Options>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using Random = std::mt19937_64;

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return bytes.str();
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << bytes;
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
}

std::string LittleEndian32(std::uint32_t value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::uint32_t ReadLittleEndian32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

// A gzip stream, as the scene-graph library's zlib compressor writes after the header.
std::string Gzip(const std::string& bytes) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    return out;
}

// In an uncompressed binary tile's header: magic (8), type, version, attributes, then the
// compressor name's length and the name "0"; the scene follows.
constexpr std::size_t kCompressorOffset = 20;
constexpr std::size_t kUncompressedBodyOffset = kCompressorOffset + 5;

enum class Format { Binary, Compressed, Text };

struct BaseTile {
    std::string name;
    Format format;
    std::string bytes;
    // Compressed tiles: the header naming the compressor, and the scene before compression,
    // so that the scene itself can be damaged and compressed again.
    std::string compressedHeader;
    std::string innerScene;
};

void WriteScene(const osg::Node& node, const fs::path& file, const std::string& options) {
    fs::create_directories(file.parent_path());
    const osg::ref_ptr<osgDB::Options> writeOptions = new osgDB::Options(options);
    if (!osgDB::writeNodeFile(node, file.string(), writeOptions.get()))
        throw std::runtime_error("cannot write " + file.string());
}

// Binary tiles from about 10 KB to past the read-ahead size (64 KB), one with its texture
// embedded as JPEG, their zlib-compressed forms, and text scenes.
std::vector<BaseTile> MakeBaseTiles(const fs::path& dir) {
    struct Shape {
        std::string name;
        int texturePx;
        int gridCells;
        bool jpeg;
    };
    const std::vector<Shape> shapes = {
        {"small", 48, 6, false}, {"large", 160, 40, false}, {"jpeg", 128, 24, true}};
    std::vector<BaseTile> bases;
    for (const Shape& shape : shapes) {
        SampleTileParams params;
        params.texturePx = shape.texturePx;
        params.gridCells = shape.gridCells;
        params.embedJpeg = shape.jpeg;
        params.seed = static_cast<unsigned>(bases.size() + 1);
        const fs::path file = dir / shape.name / "root.osgb";
        fs::create_directories(file.parent_path());
        WriteSampleTile(file, params);
        const std::string bytes = ReadBytes(file);
        if (bytes.substr(kCompressorOffset, 5) != LittleEndian32(1) + "0")
            throw std::runtime_error("unexpected header in " + file.string());
        bases.push_back({"binary_" + shape.name, Format::Binary, bytes, "", ""});
        if (shape.jpeg)
            continue;

        const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(file.string());
        if (!scene)
            throw std::runtime_error("cannot read back " + file.string());
        const fs::path compressed = dir / (shape.name + "_zlib") / "root.osgb";
        WriteScene(*scene, compressed, "Compressor=zlib");
        BaseTile zlib{"zlib_" + shape.name, Format::Compressed, ReadBytes(compressed), "", ""};
        zlib.compressedHeader = bytes.substr(0, kCompressorOffset) + LittleEndian32(4) + "zlib";
        zlib.innerScene = bytes.substr(kUncompressedBodyOffset);
        bases.push_back(zlib);

        if (shape.name == "small") {
            const fs::path text = dir / "text" / "tile.osgt";
            WriteScene(*scene, text, "");
            bases.push_back({"text_small", Format::Text, ReadBytes(text), "", ""});
        }
    }
    return bases;
}

std::size_t Below(Random& random, std::size_t bound) {
    return bound == 0 ? 0 : static_cast<std::size_t>(random() % bound);
}

// An offset where damage matters most often: anywhere, or near the start and the class names
// that open each object, where the counts and lengths that steer the reader lie.
std::size_t PlausibleOffset(Random& random, const std::string& bytes) {
    if (bytes.empty())
        return 0;
    if (random() % 3 == 0)
        return Below(random, bytes.size());
    if (random() % 2 == 0)
        return Below(random, std::min<std::size_t>(bytes.size(), 512));
    std::vector<std::size_t> classNames;
    for (std::size_t at = bytes.find("osg"); at != std::string::npos;
         at = bytes.find("osg", at + 1))
        classNames.push_back(at);
    if (classNames.empty())
        return Below(random, bytes.size());
    const std::size_t near = classNames[Below(random, classNames.size())];
    const std::size_t start = near > 16 ? near - 16 : 0;
    return std::min(bytes.size() - 1, start + Below(random, 64));
}

const std::uint32_t kHugeValues[] = {0xffffffffu, 0x7fffffffu, 0x3fffffffu, 0x80000000u,
                                     0x10000000u, 0x01000000u, 0x00ffffffu};

// Offsets of 32-bit values the reader takes as a count or a length: one followed by that many
// printable bytes (a string's length), or a small number near a class name.
std::vector<std::size_t> CountOffsets(const std::string& bytes) {
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
        const std::uint32_t value = ReadLittleEndian32(bytes, i);
        if (value == 0 || value > (1u << 20))
            continue;
        const bool stringLength =
            value >= 3 && value <= 64 && i + 4 + value <= bytes.size() &&
            std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(i + 4),
                        bytes.begin() + static_cast<std::ptrdiff_t>(i + 4 + value),
                        [](char c) { return c >= 0x20 && c < 0x7f; });
        const std::size_t from = i > 96 ? i - 96 : 0;
        const bool nearClass = bytes.find("osg", from) < i + 4 && value < 100000;
        if (stringLength || nearClass)
            offsets.push_back(i);
    }
    return offsets;
}

// Damages binary bytes once; says how in `how`.
void DamageBinary(Random& random, std::string& bytes, std::ostringstream& how) {
    const std::size_t at = PlausibleOffset(random, bytes);
    switch (random() % 5) {
    case 0: {
        const std::size_t keep = random() % 2 ? at : Below(random, bytes.size());
        how << " cut at " << keep;
        bytes.resize(keep);
        break;
    }
    case 1: {
        const std::size_t n = 1 + Below(random, 8);
        how << " overwrote " << n << " at " << at;
        for (std::size_t i = 0; i < n && at + i < bytes.size(); ++i)
            bytes[at + i] = random() % 2 ? '\x7f' : static_cast<char>(random());
        break;
    }
    case 2: {
        const std::size_t n = 1 + Below(random, 16);
        how << " inserted " << n << " at " << at;
        std::string inserted(n, '\0');
        for (char& c : inserted)
            c = static_cast<char>(random());
        bytes.insert(std::min(at, bytes.size()), inserted);
        break;
    }
    default: {
        const std::vector<std::size_t> counts = CountOffsets(bytes);
        if (counts.empty()) {
            how << " (no count found)";
            break;
        }
        const std::size_t offset = counts[Below(random, counts.size())];
        const std::uint32_t old = ReadLittleEndian32(bytes, offset);
        const std::size_t pick = Below(random, std::size(kHugeValues) + 1);
        const std::uint32_t huge =
            pick < std::size(kHugeValues) ? kHugeValues[pick] : old * 1000u + 1;
        how << " count " << old << " at " << offset << " made " << huge;
        bytes.replace(offset, 4, LittleEndian32(huge));
        break;
    }
    }
}

const char* const kHugeNumbers[] = {"2147483647",           "4294967295", "4294967296", "-1",
                                    "99999999999999999999", "1e308",      "268435456"};

// Damages a text scene once: its numbers (counts among them) made huge, bytes cut, overwritten
// or inserted, brackets and tokens dropped.
void DamageText(Random& random, std::string& text, std::ostringstream& how) {
    if (random() % 2 == 0) {
        DamageBinary(random, text, how);
        return;
    }
    std::vector<std::size_t> numbers;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::isdigit(static_cast<unsigned char>(text[i])) &&
            (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]))))
            numbers.push_back(i);
    if (random() % 3 != 0 && !numbers.empty()) {
        const std::size_t at = numbers[Below(random, numbers.size())];
        std::size_t end = at;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        const char* huge = kHugeNumbers[Below(random, std::size(kHugeNumbers))];
        how << " number at " << at << " made " << huge;
        text.replace(at, end - at, huge);
        return;
    }
    const std::size_t bracket = text.find_first_of("{}", Below(random, text.size()));
    if (bracket == std::string::npos) {
        how << " (no bracket found)";
        return;
    }
    how << " dropped the bracket at " << bracket;
    text.erase(bracket, 1);
}

struct Mutant {
    std::string base;
    std::string description;
    std::string bytes;
};

// Mutant `index` of a run seeded `seed`: the same pair always gives the same bytes.
Mutant MakeMutant(const std::vector<BaseTile>& bases, std::uint64_t seed, std::size_t index) {
    Random random(seed * 0x9E3779B97F4A7C15ull + index);
    const BaseTile& base = bases[Below(random, bases.size())];
    Mutant mutant{base.name, "", ""};
    std::ostringstream how;
    const std::size_t damages = 1 + Below(random, 3);
    if (base.format == Format::Compressed && random() % 2 == 0) {
        std::string inner = base.innerScene;
        how << "inner scene:";
        for (std::size_t i = 0; i < damages; ++i)
            DamageBinary(random, inner, how);
        mutant.bytes = base.compressedHeader + Gzip(inner);
    } else {
        mutant.bytes = base.bytes;
        for (std::size_t i = 0; i < damages; ++i) {
            if (base.format == Format::Text)
                DamageText(random, mutant.bytes, how);
            else
                DamageBinary(random, mutant.bytes, how);
        }
    }
    mutant.description = how.str();
    return mutant;
}

enum class PlainLoad { Loaded, Failed, Crashed, Hung, OutOfMemory };

const char* Name(PlainLoad load) {
    switch (load) {
    case PlainLoad::Loaded:
        return "loaded";
    case PlainLoad::Failed:
        return "returned nothing";
    case PlainLoad::Crashed:
        return "crashed";
    case PlainLoad::Hung:
        return "hung";
    case PlainLoad::OutOfMemory:
        return "ran out of memory";
    }
    return "?";
}

const char* Name(TileStatus status) {
    switch (status) {
    case TileStatus::Valid:
        return "listed";
    case TileStatus::NoRootFile:
        return "left out: no root file";
    case TileStatus::NotRegularFile:
        return "left out: not a regular file";
    case TileStatus::LoadFailed:
        return "left out: load failed";
    case TileStatus::ReaderCrashed:
        return "left out: reader crashed";
    case TileStatus::TimedOut:
        return "left out: timed out";
    case TileStatus::OutOfMemory:
        return "left out: out of memory";
    case TileStatus::UnsafeName:
        return "left out: unsafe name";
    case TileStatus::LinksBack:
        return "left out: links back";
    case TileStatus::Cycle:
        return "left out: names files that lead back to it";
    case TileStatus::BlockNotWritten:
        return "left out: block not written";
    }
    return "?";
}

constexpr int kExitFailed = 1;
constexpr int kExitOutOfMemory = 3;

[[noreturn]] void ExitOutOfMemory() {
    std::_Exit(kExitOutOfMemory);
}

std::uint64_t AddressSpaceInUse() {
    unsigned long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return std::uint64_t{pages} * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Loads each file the plain way, each in a child process under the memory ceiling and the
// deadline the run gives a worker for it, `parallel` at a time.
std::vector<PlainLoad> LoadEachInChildProcess(const std::vector<fs::path>& files,
                                              const TileLimits& limits, unsigned parallel) {
    std::vector<PlainLoad> loads(files.size(), PlainLoad::Failed);
    struct Running {
        std::size_t index;
        pid_t pid;
        std::chrono::steady_clock::time_point deadline;
    };
    std::vector<Running> running;
    std::size_t next = 0;
    // Like the worker's: the ceiling is counted from what the process holds as it starts, with
    // the same allowance for what earlier checks left in the heap.
    const std::uint64_t held = AddressSpaceInUse() + (std::uint64_t{128} << 20);
    while (next < files.size() || !running.empty()) {
        while (next < files.size() && running.size() < parallel) {
            const std::uint64_t size = fs::file_size(files[next]);
            std::fflush(nullptr);
            const pid_t child = fork();
            if (child < 0)
                throw std::runtime_error("fork failed");
            if (child == 0) {
                const rlim_t ceiling = held + limits.memoryCeilingFor(size);
                const rlimit memory{ceiling, ceiling};
                setrlimit(RLIMIT_AS, &memory);
                std::set_new_handler(ExitOutOfMemory);
                try {
                    _exit(osgDB::readRefNodeFile(files[next].string()) ? 0 : kExitFailed);
                } catch (const std::bad_alloc&) {
                    _exit(kExitOutOfMemory);
                } catch (...) {
                    _exit(kExitFailed);
                }
            }
            running.push_back(
                {next, child, std::chrono::steady_clock::now() + limits.deadlineFor(size)});
            ++next;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        for (auto it = running.begin(); it != running.end();) {
            int status = 0;
            const pid_t done = waitpid(it->pid, &status, WNOHANG);
            PlainLoad& load = loads[it->index];
            if (done == 0 && std::chrono::steady_clock::now() < it->deadline) {
                ++it;
                continue;
            }
            if (done == 0) {
                kill(it->pid, SIGKILL);
                waitpid(it->pid, &status, 0);
                load = PlainLoad::Hung;
            } else if (!WIFEXITED(status)) {
                load = PlainLoad::Crashed;
            } else if (WEXITSTATUS(status) == 0) {
                load = PlainLoad::Loaded;
            } else if (WEXITSTATUS(status) == kExitFailed) {
                load = PlainLoad::Failed;
            } else if (WEXITSTATUS(status) == kExitOutOfMemory) {
                load = PlainLoad::OutOfMemory;
            } else {
                load = PlainLoad::Crashed;
            }
            it = running.erase(it);
        }
    }
    return loads;
}

// A verdict agrees with a plain load as the module comment says.
bool Agrees(PlainLoad load, TileStatus verdict) {
    switch (load) {
    case PlainLoad::Loaded:
        return verdict == TileStatus::Valid;
    case PlainLoad::Failed:
    case PlainLoad::Crashed:
    case PlainLoad::Hung:
    case PlainLoad::OutOfMemory:
        return verdict == TileStatus::LoadFailed || verdict == TileStatus::ReaderCrashed ||
               verdict == TileStatus::TimedOut || verdict == TileStatus::OutOfMemory;
    }
    return false;
}

struct Settings {
    std::uint64_t seed = 1;
    std::size_t mutants = 200;
    std::optional<std::size_t> only;
    unsigned jobs = 2;
    int deadlineSeconds = 3;
    fs::path failures = "tile-fuzz-failures";
    fs::path worker; // empty: the one beside this program, as the run finds it
};

std::string MutantName(std::size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "m%05zu", index);
    return name;
}

int Run(const Settings& settings) {
    const fs::path work =
        fs::temp_directory_path() / ("brindle-tile-fuzz-" + std::to_string(getpid()));
    struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    } cleanup{work};
    fs::remove_all(work);

    const std::vector<BaseTile> bases = MakeBaseTiles(work / "bases");
    const fs::path block = work / "block";
    std::vector<std::size_t> indexes;
    if (settings.only) {
        indexes.push_back(*settings.only);
    } else {
        for (std::size_t i = 0; i < settings.mutants; ++i)
            indexes.push_back(i);
    }
    // The sound tiles come first: a harness under which they do not load tests nothing.
    std::vector<fs::path> files;
    std::vector<Mutant> mutants;
    for (const BaseTile& base : bases) {
        mutants.push_back({base.name, "sound", base.bytes});
        files.push_back(block / ("sound_" + base.name) / "root.osgb");
    }
    for (const std::size_t index : indexes) {
        mutants.push_back(MakeMutant(bases, settings.seed, index));
        files.push_back(block / MutantName(index) / "root.osgb");
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        WriteBytes(files[i], mutants[i].bytes);

    TileLimits limits;
    limits.deadlineBase = std::chrono::seconds(settings.deadlineSeconds);
    const auto started = std::chrono::steady_clock::now();
    const std::vector<PlainLoad> loads = LoadEachInChildProcess(files, limits, settings.jobs);
    const auto loaded = std::chrono::steady_clock::now();

    ExportOptions options;
    options.dryRun = true;
    options.jobs = settings.jobs;
    options.limits = limits;
    options.workerProgram = settings.worker;
    const ExportReport report = ExportFolderIndexes({block}, options);
    const auto checked = std::chrono::steady_clock::now();
    if (report.folders.size() != 1 || report.folders[0].error) {
        std::cerr << "tile_mutation_fuzz: the run over " << block.string()
                  << " failed as a whole (seed " << settings.seed << ")\n";
        return 1;
    }
    std::map<std::string, TileStatus> verdicts;
    for (const std::string& entry : report.folders[0].entries)
        verdicts[entry.substr(0, entry.find('\\'))] = TileStatus::Valid;
    for (const LeftOutSubfolder& leftOut : report.folders[0].leftOut)
        verdicts[leftOut.name.string()] = leftOut.reason;

    int disagreements = 0;
    std::map<std::string, int> tally;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string name = files[i].parent_path().filename().string();
        const auto found = verdicts.find(name);
        ++tally[Name(loads[i])];
        const bool sound = i < bases.size();
        if (found != verdicts.end() && Agrees(loads[i], found->second) &&
            (!sound || loads[i] == PlainLoad::Loaded))
            continue;
        ++disagreements;
        fs::create_directories(settings.failures);
        const fs::path saved =
            settings.failures / ("seed-" + std::to_string(settings.seed) + "-" + name + ".osgb");
        WriteBytes(saved, mutants[i].bytes);
        std::cerr << "DISAGREE " << name << " (" << mutants[i].base << "," << mutants[i].description
                  << "): plain load " << Name(loads[i]) << ", run "
                  << (found == verdicts.end() ? "never named it" : Name(found->second))
                  << "; saved to " << saved.string() << "\n";
        if (!sound)
            std::cerr << "  again with: tile_mutation_fuzz --seed " << settings.seed << " --only "
                      << indexes[i - bases.size()] << "\n";
    }

    using std::chrono::duration;
    std::cout << "tile_mutation_fuzz: seed " << settings.seed << ", " << indexes.size()
              << " mutants of " << bases.size() << " tiles; plain loads:";
    for (const auto& [what, count] : tally)
        std::cout << " " << count << " " << what << ";";
    std::cout << " " << duration<double>(loaded - started).count() << " s loading, "
              << duration<double>(checked - loaded).count() << " s in the run\n";
    if (disagreements) {
        std::cerr << "tile_mutation_fuzz: " << disagreements << " disagreement(s), seed "
                  << settings.seed << "\n";
        return 1;
    }
    return 0;
}

} // namespace
} // namespace brindle

int main(int argc, char** argv) {
    CLI::App app{"Checks the export run's verdicts on randomly damaged tiles against plain "
                 "loads of them."};
    brindle::Settings settings;
    std::size_t only = 0;
    app.add_option("--seed", settings.seed, "Seed of the damage")->capture_default_str();
    app.add_option("--mutants", settings.mutants, "Damaged tiles to make")
        ->capture_default_str()
        ->check(CLI::Range(1, 100000));
    auto* onlyOption =
        app.add_option("--only", only, "Make and check only this mutant (from a failure line)");
    app.add_option("--jobs", settings.jobs, "Workers, and plain loads at once")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    app.add_option("--deadline", settings.deadlineSeconds,
                   "Seconds a tile's check and its plain load may take, plus 1 s per 20 MB")
        ->capture_default_str()
        ->check(CLI::Range(1, 600));
    app.add_option("--failures", settings.failures, "Where mutants that disagree are saved")
        ->capture_default_str();
    app.add_option("--worker", settings.worker,
                   "The tile-check worker to hold to account (default: the one beside this "
                   "program)");
    CLI11_PARSE(app, argc, argv);
    if (*onlyOption)
        settings.only = only;

    // The reader's complaints about damaged files are the point here, not news.
    osg::setNotifyLevel(osg::FATAL);
    try {
        return brindle::Run(settings);
    } catch (const std::exception& e) {
        std::cerr << "tile_mutation_fuzz: " << e.what() << " (seed " << settings.seed << ")\n";
        return 1;
    }
}
