#include "walk_fixtures.h"

#include "export/tiles3d/b3dm_content.h"
#include "export/tiles3d/tile_content.h"

#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/ReadFile>

#include <algorithm>
#include <fstream>
#include <limits>

namespace brindle::test {
namespace fs = std::filesystem;
namespace {

// The files a scene's paged nodes name, as a viewer resolves them.
class FinerFiles : public osg::NodeVisitor {
public:
    explicit FinerFiles(fs::path folder)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), folder_(std::move(folder)) {}

    void apply(osg::PagedLOD& paged) override {
        const fs::path base =
            paged.getDatabasePath().empty() ? folder_ : fs::u8path(paged.getDatabasePath());
        // As the pager measures the switch: the node's bound, which is the user-defined sphere
        // where the node has one, else its children's.
        const osg::BoundingSphere& bound = paged.getBound();
        const osg::Vec3d centre(bound.center());
        const double radius = bound.valid() ? bound.radius() : 0.0;
        for (unsigned i = 0; i < paged.getNumFileNames(); ++i) {
            if (paged.getFileName(i).empty())
                continue;
            FinerFile named;
            named.file = (base / fs::u8path(paged.getFileName(i))).lexically_normal();
            named.pixels = paged.getRangeMode() == osg::LOD::PIXEL_SIZE_ON_SCREEN;
            named.switchAt = paged.getMinRange(i);
            named.centre = {centre.x(), centre.y(), centre.z()};
            named.radius = radius;
            found.push_back(std::move(named));
        }
        traverse(paged);
    }

    // A proxy's files are loaded with it, at every distance; the reader has put them in as its
    // children, which are those files' and not this one's.
    void apply(osg::ProxyNode& proxy) override {
        const fs::path base =
            proxy.getDatabasePath().empty() ? folder_ : fs::u8path(proxy.getDatabasePath());
        for (unsigned i = 0; i < proxy.getNumFileNames(); ++i) {
            if (proxy.getFileName(i).empty())
                continue;
            FinerFile named;
            // The reader takes a backslash for a folder's separator, as the index writes it.
            std::string name = proxy.getFileName(i);
            std::replace(name.begin(), name.end(), '\\', '/');
            named.file = (base / fs::u8path(name)).lexically_normal();
            named.switchAt = std::numeric_limits<float>::max();
            found.push_back(std::move(named));
        }
        proxy.removeChildren(0, proxy.getNumChildren());
    }

    std::vector<FinerFile> found;

private:
    fs::path folder_;
};

osg::ref_ptr<osg::Node> ReadPlain(const fs::path& file) {
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setObjectCacheHint(osgDB::Options::CACHE_NONE);
    return osgDB::readRefNodeFile(file.string(), options.get());
}

} // namespace

std::string Canonical(const fs::path& file) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(file, error);
    return (error ? file.lexically_normal() : canonical).generic_string();
}

ConvertedFile ConvertInProcess(const ConversionJob& job) {
    ConvertedFile converted;
    const osg::ref_ptr<osg::Node> scene = ReadPlain(job.file);
    if (!scene) {
        converted.outcome = TileOutcome(TileStatus::LoadFailed);
        return converted;
    }
    FinerFiles finer(job.file.parent_path());
    scene->accept(finer);
    converted.finer = std::move(finer.found);
    ContentOptions options;
    options.quantize = job.quantize;
    Result<TileContent> content = MakeTileContent(*scene, options);
    if (!content) {
        converted.contentError = content.error();
        return converted;
    }
    if (job.b3dm)
        content->glb = B3dmAround(content->glb);
    std::ofstream(job.glb, std::ios::binary)
        .write(content->glb.data(), static_cast<std::streamsize>(content->glb.size()));
    converted.glbBytes = content->glb.size();
    converted.triangles = content->triangles;
    converted.boundsMin = {content->bounds.xMin(), content->bounds.yMin(), content->bounds.zMin()};
    converted.boundsMax = {content->bounds.xMax(), content->bounds.yMax(), content->bounds.zMax()};
    return converted;
}

InProcessConverter::InProcessConverter(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
}

InProcessConverter::~InProcessConverter() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void InProcessConverter::convert(ConversionJob job, FileConversions::Done done) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++calls_[Canonical(job.file)];
        mostInFlight_ = std::max(mostInFlight_, ++inFlight_);
        jobs_.emplace_back(std::move(job), std::move(done));
    }
    wake_.notify_one();
}

void InProcessConverter::work() {
    for (;;) {
        std::pair<ConversionJob, FileConversions::Done> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        const auto answer = answers.find(Canonical(job.first.file));
        ConvertedFile converted =
            answer != answers.end() ? answer->second : ConvertInProcess(job.first);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            --inFlight_;
        }
        job.second(job.first, std::move(converted));
    }
}

std::map<std::string, int> InProcessConverter::calls() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::size_t InProcessConverter::callCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t count = 0;
    for (const auto& [file, times] : calls_)
        count += static_cast<std::size_t>(times);
    return count;
}

std::size_t InProcessConverter::mostInFlight() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return mostInFlight_;
}

std::map<std::string, FileOnDisk> FilesBelowIndex(const fs::path& index) {
    std::map<std::string, FileOnDisk> files;
    std::vector<fs::path> pending{index};
    files[Canonical(index)];
    while (!pending.empty()) {
        const fs::path file = pending.back();
        pending.pop_back();
        FileOnDisk& onDisk = files[Canonical(file)];
        const osg::ref_ptr<osg::Node> scene = ReadPlain(file);
        onDisk.loads = scene.valid();
        if (!scene)
            continue;
        FinerFiles finer(file.parent_path());
        scene->accept(finer);
        onDisk.switches = finer.found;
        for (const FinerFile& named : finer.found) {
            const std::string key = Canonical(named.file);
            onDisk.finer.push_back(key);
            if (files.emplace(key, FileOnDisk{}).second)
                pending.push_back(named.file);
        }
    }
    return files;
}

} // namespace brindle::test
