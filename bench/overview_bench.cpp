// brindle-overview-bench: the overview index against the proxy and paged indexes, on blocks of
// production-shaped tiles of 10^3, 10^4 and 10^5 tiles. For each it counts the files a viewer
// reads for the far view (a real cull, every paged or proxy child it asks for loaded at once,
// again until it asks for nothing more), compares the overview's far view with the proxy
// index's picture, times the exporter writing each index, and walks the overview down to
// every tile. Run through ./bench-overview.sh, which renders offscreen under xvfb.
#include "bench/exporter_run.h"
#include "bench/overview_block.h"
#include "export/cache/verdict_cache.h"
#include "export/export_run.h"
#include "export/overview_index.h"

#include <CLI/CLI.hpp>

#include <osg/Camera>
#include <osg/GL>
#include <osg/GraphicsContext>
#include <osg/Image>
#include <osg/MatrixTransform>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/DatabasePager>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgDB/WriteFile>
#include <osgViewer/Viewer>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using brindle::SampleBlockOptions;

constexpr double kPi = 3.14159265358979323846;
constexpr int kWidthPx = 1920;
constexpr int kHeightPx = 1080;
constexpr double kFieldOfViewDeg = 30.0; // vertical
// A paged node asks for one child a cull, so a pyramid takes a few culls a level.
constexpr int kMaxCullPasses = 400;
constexpr int kCloseSamples = 20;
// The clear colour, which no tile's texture has: pixels of another colour are the block's.
const osg::Vec4 kBackground(1.0f, 0.0f, 1.0f, 1.0f);

// The targets.
constexpr std::size_t kFarOverviewFiles = 100;
constexpr double kOverviewFilesGrowth = 1.5; // 10^5 tiles against 10^4
constexpr double kAnonymousShare = 0.05;
constexpr double kFirstFrameSooner = 100.0;
constexpr double kPsnrDb = 25.0;
constexpr double kBuildTimeRatio = 1.5;
constexpr double kPyramidBytesShare = 0.02;
constexpr double kRerunFaster = 10.0;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string ForwardSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The file a read names, its ".." resolved: the overview's files name the tiles relative to
// the overview's folder.
std::string NormalPath(const std::string& path) {
    return fs::path(ForwardSlashes(path)).lexically_normal().generic_string();
}

bool IsOverviewFile(const std::string& path) {
    return path.find("brindle-overview-") != std::string::npos;
}

// ---------------------------------------------------------------------------------------------
// The viewing process

// Counts the files read, by whoever reads them: the index's own reader (a proxy index loads
// its tiles as it is read) or the loads the cull asked for.
class FileReads : public osgDB::ReadFileCallback {
public:
    osgDB::ReaderWriter::ReadResult readNode(const std::string& file,
                                             const osgDB::Options* options) override {
        const std::string path = ForwardSlashes(file);
        const std::string normal = NormalPath(file);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (index_.empty()) {
                index_ = normal;
            } else if (IsOverviewFile(normal)) {
                overview_.insert(normal);
            } else {
                tiles_.insert(normal);
                tileFolders_.insert(fs::path(normal).parent_path().filename().string());
            }
        }
        osgDB::ReaderWriter::ReadResult result = osgDB::ReadFileCallback::readNode(file, options);
        if (result.status() == osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND && path != file) {
            // Windows, where the indexes are used, takes a backslash as a separator.
            result = osgDB::ReadFileCallback::readNode(path, options);
        }
        return result;
    }

    std::size_t tileFiles() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return tiles_.size();
    }
    std::size_t overviewFiles() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return overview_.size();
    }
    bool readTileFolder(const std::string& name) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return tileFolders_.count(name) > 0;
    }

private:
    mutable std::mutex mutex_;
    std::string index_;
    std::set<std::string> tiles_, overview_, tileFolders_;
};

// Takes the cull's requests for paged and proxy children instead of a pager's threads; the
// viewing loop loads them between frames, so a frame is drawn once nothing more is asked.
class SynchronousLoads : public osgDB::DatabasePager {
public:
    struct Request {
        std::string file;
        osg::observer_ptr<osg::Group> group;
        osg::ref_ptr<const osgDB::Options> options;
    };

    void requestNodeFile(const std::string& fileName, osg::NodePath& nodePath, float,
                         const osg::FrameStamp*, osg::ref_ptr<osg::Referenced>&,
                         const osg::Referenced* options) override {
        if (nodePath.empty() || failed_.count(fileName)) {
            return;
        }
        osg::Group* group = nodePath.back()->asGroup();
        if (!group || !asked_.insert({group, fileName}).second) {
            return;
        }
        requests_.push_back({fileName, group, dynamic_cast<const osgDB::Options*>(options)});
    }

