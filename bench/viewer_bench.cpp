// brindle-viewer-bench: opens the proxy index and the paged index of one large block in an
// offscreen viewer, each in its own process, and compares how soon the first frame is drawn,
// how much memory the process takes (resident, and of it anonymous) and how many tiles it reads;
// then checks that coming close to any tile of the paged index loads it. Run through
// ./bench-viewer.sh.
#include "bench/viewer_block.h"
#include "bench/viewer_results.h"

#include <CLI/CLI.hpp>

#include <osg/Camera>
#include <osg/GL>
#include <osg/Geometry>
#include <osg/GraphicsContext>
#include <osg/Image>
#include <osg/MatrixTransform>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/Polytope>
#include <osg/ProxyNode>
#include <osg/Texture>
#include <osgDB/DatabasePager>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgViewer/Viewer>

#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
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
using brindle::bench::BlockTile;
using brindle::bench::BlockTileAt;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kFirstFrameTarget = 30.0; // the paged index's first frame, times sooner
constexpr double kMemoryTarget = 0.2;      // the paged index's peak memory, at most this share
constexpr double kAnonymousTarget = 0.2;   // likewise its peak anonymous memory
constexpr int kViewportPx = 800;
constexpr double kFieldOfViewDeg = 30.0;
constexpr int kIdleFrames = 5;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------------------------
// The viewing process

// Counts the tile files read, by the reader of the index or by the database pager's threads.
class TileReadCounter : public osgDB::ReadFileCallback {
public:
    osgDB::ReaderWriter::ReadResult readNode(const std::string& file,
                                             const osgDB::Options* options) override {
        std::string path = file;
        std::replace(path.begin(), path.end(), '\\', '/');
        if (fs::path(path).filename() == "root.osgb") {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++reads_;
            tiles_.insert(fs::path(path).parent_path().filename().string());
        }
        osgDB::ReaderWriter::ReadResult result = osgDB::ReadFileCallback::readNode(file, options);
        if (result.status() == osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND && path != file) {
            // This platform's library resolves a backslash in a name relative to a database
            // path, as the proxy's entries are read, but not in the full paths the database
            // pager asks for. Windows, where the indexes are used, takes either separator;
            // here the name is retried as Windows would read it, and the miss counted.
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                ++unresolved_;
            }
            result = osgDB::ReadFileCallback::readNode(path, options);
        }
        return result;
    }

    std::size_t reads() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return reads_;
    }
    std::size_t unresolved() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return unresolved_;
    }
    std::size_t distinctTiles() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return tiles_.size();
    }

private:
    mutable std::mutex mutex_;
    std::size_t reads_ = 0;
    std::size_t unresolved_ = 0; // names found only with the backslash read as a separator
    std::set<std::string> tiles_;
};

// A tile's entry whichever separator the index uses: the proxy index names "Tile\root.osgb",
// the paged index "Tile/root.osgb".
std::string EntryKey(std::string entry) {
    std::replace(entry.begin(), entry.end(), '\\', '/');
    return entry;
}

// Which of the index's tiles are in the scene graph now: the paged nodes with their child
// loaded and the proxy's loaded children. Does not descend into the tiles.
class ResidentTiles : public osg::NodeVisitor {
public:
    ResidentTiles() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::PagedLOD& lod) override {
        if (lod.getNumFileNames() > 0) {
            loaded[EntryKey(lod.getFileName(0))] = lod.getNumChildren() > 0;
        }
    }
    void apply(osg::ProxyNode& proxy) override {
        for (unsigned i = 0; i < proxy.getNumFileNames(); ++i) {
            loaded[EntryKey(proxy.getFileName(i))] = i < proxy.getNumChildren();
        }
    }

    std::size_t count() const {
        return std::count_if(loaded.begin(), loaded.end(), [](const auto& e) { return e.second; });
    }

    std::map<std::string, bool> loaded; // entry name -> its tile is in the graph
};

ResidentTiles Survey(osg::Node& scene) {
    ResidentTiles visitor;
    scene.accept(visitor);
    return visitor;
}

struct ProcessMemory {
    double peakMiB = 0;    // VmHWM
    double currentMiB = 0; // VmRSS
    double anonMiB = 0;    // RssAnon: the resident set less mapped files and shared memory
};

