#include "bench/overview_view.h"

#include "bench/overview_block.h"

#include <osg/Camera>
#include <osg/GL>
#include <osg/GraphicsContext>
#include <osg/Image>
#include <osg/MatrixTransform>
#include <osgDB/DatabasePager>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgViewer/Viewer>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace brindle::bench {
namespace {
namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;
constexpr double kFieldOfViewDeg = 30.0; // vertical
constexpr int kCloseSamples = 20;
// The clear colour, which no tile's texture has: pixels of another colour are the block's.
const osg::Vec4 kBackground(1.0f, 0.0f, 1.0f, 1.0f);

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

} // namespace

fs::path UnlitPicture(const fs::path& picture) {
    fs::path unlit = picture;
    return unlit.replace_extension(".unlit.ppm");
}

int ViewIndex(const ViewSettings& settings) {
    const Clock::time_point spawned{std::chrono::nanoseconds(settings.spawnedAtNs)};
    const SampleBlockOptions block = OverviewBlockOptions(settings.tileCount);
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
    const double blockWidth =
        OverviewBlockSide(block) * brindle::SampleTileParamsFor(block, 0).sizeMetres;
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
            const std::string name = OverviewTileName(block, index);
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

} // namespace brindle::bench