    // Loads what the last cull asked for; false when it asked for nothing.
    bool loadRequested() {
        if (requests_.empty()) {
            return false;
        }
        std::vector<Request> requests;
        requests.swap(requests_);
        asked_.clear();
        for (const Request& request : requests) {
            osg::ref_ptr<osg::Group> group;
            if (!request.group.lock(group)) {
                continue;
            }
            osg::ref_ptr<osg::Node> node =
                osgDB::readRefNodeFile(request.file, request.options.get());
            if (!node) {
                failed_.insert(request.file); // a finer level not written: asked for no more
                continue;
            }
            group->addChild(node.get());
        }
        return true;
    }

    std::size_t failed() const { return failed_.size(); }

private:
    std::vector<Request> requests_;
    std::set<std::pair<osg::Group*, std::string>> asked_;
    std::set<std::string> failed_;
};

struct CapturePixels : osg::Camera::DrawCallback {
    void operator()(osg::RenderInfo&) const override {
        glFinish();
        if (image.valid()) {
            image->readPixels(0, 0, kWidthPx, kHeightPx, GL_RGB, GL_UNSIGNED_BYTE);
        }
    }
    osg::ref_ptr<osg::Image> image;
};

osg::ref_ptr<osg::GraphicsContext> CreateContext() {
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->readDISPLAY();
    traits->setUndefinedScreenDetailsToDefaultScreen();
    traits->x = traits->y = 0;
    traits->width = kWidthPx;
    traits->height = kHeightPx;
    traits->windowDecoration = false;
    traits->doubleBuffer = true;
    traits->pbuffer = true;
    osg::ref_ptr<osg::GraphicsContext> context =
        osg::GraphicsContext::createGraphicsContext(traits.get());
    if (!context || !context->valid()) {
        throw std::runtime_error("no pixel buffer: is DISPLAY set (run under xvfb-run)?");
    }
    return context;
}

double AnonymousMiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    double kib = 0;
    while (status >> key) {
        if (key == "RssAnon:" && status >> kib) {
            return kib / 1024.0;
        }
    }
    return 0;
}

void Report(const std::string& key, double value) {
    std::cout << "result " << key << ' ' << std::setprecision(10) << value << '\n';
}

double HeightToSee(double width) {
    return width / 2 / std::tan(kFieldOfViewDeg / 2 * kPi / 180);
}

void LookDown(osgViewer::Viewer& viewer, const osg::Vec2d& ground, double height) {
    viewer.getCamera()->setViewMatrixAsLookAt(osg::Vec3d(ground.x(), ground.y(), height),
                                              osg::Vec3d(ground.x(), ground.y(), 0),
                                              osg::Vec3d(0, 1, 0));
}

struct ViewSettings {
    fs::path index;
    fs::path image; // the far view's pixels go here, as a binary PPM
    std::int64_t spawnedAtNs = 0;
    int tileCount = 0;
    bool closeSamples = false;
};

// Renders frames, loading what each frame's cull asked for, until a frame asks for nothing.
int SettleSynchronously(osgViewer::Viewer& viewer, SynchronousLoads& loads, double& anonPeak) {
    int passes = 0;
    do {
        viewer.frame();
        anonPeak = std::max(anonPeak, AnonymousMiB());
        ++passes;
    } while (loads.loadRequested() && passes < kMaxCullPasses);
    return passes;
}

fs::path UnlitPicture(const fs::path& picture) {
    fs::path unlit = picture;
    return unlit.replace_extension(".unlit.ppm");
}

void WritePpm(const osg::Image& image, const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << image.s() << ' ' << image.t() << "\n255\n";
    // Rows bottom-up as read back; the comparison does not mind.
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.getTotalSizeInBytes()));
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