ProcessMemory ReadProcessMemory() {
    ProcessMemory memory;
    std::ifstream status("/proc/self/status");
    std::string key;
    double kib = 0;
    while (status >> key) {
        if (key == "VmHWM:" && status >> kib) {
            memory.peakMiB = kib / 1024.0;
        } else if (key == "VmRSS:" && status >> kib) {
            memory.currentMiB = kib / 1024.0;
        } else if (key == "RssAnon:" && status >> kib) {
            memory.anonMiB = kib / 1024.0;
        }
    }
    return memory;
}

// The most anonymous memory the process has held at any frame's end so far. The system keeps
// a high-water mark of the whole resident set only, which counts the programs' and libraries'
// mapped code alike for both indexes; what the tiles cost is anonymous memory (their arrays,
// pixels and the renderer's copies), so its peak is sampled here.
class AnonymousPeak {
public:
    void sample() { peakMiB_ = std::max(peakMiB_, ReadProcessMemory().anonMiB); }
    double peakMiB() const { return peakMiB_; }

private:
    double peakMiB_ = 0;
};

// Where the process's resident memory is: mapped files (the programs and libraries, the
// rasteriser's code) against anonymous memory, and of the heap, what is allocated against
// what is free but held.
struct MemoryBreakdown {
    double fileMiB = 0, anonMiB = 0;
    double heapInUseMiB = 0, heapFreeMiB = 0;
    std::map<std::string, double> fileMiBByName; // the mapped files by name
};

MemoryBreakdown ReadMemoryBreakdown() {
    MemoryBreakdown breakdown;
    std::ifstream smaps("/proc/self/smaps");
    bool fileBacked = false;
    std::string name;
    for (std::string line; std::getline(smaps, line);) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "Rss:") {
            double kib = 0;
            words >> kib;
            (fileBacked ? breakdown.fileMiB : breakdown.anonMiB) += kib / 1024.0;
            if (fileBacked)
                breakdown.fileMiBByName[name] += kib / 1024.0;
        } else if (!first.empty() && first.back() != ':') {
            // A mapping's header: address range, permissions, offset, device, inode, path.
            std::string permissions, offset, device, inode, path;
            words >> permissions >> offset >> device >> inode >> path;
            fileBacked = !path.empty() && path.front() == '/';
            name = fs::path(path).filename().string();
        }
    }
    const struct mallinfo2 heap = mallinfo2();
    breakdown.heapInUseMiB = static_cast<double>(heap.uordblks + heap.hblkhd) / kMiB;
    breakdown.heapFreeMiB = static_cast<double>(heap.fordblks) / kMiB;
    return breakdown;
}

// What the loaded tiles hold in the scene graph: image pixels (kept or released after their
// upload) and vertex and index arrays. The renderer's copies of them are not counted here.
class TileDataSize : public osg::NodeVisitor {
public:
    TileDataSize() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::Node& node) override {
        visitStateSet(node.getStateSet());
        traverse(node);
    }
    void apply(osg::Drawable& drawable) override {
        visitStateSet(drawable.getStateSet());
        if (osg::Geometry* geometry = drawable.asGeometry()) {
            for (const osg::Array* array : geometry->getVertexAttribArrayList())
                addArray(array);
            addArray(geometry->getVertexArray());
            addArray(geometry->getNormalArray());
            addArray(geometry->getColorArray());
            for (const osg::Array* array : geometry->getTexCoordArrayList())
                addArray(array);
            for (const auto& primitives : geometry->getPrimitiveSetList())
                if (primitives.valid())
                    arrayBytes += primitives->getTotalDataSize();
        }
    }

    double imageBytes = 0, arrayBytes = 0;
    std::size_t textures = 0, texturesReleased = 0;

private:
    void addArray(const osg::Array* array) {
        if (array)
            arrayBytes += array->getTotalDataSize();
    }
    void visitStateSet(const osg::StateSet* stateSet) {
        if (!stateSet)
            return;
        for (const auto& attributes : stateSet->getTextureAttributeList())
            for (const auto& attribute : attributes) {
                const auto* texture =
                    dynamic_cast<const osg::Texture*>(attribute.second.first.get());
                if (!texture)
                    continue;
                ++textures;
                bool held = false;
                for (unsigned i = 0; i < texture->getNumImages(); ++i)
                    if (const osg::Image* image = texture->getImage(i); image && image->data()) {
                        imageBytes += image->getTotalSizeInBytesIncludingMipmaps();
                        held = true;
                    }
                texturesReleased += !held;
            }
    }
};