int ViewIndex(const ViewSettings& settings) {
    const Clock::time_point spawned{std::chrono::nanoseconds(settings.spawnedAtNs)};
    const SampleBlockOptions block = brindle::bench::OverviewBlockOptions(settings.tileCount);
    // The finer levels the tiles name are not written: their misses are counted, not shown.
    osg::setNotifyLevel(osg::FATAL);
    const osg::ref_ptr<FileReads> reads = new FileReads;
    osgDB::Registry::instance()->setReadFileCallback(reads.get());

    double anonPeak = 0;
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(settings.index.string());
    if (!scene) {
        throw std::runtime_error("cannot read " + settings.index.string());
    }
    anonPeak = std::max(anonPeak, AnonymousMiB());
    Report("index_read.seconds", SecondsSince(spawned));
    Report("index_read.tile_files", static_cast<double>(reads->tileFiles()));
    const auto* transform = dynamic_cast<const osg::MatrixTransform*>(scene.get());
    const osg::Vec3d origin = transform ? transform->getMatrix().getTrans() : osg::Vec3d();
    const osg::Vec2d offset(origin.x(), origin.y());

    osgViewer::Viewer viewer;
    viewer.setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    const osg::ref_ptr<SynchronousLoads> loads = new SynchronousLoads;
    viewer.setDatabasePager(loads.get());
    const osg::ref_ptr<osg::GraphicsContext> context = CreateContext();
    osg::Camera* camera = viewer.getCamera();
    camera->setGraphicsContext(context.get());
    camera->setViewport(0, 0, kWidthPx, kHeightPx);
    camera->setDrawBuffer(GL_BACK);
    camera->setReadBuffer(GL_BACK);
    camera->setClearColor(kBackground);
    camera->setProjectionMatrixAsPerspective(kFieldOfViewDeg, double(kWidthPx) / kHeightPx, 1.0,
                                             1e6);
    camera->setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    const osg::ref_ptr<CapturePixels> capture = new CapturePixels;
    camera->setFinalDrawCallback(capture.get());
    viewer.setSceneData(scene.get());

    // The far view: the whole block in the picture's height, with a margin.
    const double blockWidth = brindle::bench::OverviewBlockSide(block) *
                              brindle::SampleTileParamsFor(block, 0).sizeMetres;
    const osg::Vec2d centre = offset + osg::Vec2d(blockWidth / 2, blockWidth / 2);
    LookDown(viewer, centre, HeightToSee(blockWidth * 1.05));
    viewer.realize();
    viewer.frame();
    anonPeak = std::max(anonPeak, AnonymousMiB());
    Report("first_frame.seconds", SecondsSince(spawned));
    Report("first_frame.tile_files", static_cast<double>(reads->tileFiles()));
    Report("first_frame.overview_files", static_cast<double>(reads->overviewFiles()));
    // The first frame's requests are loaded after the next cull, which asks for them again.
    const int passes = 1 + SettleSynchronously(viewer, *loads, anonPeak);
    capture->image = new osg::Image;
    capture->image->allocateImage(kWidthPx, kHeightPx, 1, GL_RGB, GL_UNSIGNED_BYTE);
    viewer.frame();
    anonPeak = std::max(anonPeak, AnonymousMiB());
    Report("far.seconds", SecondsSince(spawned));
    Report("far.passes", passes);
    Report("far.settled", passes < kMaxCullPasses);
    Report("far.tile_files", static_cast<double>(reads->tileFiles()));
    Report("far.overview_files", static_cast<double>(reads->overviewFiles()));
    Report("far.failed_loads", static_cast<double>(loads->failed()));
    Report("far.anon_peak_mib", anonPeak);
    WritePpm(*capture->image, settings.image);
    // The same view with the textures as they are, unlit: this picture tells the colours apart
    // from the lighting.
    scene->getOrCreateStateSet()->setMode(GL_LIGHTING,
                                          osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    viewer.frame();
    WritePpm(*capture->image, UnlitPicture(settings.image));
    scene->getOrCreateStateSet()->removeMode(GL_LIGHTING);
    capture->image = nullptr;

    if (settings.closeSamples) {
        // Above each sample tile in turn, as close as a viewer comes to look at it: the cull
        // must reach the tile's own file.
        int reached = 0;
        for (int i = 0; i < kCloseSamples; ++i) {
            const int index = i * (settings.tileCount - 1) / (kCloseSamples - 1);
            const brindle::SampleTileParams params = brindle::SampleTileParamsFor(block, index);
            const double half = params.sizeMetres / 2;
            LookDown(viewer, offset + params.offset + osg::Vec2d(half, half), HeightToSee(300.0));
            SettleSynchronously(viewer, *loads, anonPeak);
            const std::string name = brindle::bench::OverviewTileName(block, index);
            const bool read = reads->readTileFolder(name);
            reached += read;
            if (!read) {
                std::cerr << settings.index.string() << ": " << name
                          << " not read with the camera above it\n";
            }
        }
        Report("close.samples", kCloseSamples);
        Report("close.reached", reached);
    }
    std::cout.flush();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The comparing process

using Results = std::map<std::string, double>;

Results ParseResults(const std::string& text) {
    Results results;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string tag, key;
        double value = 0;
        if (words >> tag >> key >> value && tag == "result") {
            results[key] = value;
        }
    }
    return results;
}

Results RunViewer(const fs::path& self, const fs::path& index, const fs::path& image, int tileCount,
                  bool closeSamples) {
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    const auto spawnedAt =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
    std::vector<std::string> args = {self.string(),
                                     "--view",
                                     index.string(),
                                     "--image",
                                     image.string(),
                                     "--spawned-at",
                                     std::to_string(spawnedAt.count()),
                                     "--tiles",
                                     std::to_string(tileCount)};
    if (closeSamples) {
        args.emplace_back("--close-samples");
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawnError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawnError != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start " + self.string());
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("viewing " + index.string() + " failed");
    }
    return ParseResults(text);
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The pixels of a PPM written by WritePpm.
std::string PpmPixels(const fs::path& file) {
    const std::string bytes = ReadText(file);
    std::istringstream header(bytes);
    std::string magic;
    int width = 0, height = 0, depth = 0;
    header >> magic >> width >> height >> depth;
    const auto start = static_cast<std::size_t>(header.tellg()) + 1;
    if (magic != "P6" || width != kWidthPx || height != kHeightPx || bytes.size() < start) {
        throw std::runtime_error(file.string() + " is not the far view's picture");
    }
    return bytes.substr(start);
}

// The peak signal-to-noise ratio of `picture` against `reference` over the block's pixels:
// those not of the background colour in either.
double BlockPsnr(const std::string& reference, const std::string& picture, double& blockShare) {
    const auto background = [](const std::string& p, std::size_t i) {
        return p[i] == char(255) && p[i + 1] == 0 && p[i + 2] == char(255);
    };
    double squares = 0;
    std::size_t samples = 0, pixels = 0;
    for (std::size_t i = 0; i + 2 < reference.size() && i + 2 < picture.size(); i += 3) {
        if (background(reference, i) && background(picture, i)) {
            continue;
        }
        ++pixels;
        for (std::size_t c = 0; c < 3; ++c) {
            const double d = double(static_cast<unsigned char>(reference[i + c])) -
                             double(static_cast<unsigned char>(picture[i + c]));
            squares += d * d;
            ++samples;
        }
    }
    blockShare = double(pixels) / (reference.size() / 3.0);
    if (samples == 0) {
        return 0;
    }
    const double mse = squares / samples;
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::uintmax_t FolderBytes(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) {
            bytes += entry.file_size();
        }
    }
    return bytes;
}

// The bytes of the tiles' folders and of the overview's folders.
struct BlockBytes {
    std::uintmax_t tiles = 0, pyramid = 0;
    std::size_t pyramidFiles = 0;
};

BlockBytes MeasureBlock(const fs::path& folder) {
    BlockBytes bytes;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_directory()) {
            continue;
        }
        if (name.rfind("Tile_+", 0) == 0) {
            bytes.tiles += FolderBytes(entry.path());
        } else if (IsOverviewFile(name)) {
            bytes.pyramid += FolderBytes(entry.path());
            for (const auto& file : fs::recursive_directory_iterator(entry.path())) {
                bytes.pyramidFiles += file.is_regular_file();
            }
        }
    }
    return bytes;
}

// Every tile a viewer can come to from the overview: each paged node's files followed down
// through the overview's own files, the files outside it being the tiles' roots. Reads no
// tile.
struct OverviewWalk {
    std::set<std::string> tiles; // tile folder names
    std::size_t nodeFiles = 0, unreadable = 0;
};

class NamedFiles : public osg::NodeVisitor {
public:
    // Names relative to no database path are relative to `folder`, the file's own, as its
    // reader resolves them.
    explicit NamedFiles(std::string folder)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), folder_(std::move(folder)) {}
    void apply(osg::PagedLOD& lod) override {
        for (unsigned i = 0; i < lod.getNumFileNames(); ++i) {
            if (!lod.getFileName(i).empty()) {
                files.push_back(Resolve(lod.getDatabasePath(), lod.getFileName(i)));
            }
        }
        traverse(lod);
    }
    void apply(osg::ProxyNode& proxy) override {
        for (unsigned i = 0; i < proxy.getNumFileNames(); ++i) {
            files.push_back(Resolve(proxy.getDatabasePath(), proxy.getFileName(i)));
        }
        traverse(proxy);
    }
    std::vector<std::string> files;

private:
    std::string Resolve(const std::string& databasePath, const std::string& name) const {
        return NormalPath((databasePath.empty() ? folder_ + '/' : databasePath) + name);
    }
    std::string folder_;
};

OverviewWalk WalkOverview(const fs::path& index) {
    OverviewWalk walk;
    const std::string root = NormalPath(index.string());
    std::deque<std::string> pending = {root};
    std::set<std::string> seen;
    while (!pending.empty()) {
        const std::string file = pending.front();
        pending.pop_front();
        if (!seen.insert(file).second) {
            continue;
        }
        if (file != root && !IsOverviewFile(file)) {
            walk.tiles.insert(fs::path(file).parent_path().filename().string());
            continue;
        }
        const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(file);
        walk.nodeFiles += file != root;
        if (!node) {
            ++walk.unreadable;
            continue;
        }
        NamedFiles named(fs::path(file).parent_path().string());
        node->accept(named);
        pending.insert(pending.end(), named.files.begin(), named.files.end());
    }
    return walk;
}

// ----- The exporter runs

struct IndexBuild {
    bool ran = false;
    double seconds = 0;
    int exitCode = -1;
};

// The exporter's status for a command line it does not take.
constexpr int kExitUsage = 2;

// How the indexes are written: by brindle-export, or, where its command line does not offer
// the overview index yet, by this program calling the export library as brindle-export does
// (its `--export` mode), for both kinds alike.
struct Exporter {
    fs::path self;
    bool library = false;
};