// Makes sure a frame's pixels exist when frame() returns: the software rasteriser otherwise
// defers the work to the next swap.
struct FinishDrawing : osg::Camera::DrawCallback {
    void operator()(osg::RenderInfo&) const override { glFinish(); }
};

// An offscreen pixel buffer, or, where the display offers none, a window.
osg::ref_ptr<osg::GraphicsContext> CreateContext(bool& pbuffer) {
    for (const bool tryPbuffer : {true, false}) {
        osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
        traits->readDISPLAY();
        traits->setUndefinedScreenDetailsToDefaultScreen();
        traits->x = traits->y = 0;
        traits->width = traits->height = kViewportPx;
        traits->windowDecoration = false;
        traits->doubleBuffer = true;
        traits->pbuffer = tryPbuffer;
        osg::ref_ptr<osg::GraphicsContext> context =
            osg::GraphicsContext::createGraphicsContext(traits.get());
        if (context && context->valid()) {
            pbuffer = tryPbuffer;
            return context;
        }
    }
    throw std::runtime_error("no graphics context: is DISPLAY set (run under xvfb-run)?");
}

// Places the camera `height` metres above a point of the ground, looking straight down.
void LookDown(osgViewer::Viewer& viewer, const osg::Vec2d& ground, double height) {
    viewer.getCamera()->setViewMatrixAsLookAt(osg::Vec3d(ground.x(), ground.y(), height),
                                              osg::Vec3d(ground.x(), ground.y(), 0),
                                              osg::Vec3d(0, 1, 0));
}

// The height from which a straight-down view spans `width` metres.
double HeightToSee(double width) {
    return width / 2 / std::tan(kFieldOfViewDeg / 2 * kPi / 180);
}

// The close view: a square over the south-west corner holding a tenth of the block's area,
// relative to the block's origin.
struct CloseView {
    osg::Vec2d centre;
    double height = 0;
};

CloseView CloseViewOf(const SampleBlockOptions& block) {
    const double blockWidth =
        brindle::bench::BlockSide(block) * brindle::SampleTileParamsFor(block, 0).sizeMetres;
    const double closeWidth = blockWidth / std::sqrt(10.0);
    return {osg::Vec2d(closeWidth / 2, closeWidth / 2), HeightToSee(closeWidth)};
}

// Counts the bounds a cull traversal tests against the view, down to the index's paged and
// proxy nodes and not into the tiles: how much of the tree a frame walks, which is what the
// grouping of the paged index decides (the tiles loaded depend on each paged node alone).
class CullTests {
public:
    explicit CullTests(const osg::Matrixd& viewProjection) {
        frustum_.setToUnitFrustum();
        frustum_.transformProvidingInverse(viewProjection);
    }

    std::size_t count(osg::Node& scene) {
        tests_ = 0;
        visit(scene, frustum_);
        return tests_;
    }

private:
    void visit(osg::Node& node, const osg::Polytope& frustum) {
        ++tests_;
        osg::Polytope view = frustum;
        if (!view.contains(node.getBound()) || dynamic_cast<osg::PagedLOD*>(&node) ||
            dynamic_cast<osg::ProxyNode*>(&node)) {
            return;
        }
        if (auto* transform = dynamic_cast<osg::MatrixTransform*>(&node)) {
            view.transformProvidingInverse(transform->getMatrix());
        }
        if (osg::Group* group = node.asGroup()) {
            for (unsigned i = 0; i < group->getNumChildren(); ++i) {
                visit(*group->getChild(i), view);
            }
        }
    }

    osg::Polytope frustum_;
    std::size_t tests_ = 0;
};

// The bounds culling tests in the close view of the index at `file`, read without its tiles.
std::size_t CloseViewCullTests(const fs::path& file, const SampleBlockOptions& block) {
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(file.string());
    if (!scene) {
        throw std::runtime_error("cannot read " + file.string());
    }
    const auto* transform = dynamic_cast<const osg::MatrixTransform*>(scene.get());
    const osg::Vec3d origin = transform ? transform->getMatrix().getTrans() : osg::Vec3d();
    const CloseView close = CloseViewOf(block);
    const osg::Vec3d ground(origin.x() + close.centre.x(), origin.y() + close.centre.y(), 0);
    const osg::Matrixd view =
        osg::Matrixd::lookAt(ground + osg::Vec3d(0, 0, close.height), ground, osg::Vec3d(0, 1, 0));
    return CullTests(view * osg::Matrixd::perspective(kFieldOfViewDeg, 1.0, 1.0, 1e5))
        .count(*scene);
}

struct Settling {
    double seconds = 0;
    int frames = 0;
    bool idle = false;
};

// Renders frames until the database pager has had nothing to load, compile or merge for a
// few frames in a row, or `limitSeconds` have passed.
Settling RenderUntilIdle(osgViewer::Viewer& viewer, double limitSeconds, AnonymousPeak& anonymous) {
    const Clock::time_point start = Clock::now();
    Settling settling;
    int idleFrames = 0;
    while (idleFrames < kIdleFrames && SecondsSince(start) < limitSeconds) {
        viewer.frame();
        anonymous.sample();
        ++settling.frames;
        const osgDB::DatabasePager* pager = viewer.getDatabasePager();
        const bool busy =
            pager && (pager->getRequestsInProgress() || pager->getFileRequestListSize() > 0 ||
                      pager->getDataToCompileListSize() > 0 || pager->getDataToMergeListSize() > 0);
        idleFrames = busy ? 0 : idleFrames + 1;
    }
    settling.seconds = SecondsSince(start);
    settling.idle = idleFrames >= kIdleFrames;
    return settling;
}

// The results go to stdout as "result KEY VALUE" lines; the scene-graph library may print
// notices there too.
void Report(const std::string& key, double value) {
    std::cout << "result " << key << ' ' << std::setprecision(10) << value << '\n';
}

void ReportPhase(const std::string& phase, const Settling& settling, const TileReadCounter& reads,
                 osg::Node& scene, AnonymousPeak& anonymous) {
    const ProcessMemory memory = ReadProcessMemory();
    Report(phase + ".seconds", settling.seconds);
    Report(phase + ".frames", settling.frames);
    Report(phase + ".idle", settling.idle);
    Report(phase + ".tiles_read", static_cast<double>(reads.distinctTiles()));
    Report(phase + ".reads", static_cast<double>(reads.reads()));
    Report(phase + ".unresolved", static_cast<double>(reads.unresolved()));
    Report(phase + ".tiles_resident", static_cast<double>(Survey(scene).count()));
    Report(phase + ".peak_mib", memory.peakMiB);
    Report(phase + ".rss_mib", memory.currentMiB);
    anonymous.sample();
    Report(phase + ".anon_mib", memory.anonMiB);
    Report(phase + ".anon_peak_mib", anonymous.peakMiB());
    const MemoryBreakdown breakdown = ReadMemoryBreakdown();
    Report(phase + ".file_rss_mib", breakdown.fileMiB);
    Report(phase + ".anon_rss_mib", breakdown.anonMiB);
    Report(phase + ".heap_in_use_mib", breakdown.heapInUseMiB);
    Report(phase + ".heap_free_mib", breakdown.heapFreeMiB);
    // The largest mapped files, for the record, and the software rasteriser's code among them:
    // Mesa's driver and the compiler it generates its code with.
    std::vector<std::pair<double, std::string>> files;
    double rasteriserCode = 0;
    for (const auto& [name, mib] : breakdown.fileMiBByName) {
        files.emplace_back(mib, name);
        if (name.rfind("libLLVM", 0) == 0 || name.find("_dri.so") != std::string::npos)
            rasteriserCode += mib;
    }
    Report(phase + ".rasteriser_code_mib", rasteriserCode);
    std::sort(files.rbegin(), files.rend());
    files.resize(std::min<std::size_t>(files.size(), 6));
    for (const auto& [mib, name] : files)
        Report(phase + ".file_rss." + name, mib);
    TileDataSize tiles;
    scene.accept(tiles);
    Report(phase + ".tile_images_mib", tiles.imageBytes / kMiB);
    Report(phase + ".tile_arrays_mib", tiles.arrayBytes / kMiB);
    Report(phase + ".textures", static_cast<double>(tiles.textures));
    Report(phase + ".textures_released", static_cast<double>(tiles.texturesReleased));
}

struct ViewSettings {
    fs::path index;
    std::int64_t spawnedAtNs = 0; // the parent's steady clock when it started this process
    int tileCount = 0;
    bool jpeg = false;
    bool shuffled = false;
    int samples = 20;
    bool closeOnly = false; // stop after the close view
    double closeLimitSeconds = 30;
    double farLimitSeconds = 90;
};