IndexBuild Export(const Exporter& exporter, const fs::path& folder, const std::string& kind,
                  bool noCache, const fs::path& log) {
    std::vector<std::string> args = {"--index=" + kind, "--jobs", "2", "--quiet"};
    if (noCache) {
        args.emplace_back("--no-cache");
    }
    args.push_back(folder.string());
    if (!exporter.library) {
        const brindle::bench::ExporterRun run = brindle::bench::RunExporter(args, log);
        return {true, run.seconds, run.exitCode};
    }
    std::vector<std::string> command = {exporter.self.string(), "--export", kind, folder.string()};
    if (noCache) {
        command.emplace_back("--no-cache");
    }
    const Clock::time_point start = Clock::now();
    const int status = brindle::bench::RunWithStartEnvironment(command, log);
    return {true, SecondsSince(start), status};
}

// The `--export` mode: the folder's index of `kind` written as brindle-export writes it with
// two jobs, the verdict cache used unless `noCache`.
int ExportWithLibrary(const std::string& kind, const fs::path& folder, bool noCache) {
    brindle::ExportOptions options;
    options.jobs = 2;
    options.index = kind == "overview" ? brindle::IndexKind::Overview
                    : kind == "paged"  ? brindle::IndexKind::Paged
                                       : brindle::IndexKind::Proxy;
    if (!noCache) {
        options.verdictCache = brindle::DefaultVerdictCacheFolder();
    }
    return brindle::ExportFolderIndexes({folder}, options).succeeded() ? 0 : 1;
}

// Moves the folder's root.osgb aside as `name`, so that the next export finds no index of
// another kind in its way and the viewer can open each.
void KeepIndexAs(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    fs::rename(folder / "root.osgb", folder / name, ec);
    if (ec) {
        throw std::runtime_error("cannot move " + (folder / "root.osgb").string() + ": " +
                                 ec.message());
    }
}

// Drops the verdicts cached for the folder, so that a build checks every tile; true when
// there were some.
bool ForgetVerdicts(const fs::path& folder) {
    std::error_code ec;
    return fs::remove(
        brindle::VerdictCacheFileFor(brindle::DefaultVerdictCacheFolder(), fs::absolute(folder)),
        ec);
}

// Marks every hundredth tile changed, as a survey's touched-up tiles are.
void TouchTiles(const brindle::bench::OverviewBlock& block) {
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < block.options.tileCount; i += 100) {
        fs::last_write_time(
            block.folder / brindle::bench::OverviewTileName(block.options, i) / "root.osgb", now);
    }
}

struct Scale {
    int tiles = 0;
    brindle::bench::OverviewBlock block;
    IndexBuild paged, overview, rerun;
    BlockBytes bytes;
    OverviewWalk walk;
    Results far;
    bool viewed = false;
};

const char* Verdict(bool pass) {
    return pass ? "PASS " : "FAIL ";
}

// The proxy index's view of the main block is slow (every tile read, then drawn); its figures
// and picture are kept beside the block, with the block's stamp they were measured on.
Results ProxyView(const fs::path& self, const fs::path& dataRoot, const Scale& scale,
                  const fs::path& proxyIndex, const fs::path& image) {
    const fs::path cache = dataRoot / (scale.block.folder.filename().string() + "-proxy-view.txt");
    const std::string stamp =
        ReadText(dataRoot / (scale.block.folder.filename().string() + "-complete.txt"));
    const std::string cached = ReadText(cache);
    if (!stamp.empty() && cached.rfind(stamp, 0) == 0 && fs::exists(image) &&
        fs::exists(UnlitPicture(image))) {
        std::cout << "reusing the proxy index's far view measured before (" << cache.string()
                  << ")\n";
        return ParseResults(cached.substr(stamp.size()));
    }
    std::cout << "viewing the proxy index of " << scale.tiles << " tiles (once; kept) ..."
              << std::endl;
    const Results proxy = RunViewer(self, proxyIndex, image, scale.tiles, false);
    std::ostringstream text;
    text << stamp << std::setprecision(10);
    for (const auto& [key, value] : proxy) {
        text << "result " << key << ' ' << value << '\n';
    }
    std::ofstream(cache, std::ios::binary) << text.str();
    return proxy;
}

// Writes the paged index without the verdict cache, timed, and keeps it as paged.osgb.
IndexBuild TimePagedIndex(const Exporter& exporter, const fs::path& folder, const fs::path& log) {
    const IndexBuild paged = Export(exporter, folder, "paged", true, log);
    if (paged.exitCode == 0) {
        KeepIndexAs(folder, "paged.osgb");
    }
    std::cout << "  paged index written in " << std::fixed << std::setprecision(2) << paged.seconds
              << " s (status " << paged.exitCode << ')' << std::endl;
    return paged;
}

// The viewer's own memory in the far view: the same view of an index that names nothing.
double ViewerOwnMiB(const fs::path& self, const fs::path& dataRoot, const Scale& scale) {
    const fs::path empty = dataRoot / "empty-index.osgb";
    const osg::ref_ptr<osg::MatrixTransform> nothing = new osg::MatrixTransform;
    if (!osgDB::writeNodeFile(*nothing, empty.string())) {
        return 0;
    }
    std::cout << "  viewing an index of nothing, for the viewer's own memory ..." << std::endl;
    const Results own = RunViewer(self, empty, dataRoot / "empty-far.ppm", scale.tiles, false);
    const auto peak = own.find("far.anon_peak_mib");
    return peak == own.end() ? 0 : peak->second;
}