int ViewIndex(const ViewSettings& settings) {
    const Clock::time_point spawned{std::chrono::nanoseconds(settings.spawnedAtNs)};
    const SampleBlockOptions block =
        brindle::bench::ViewerBlockOptions(settings.tileCount, settings.jpeg);
    const osg::ref_ptr<TileReadCounter> reads = new TileReadCounter;
    osgDB::Registry::instance()->setReadFileCallback(reads.get());

    const Clock::time_point readStart = Clock::now();
    AnonymousPeak anonymous;
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(settings.index.string());
    if (!scene) {
        throw std::runtime_error("cannot read " + settings.index.string());
    }
    anonymous.sample();
    Report("index_read.seconds", SecondsSince(readStart));
    Report("index_read.tiles_read", static_cast<double>(reads->distinctTiles()));
    const auto* transform = dynamic_cast<const osg::MatrixTransform*>(scene.get());
    const osg::Vec3d origin = transform ? transform->getMatrix().getTrans() : osg::Vec3d();
    const osg::Vec2d offset(origin.x(), origin.y());

    osgViewer::Viewer viewer;
    viewer.setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    bool pbuffer = false;
    const osg::ref_ptr<osg::GraphicsContext> context = CreateContext(pbuffer);
    osg::Camera* camera = viewer.getCamera();
    camera->setGraphicsContext(context.get());
    camera->setViewport(0, 0, kViewportPx, kViewportPx);
    camera->setDrawBuffer(GL_BACK);
    camera->setReadBuffer(GL_BACK);
    camera->setProjectionMatrixAsPerspective(kFieldOfViewDeg, 1.0, 1.0, 1e5);
    camera->setFinalDrawCallback(new FinishDrawing);
    viewer.setSceneData(scene.get());
    Report("pbuffer", pbuffer);

    const CloseView closeView = CloseViewOf(block);
    LookDown(viewer, offset + closeView.centre, closeView.height);
    viewer.realize();
    viewer.frame();
    Report("first_frame.seconds", SecondsSince(spawned));
    Report("first_frame.tiles_read", static_cast<double>(reads->distinctTiles()));
    const ProcessMemory firstFrame = ReadProcessMemory();
    anonymous.sample();
    Report("first_frame.peak_mib", firstFrame.peakMiB);
    Report("first_frame.anon_mib", firstFrame.anonMiB);
    Report("first_frame.anon_peak_mib", anonymous.peakMiB());
    {
        const MemoryBreakdown breakdown = ReadMemoryBreakdown();
        Report("first_frame.file_rss_mib", breakdown.fileMiB);
        Report("first_frame.anon_rss_mib", breakdown.anonMiB);
        Report("first_frame.heap_in_use_mib", breakdown.heapInUseMiB);
    }

    const Settling close = RenderUntilIdle(viewer, settings.closeLimitSeconds, anonymous);
    Report("close.complete_seconds", SecondsSince(spawned));
    ReportPhase("close", close, *reads, *scene, anonymous);
    {
        // The same tiles held, none in view: what drawing them took is what the heap gives
        // back, or keeps for the next frame's drawing.
        LookDown(viewer, offset - osg::Vec2d(1e6, 1e6), closeView.height);
        viewer.frame();
        viewer.frame();
        Report("close.heap_none_drawn_mib", ReadMemoryBreakdown().heapInUseMiB);
        Report("close.tiles_resident_none_drawn", static_cast<double>(Survey(*scene).count()));
        LookDown(viewer, offset + closeView.centre, closeView.height);
        viewer.frame();
    }
    if (settings.closeOnly) {
        std::cout.flush();
        return 0;
    }

    // Above each sample tile in turn, close enough to see it and its neighbours: its node must
    // hold the tile once the pager has settled.
    int reached = 0;
    int loadedBefore = 0;
    int settledAll = 1;
    for (int i = 0; i < settings.samples; ++i) {
        const int index = settings.samples > 1
                              ? i * (settings.tileCount - 1) / (settings.samples - 1)
                              : settings.tileCount / 2;
        const BlockTile tile = BlockTileAt(block, settings.shuffled, index);
        loadedBefore += Survey(*scene).loaded[EntryKey(tile.entry)];
        LookDown(viewer, offset + tile.centre, HeightToSee(300.0));
        settledAll &= RenderUntilIdle(viewer, settings.closeLimitSeconds, anonymous).idle;
        const bool loaded = Survey(*scene).loaded[EntryKey(tile.entry)];
        reached += loaded;
        if (!loaded) {
            std::cerr << settings.index.filename().string() << ": " << tile.entry
                      << " not loaded with the camera above it\n";
        }
    }
    Report("sweep.samples", settings.samples);
    Report("sweep.reached", reached);
    Report("sweep.loaded_before", loadedBefore);
    Report("sweep.idle", settledAll);
    const ProcessMemory sweep = ReadProcessMemory();
    anonymous.sample();
    Report("sweep.peak_mib", sweep.peakMiB);
    Report("sweep.anon_mib", sweep.anonMiB);
    Report("sweep.anon_peak_mib", anonymous.peakMiB());

    // Far: the whole block in view.
    const double blockWidth =
        brindle::bench::BlockSide(block) * brindle::SampleTileParamsFor(block, 0).sizeMetres;
    LookDown(viewer, offset + osg::Vec2d(blockWidth / 2, blockWidth / 2),
             HeightToSee(blockWidth * 1.1));
    const Settling far = RenderUntilIdle(viewer, settings.farLimitSeconds, anonymous);
    ReportPhase("far", far, *reads, *scene, anonymous);
    std::cout.flush();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The comparing process

using brindle::bench::ParseResults;
using brindle::bench::Results;

// Runs this program on `index` in a child process and collects what it reports.
Results RunViewer(const fs::path& self, const fs::path& index, int tileCount, bool jpeg,
                  bool shuffled, int samples) {
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
                                     "--spawned-at",
                                     std::to_string(spawnedAt.count()),
                                     "--tiles",
                                     std::to_string(tileCount),
                                     "--samples",
                                     std::to_string(samples)};
    if (jpeg) {
        args.emplace_back("--jpeg");
    }
    if (shuffled) {
        args.emplace_back("--shuffled");
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

struct TileFiles {
    std::size_t count = 0;
    std::uintmax_t bytes = 0, smallest = 0, largest = 0;
};

TileFiles MeasureTiles(const fs::path& folder) {
    TileFiles files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const fs::path root = entry.path() / "root.osgb";
        // The grid's tiles; the block's odd folders are there for the exporter's sake.
        if (entry.is_directory() && entry.path().filename().string().rfind("Tile_+", 0) == 0 &&
            fs::is_regular_file(root)) {
            const std::uintmax_t size = fs::file_size(root);
            files.smallest = files.count == 0 ? size : std::min(files.smallest, size);
            files.largest = std::max(files.largest, size);
            files.bytes += size;
            ++files.count;
        }
    }
    return files;
}

void PrintRow(const std::string& label, double proxy, double paged, const char* unit,
              int precision) {
    std::cout << "  " << std::left << std::setw(34) << label << std::right << std::fixed
              << std::setprecision(precision) << std::setw(10) << proxy << unit << std::setw(10)
              << paged << unit << '\n';
}

int Compare(const fs::path& self, const fs::path& dataRoot, int tileCount, bool jpeg, bool shuffled,
            int samples) {
    const brindle::bench::ViewerBlock block =
        brindle::bench::PrepareViewerBlock(dataRoot, tileCount, jpeg, shuffled, std::cout);
    const TileFiles files = MeasureTiles(block.folder);
    std::cout << "block " << block.folder.string() << ": " << files.count << " tiles, "
              << files.smallest / 1024 << " to " << files.largest / 1024 << " KB (mean "
              << files.bytes / std::max<std::size_t>(files.count, 1) / 1024 << " KB), "
              << std::fixed << std::setprecision(0) << files.bytes / kMiB << " MB in all\n";

    std::cout << "culling the close view tests "
              << CloseViewCullTests(block.pagedIndex, block.options)
              << " bounds of the paged index (groups and paged nodes; " << tileCount << " tiles)"
              << std::endl;
    std::cout << "viewing the proxy index ..." << std::endl;
    const Results proxy = RunViewer(self, block.proxyIndex, tileCount, jpeg, shuffled, samples);
    std::cout << "viewing the paged index ..." << std::endl;
    const Results paged = RunViewer(self, block.pagedIndex, tileCount, jpeg, shuffled, samples);

    std::cout << '\n'
              << "  " << std::setw(34) << "" << std::setw(12) << "proxy" << std::setw(12) << "paged"
              << '\n';
    const auto row = [&](const std::string& label, const std::string& key, const char* unit,
                         int precision) {
        PrintRow(label, proxy.at(key), paged.at(key), unit, precision);
    };
    row("reading the index", "index_read.seconds", " s", 3);
    row("tiles read with the index", "index_read.tiles_read", "  ", 0);
    row("start to first frame", "first_frame.seconds", " s", 3);
    row("tiles read by the first frame", "first_frame.tiles_read", "  ", 0);
    row("peak RSS by the first frame", "first_frame.peak_mib", "MB", 1);
    row("peak anonymous by the first frame", "first_frame.anon_peak_mib", "MB", 1);
    row("  heap allocated at the first frame", "first_frame.heap_in_use_mib", "MB", 1);
    row("start to close view complete", "close.complete_seconds", " s", 3);
    row("tiles read, close view", "close.tiles_read", "  ", 0);
    row("tiles in the graph, close view", "close.tiles_resident", "  ", 0);
    row("peak RSS through close view", "close.peak_mib", "MB", 1);
    row("peak anonymous through close view", "close.anon_peak_mib", "MB", 1);
    row("  anonymous at its end (RssAnon)", "close.anon_mib", "MB", 1);
    // What the close view's memory is, at its end.
    row("  RSS of mapped files", "close.file_rss_mib", "MB", 1);
    row("    of which the rasteriser's code", "close.rasteriser_code_mib", "MB", 1);
    row("  RSS of anonymous memory", "close.anon_rss_mib", "MB", 1);
    row("  heap allocated", "close.heap_in_use_mib", "MB", 1);
    row("    of it with the view turned away", "close.heap_none_drawn_mib", "MB", 1);
    row("  heap free but held", "close.heap_free_mib", "MB", 1);
    row("  tile pixels in the graph", "close.tile_images_mib", "MB", 1);
    row("  tile arrays in the graph", "close.tile_arrays_mib", "MB", 1);
    row("sample tiles loaded when above", "sweep.reached", "  ", 0);
    row("  of which loaded already", "sweep.loaded_before", "  ", 0);
    row("peak RSS through sweep", "sweep.peak_mib", "MB", 1);
    row("peak anonymous through sweep", "sweep.anon_peak_mib", "MB", 1);
    row("far view: time to settle", "far.seconds", " s", 3);
    row("far view: tiles read in all", "far.tiles_read", "  ", 0);
    row("far view: tiles in the graph", "far.tiles_resident", "  ", 0);
    row("peak RSS through far view", "far.peak_mib", "MB", 1);
    row("peak anonymous through far view", "far.anon_peak_mib", "MB", 1);
    row("  anonymous at its end (RssAnon)", "far.anon_mib", "MB", 1);
    row("tile reads missed by the stock pager", "far.unresolved", "  ", 0);
    for (const char* phase : {"close", "sweep", "far"}) {
        for (const Results* r : {&proxy, &paged}) {
            if (r->at(std::string(phase) + ".idle") == 0) {
                std::cout << "  note: " << (r == &proxy ? "proxy" : "paged") << ' ' << phase
                          << " view stopped at its time limit with the pager still busy\n";
            }
        }
    }

    const double sooner = proxy.at("first_frame.seconds") / paged.at("first_frame.seconds");
    const double memory = paged.at("close.peak_mib") / proxy.at("close.peak_mib");
    // The renderer's own memory, and the software rasteriser's, which grows with the triangles
    // drawn per frame, are in both figures; this share leaves out what precedes any tile.
    const double base = paged.at("first_frame.peak_mib");
    const double tileMemory =
        (paged.at("close.peak_mib") - base) / (proxy.at("close.peak_mib") - base);
    const double farMemory = paged.at("far.peak_mib") / proxy.at("far.peak_mib");
    const double anonymous = paged.at("close.anon_peak_mib") / proxy.at("close.anon_peak_mib");
    const double farAnonymous = paged.at("far.anon_peak_mib") / proxy.at("far.anon_peak_mib");
    const bool anonymousPass = anonymous <= kAnonymousTarget;
    const bool reachable = paged.at("sweep.reached") == samples;
    const bool firstFramePass = sooner >= kFirstFrameTarget;
    const bool memoryPass = memory <= kMemoryTarget;
    // The verdicts in ./bench.sh's form: a PASS or FAIL line per target.
    const auto verdict = [](bool pass) { return pass ? "PASS " : "FAIL "; };
    std::cout << std::fixed << std::setprecision(2) << '\n'
              << verdict(firstFramePass) << "viewer: first frame of the paged index at least "
              << std::setprecision(0) << kFirstFrameTarget << "x sooner than the proxy's ("
              << std::setprecision(1) << sooner << "x; " << tileCount << " tiles)\n"
              << verdict(memoryPass)
              << "viewer: peak memory through the close view, paged/proxy at most "
              << std::setprecision(2) << kMemoryTarget << " (" << memory << ": "
              << std::setprecision(0) << paged.at("close.peak_mib") << " MB against "
              << proxy.at("close.peak_mib") << " MB)\n"
              << verdict(anonymousPass)
              << "viewer: peak anonymous memory through the close view, paged/proxy at most "
              << std::setprecision(2) << kAnonymousTarget << " (" << anonymous << ": "
              << std::setprecision(0) << paged.at("close.anon_peak_mib") << " MB against "
              << proxy.at("close.anon_peak_mib") << " MB)\n"
              << verdict(reachable) << "viewer: every sample tile loaded with the camera above it ("
              << static_cast<int>(paged.at("sweep.reached")) << " of " << samples << ", "
              << static_cast<int>(paged.at("sweep.loaded_before")) << " loaded before)\n"
              << std::setprecision(2)
              << "  close view above the paged viewer's size at its first frame (no tile drawn "
              << "yet): paged/proxy " << tileMemory << '\n'
              << "  after the whole-block view: paged/proxy peak memory " << farMemory
              << ", peak anonymous memory " << farAnonymous
              << " (no target: every tile is in view and above the load size)\n";
    if (tileCount != brindle::bench::kViewerBlockTiles) {
        // The viewer's own memory weighs more against a smaller proxy, and its start against
        // a shorter read.
        std::cout << "  note: the targets are set for the block of "
                  << brindle::bench::kViewerBlockTiles << " tiles; this one has " << tileCount
                  << '\n';
    }
    if (paged.at("far.unresolved") > 0) {
        std::cout << "note: this platform's database pager found none of the paged index's "
                  << "backslash entries; the benchmark read them as Windows does\n";
    }
    return firstFramePass && memoryPass && anonymousPass && reachable ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Compares a viewer opening the proxy and the paged index of one large block."};
    fs::path dataRoot = BRINDLE_VIEWER_DATA_DIR;
    int tileCount = brindle::bench::kViewerBlockTiles;
    int samples = 20;
    bool quick = std::getenv("BRINDLE_BENCH_QUICK") != nullptr;
    bool jpeg = false;
    bool shuffled = false;
    ViewSettings view;
    app.add_option("--data", dataRoot, "folder for the generated block (kept between runs)");
    app.add_option("--tiles", tileCount, "tiles in the block")->check(CLI::Range(4, 998001));
    app.add_flag("--quick", quick,
                 "a block of " + std::to_string(brindle::bench::kViewerQuickBlockTiles) +
                     " tiles unless --tiles says otherwise; also BRINDLE_BENCH_QUICK");
    app.add_flag("--jpeg", jpeg, "tiles with larger textures embedded as JPEG");
    app.add_flag("--shuffled", shuffled,
                 "the same tiles named in random order rather than by their place on the grid");
    app.add_option("--samples", samples, "tiles checked for loading when approached")
        ->check(CLI::Range(1, 1000));
    app.add_option("--view", view.index, "(internal) view this index and report");
    app.add_option("--spawned-at", view.spawnedAtNs, "(internal) steady clock at the start");
    app.add_flag("--close-only", view.closeOnly, "(internal) stop after the close view");
    CLI11_PARSE(app, argc, argv);
    if (quick && app.count("--tiles") == 0)
        tileCount = brindle::bench::kViewerQuickBlockTiles;

    try {
        if (!view.index.empty()) {
            view.tileCount = tileCount;
            view.samples = samples;
            view.jpeg = jpeg;
            view.shuffled = shuffled;
            return ViewIndex(view);
        }
        return Compare(fs::canonical("/proc/self/exe"), dataRoot, tileCount, jpeg, shuffled,
                       samples);
    } catch (const std::exception& e) {
        std::cerr << "brindle-viewer-bench: " << e.what() << '\n';
        return 2;
    }
}