int Compare(const fs::path& self, const fs::path& dataFolder, const std::vector<int>& sizes,
            int mainTiles) {
    // Absolute, as the verdict cache names folders.
    const fs::path dataRoot = fs::absolute(dataFolder);
    fs::create_directories(dataRoot);
    std::vector<Scale> scales;
    for (const int tiles : sizes) {
        Scale scale;
        scale.tiles = tiles;
        scale.block = brindle::bench::PrepareOverviewBlock(dataRoot, tiles, 2, std::cout);
        scales.push_back(std::move(scale));
    }

    Exporter exporter{self, false};
    Results proxy;
    double psnr = 0, unlitPsnr = 0, blockShare = 0, viewerOwn = 0;
    bool proxyViewed = false, psnrMeasured = false;
    for (Scale& scale : scales) {
        const fs::path folder = scale.block.folder;
        const fs::path log = dataRoot / (folder.filename().string() + "-export.log");
        const bool isMain = scale.tiles == mainTiles;
        std::cout << "block of " << scale.tiles << " tiles:" << std::endl;
        fs::remove(folder / "root.osgb");
        if (isMain) {
            if (!fs::exists(folder / "proxy.osgb")) {
                std::cout << "  writing the proxy index ..." << std::endl;
                if (Export(exporter, folder, "proxy", false, log).exitCode == 0) {
                    KeepIndexAs(folder, "proxy.osgb");
                }
            }
            std::cout << "  timing the paged index, no verdict cache ..." << std::endl;
            scale.paged = TimePagedIndex(exporter, folder, log);
        }
        const fs::path proxyImage = dataRoot / (folder.filename().string() + "-proxy-far.ppm");
        if (isMain && fs::exists(folder / "proxy.osgb")) {
            proxy = ProxyView(self, dataRoot, scale, folder / "proxy.osgb", proxyImage);
            proxyViewed = true;
            viewerOwn = ViewerOwnMiB(self, dataRoot, scale);
        }
        std::cout << "  timing the overview index, first build ..." << std::endl;
        if (ForgetVerdicts(folder)) {
            std::cout << "  (the verdicts cached for the block dropped first)" << std::endl;
        }
        // Nor any levels an earlier run left, which a build takes unchanged nodes from.
        for (const brindle::Problem& kept : brindle::RemoveOtherOverviews(folder)) {
            std::cout << "  (could not remove " << kept.path.string() << ")" << std::endl;
        }
        scale.overview = Export(exporter, folder, "overview", false, log);
        if (scale.overview.exitCode == kExitUsage && !exporter.library) {
            std::cout << "  brindle-export does not take --index=overview: both kinds are "
                      << "timed through the export library from here on" << std::endl;
            exporter.library = true;
            if (isMain) {
                fs::remove(folder / "paged.osgb");
                scale.paged = TimePagedIndex(exporter, folder, log);
            }
            ForgetVerdicts(folder);
            scale.overview = Export(exporter, folder, "overview", false, log);
        }
        if (scale.overview.exitCode != 0) {
            std::cout << "  the exporter did not write the overview index (status "
                      << scale.overview.exitCode << "; see " << log.string() << ")\n";
            continue;
        }
        if (isMain) {
            TouchTiles(scale.block);
            std::cout << "  timing the overview index again, 1% of the tiles touched ..."
                      << std::endl;
            scale.rerun = Export(exporter, folder, "overview", false, log);
        }
        scale.bytes = MeasureBlock(folder);
        scale.walk = WalkOverview(folder / "root.osgb");
        std::cout << "  viewing the overview index ..." << std::endl;
        const fs::path image = dataRoot / (folder.filename().string() + "-overview-far.ppm");
        scale.far = RunViewer(self, folder / "root.osgb", image, scale.tiles, true);
        scale.viewed = true;
        std::cout << "  overview built in " << scale.overview.seconds
                  << " s; far view: " << scale.far.at("far.tile_files") << " tile files, "
                  << scale.far.at("far.overview_files") << " overview files, peak anonymous "
                  << scale.far.at("far.anon_peak_mib") << " MB; " << scale.walk.tiles.size()
                  << " tiles reached by the walk" << std::endl;
        if (isMain && proxyViewed) {
            psnr = BlockPsnr(PpmPixels(proxyImage), PpmPixels(image), blockShare);
            double unlitShare = 0;
            unlitPsnr = BlockPsnr(PpmPixels(UnlitPicture(proxyImage)),
                                  PpmPixels(UnlitPicture(image)), unlitShare);
            psnrMeasured = true;
        }
    }

    // The figures, then a verdict per target.
    std::cout << '\n' << std::fixed;
    for (const Scale& s : scales) {
        std::cout << "  " << s.tiles << " tiles: ";
        if (!s.viewed) {
            std::cout << "no overview index\n";
            continue;
        }
        std::cout << std::setprecision(0) << "far view reads " << s.far.at("far.tile_files")
                  << " tile files and " << s.far.at("far.overview_files") << " overview files in "
                  << s.far.at("far.passes") << " culls; first frame " << std::setprecision(3)
                  << s.far.at("first_frame.seconds") << " s, far view " << s.far.at("far.seconds")
                  << " s, peak anonymous " << std::setprecision(1) << s.far.at("far.anon_peak_mib")
                  << " MB; pyramid " << s.bytes.pyramidFiles << " files, " << s.bytes.pyramid / 1024
                  << " KB against tiles' " << s.bytes.tiles / 1024 << " KB; overview built in "
                  << std::setprecision(2) << s.overview.seconds << " s\n";
    }
    if (proxyViewed) {
        std::cout << std::setprecision(3) << "  proxy index, " << mainTiles
                  << " tiles: first frame " << proxy.at("first_frame.seconds") << " s, "
                  << std::setprecision(0) << proxy.at("far.tile_files")
                  << " tile files read, peak anonymous " << std::setprecision(1)
                  << proxy.at("far.anon_peak_mib") << " MB\n";
    }
    std::cout << '\n';

    bool allPass = true;
    const auto line = [&allPass](bool pass, const std::string& text) {
        allPass &= pass;
        std::cout << Verdict(pass) << "overview: " << text << '\n';
    };
    const Scale* main = nullptr;
    const Scale* largest = &scales.back();
    for (const Scale& s : scales) {
        if (s.tiles == mainTiles) {
            main = &s;
        }
    }
    std::ostringstream text;
    for (const Scale& s : scales) {
        text.str("");
        text << std::setprecision(0) << std::fixed;
        if (!s.viewed) {
            line(false, "far view reads 0 tile files and at most " +
                            std::to_string(kFarOverviewFiles) + " overview files (" +
                            std::to_string(s.tiles) + " tiles: no overview index written)");
            continue;
        }
        const double tileFiles = s.far.at("far.tile_files");
        const double overviewFiles = s.far.at("far.overview_files");
        text << "far view reads 0 tile files and at most " << kFarOverviewFiles
             << " overview files (" << tileFiles << " tile files, " << overviewFiles
             << " overview files; " << s.tiles << " tiles)";
        const bool settled = s.far.at("far.settled") != 0;
        if (!settled) {
            text << ", still loading after " << kMaxCullPasses << " culls";
        }
        line(settled && tileFiles == 0 && overviewFiles <= kFarOverviewFiles, text.str());
    }
    if (main && main != largest && main->viewed && largest->viewed) {
        const double growth = largest->far.at("far.overview_files") /
                              std::max(1.0, main->far.at("far.overview_files"));
        text.str("");
        text << std::setprecision(2) << "far view at " << largest->tiles
             << " tiles reads no more than " << kOverviewFilesGrowth << "x the overview files at "
             << main->tiles << " (" << growth << "x)";
        line(growth <= kOverviewFilesGrowth, text.str());
    }
    if (main && main->viewed && psnrMeasured) {
        const double share = main->far.at("far.anon_peak_mib") / proxy.at("far.anon_peak_mib");
        const double sooner = proxy.at("first_frame.seconds") / main->far.at("first_frame.seconds");
        text.str("");
        text << std::setprecision(3) << "far view peak anonymous memory at most " << kAnonymousShare
             << " of the proxy index's (" << share << ": " << std::setprecision(1)
             << main->far.at("far.anon_peak_mib") << " MB against " << proxy.at("far.anon_peak_mib")
             << " MB; " << mainTiles << " tiles)";
        line(share <= kAnonymousShare, text.str());
        if (viewerOwn > 0) {
            const double overviewNet = main->far.at("far.anon_peak_mib") - viewerOwn;
            const double proxyNet = proxy.at("far.anon_peak_mib") - viewerOwn;
            std::cout << std::setprecision(1)
                      << "  of which the viewer's own, nothing in view: " << viewerOwn
                      << " MB; beyond it the overview holds " << overviewNet
                      << " MB, the proxy index " << proxyNet << " MB (" << std::setprecision(3)
                      << overviewNet / proxyNet << ")\n";
        }
        text.str("");
        text << std::setprecision(0) << "first frame at least " << kFirstFrameSooner
             << "x sooner than the proxy index's (" << std::setprecision(1) << sooner
             << "x: " << std::setprecision(3) << main->far.at("first_frame.seconds")
             << " s against " << proxy.at("first_frame.seconds") << " s; " << mainTiles
             << " tiles)";
        line(sooner >= kFirstFrameSooner, text.str());
        text.str("");
        text << std::setprecision(0) << "far view looks like the block: PSNR against the proxy "
             << "index's picture at least " << kPsnrDb << " dB (" << std::setprecision(1) << psnr
             << " dB over the block's pixels, " << std::setprecision(0) << 100 * blockShare
             << "% of the picture; " << mainTiles << " tiles; as the viewer lights them)";
        line(psnr >= kPsnrDb, text.str());
        std::cout << std::setprecision(1) << "  the same pictures drawn unlit: PSNR " << unlitPsnr
                  << " dB (colours alone)\n";
    } else {
        line(false, "far view against the proxy index: not measured (no overview or proxy "
                    "index of the " +
                        std::to_string(mainTiles) + "-tile block)");
    }
    if (main && main->overview.exitCode == 0 && main->paged.exitCode == 0) {
        const double ratio = main->overview.seconds / main->paged.seconds;
        const double share = double(main->bytes.pyramid) / double(main->bytes.tiles);
        const double faster = main->overview.seconds / main->rerun.seconds;
        text.str("");
        text << std::setprecision(2) << "writing the overview index takes at most "
             << kBuildTimeRatio << "x the paged index's without cache (" << ratio
             << "x: " << main->overview.seconds << " s against " << main->paged.seconds << " s; "
             << mainTiles << " tiles)";
        line(ratio <= kBuildTimeRatio, text.str());
        text.str("");
        text << std::setprecision(3) << "the pyramid's bytes at most " << kPyramidBytesShare
             << " of the tiles' (" << share << ": " << std::setprecision(1)
             << main->bytes.pyramid / 1048576.0 << " MB against " << main->bytes.tiles / 1048576.0
             << " MB)";
        line(share <= kPyramidBytesShare, text.str());
        text.str("");
        text << std::setprecision(0) << "a re-run with 1% of the tiles touched at least "
             << kRerunFaster << "x faster than the first build (" << std::setprecision(1) << faster
             << "x: " << std::setprecision(2) << main->rerun.seconds << " s against "
             << main->overview.seconds << " s" << (main->rerun.exitCode != 0 ? ", failed" : "")
             << ')';
        line(faster >= kRerunFaster && main->rerun.exitCode == 0, text.str());
    } else {
        line(false, "writing the overview index against the paged index: not measured (an "
                    "export of the " +
                        std::to_string(mainTiles) + "-tile block failed)");
    }
    for (const Scale& s : scales) {
        if (!s.viewed) {
            continue;
        }
        text.str("");
        text << "every tile reached from the overview (" << s.walk.tiles.size() << " of " << s.tiles
             << " through " << s.walk.nodeFiles << " node files, " << s.walk.unreadable
             << " unreadable; camera above " << s.far.at("close.reached") << " of "
             << s.far.at("close.samples") << " sample tiles read them)";
        std::size_t named = 0;
        for (int i = 0; i < s.tiles; ++i) {
            named += s.walk.tiles.count(brindle::bench::OverviewTileName(s.block.options, i));
        }
        line(named == std::size_t(s.tiles) && s.walk.unreadable == 0 &&
                 s.far.at("close.reached") == s.far.at("close.samples"),
             text.str());
    }
    return allPass ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Compares the overview index with the proxy and paged indexes."};
    fs::path dataRoot = BRINDLE_OVERVIEW_DATA_DIR;
    bool quick = std::getenv("BRINDLE_BENCH_QUICK") != nullptr;
    bool generateOnly = false;
    ViewSettings view;
    std::vector<std::string> exportArgs;
    bool noCache = false;
    app.add_option("--export", exportArgs, "(internal) KIND FOLDER: write the folder's index")
        ->expected(2);
    app.add_flag("--no-cache", noCache, "(internal) with --export: no verdict cache");
    app.add_option("--data", dataRoot, "folder for the generated blocks (kept between runs)");
    app.add_flag("--quick", quick, "blocks of 100, 400 and 1,600 tiles; also BRINDLE_BENCH_QUICK");
    app.add_flag("--generate-only", generateOnly, "write the blocks and stop");
    app.add_option("--view", view.index, "(internal) view this index and report");
    app.add_option("--image", view.image, "(internal) where the far view's picture goes");
    app.add_option("--spawned-at", view.spawnedAtNs, "(internal) steady clock at the start");
    app.add_option("--tiles", view.tileCount, "(internal) tiles in the viewed block");
    app.add_flag("--close-samples", view.closeSamples, "(internal) come close to sample tiles");
    CLI11_PARSE(app, argc, argv);
    const std::vector<int> sizes =
        quick ? std::vector<int>{100, 400, 1600} : std::vector<int>{1000, 10000, 100000};
    const int mainTiles = sizes[1];

    try {
        if (!view.index.empty()) {
            return ViewIndex(view);
        }
        if (exportArgs.size() == 2) {
            return ExportWithLibrary(exportArgs[0], exportArgs[1], noCache);
        }
        if (generateOnly) {
            for (const int tiles : sizes) {
                brindle::bench::PrepareOverviewBlock(dataRoot, tiles, 2, std::cout);
            }
            return 0;
        }
        return Compare(fs::canonical("/proc/self/exe"), dataRoot, sizes, mainTiles);
    } catch (const std::exception& e) {
        std::cerr << "brindle-overview-bench: " << e.what() << '\n';
        return 2;
    }
}
