#include "export/overview/node_writer.h"

#include "export/overview/coarse_mesh.h"
#include "export/overview/held_summary_codec.h"
#include "export/overview/node_bound.h"
#include "export/overview/node_stamp.h"
#include "export/overview/node_summaries.h"
#include "export/system/task_pool.h"

#include <osg/Geode>
#include <osg/Image>
#include <osg/PagedLOD>
#include <osg/Texture2D>

#include <algorithm>
#include <cfloat>
#include <memory>
#include <optional>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The pixel size of a node's sphere on screen up to which its coarse mesh shows: while the
// mesh's texels across the extent cover at most `texelPixels` pixels each. The sphere's
// diameter is larger than the extent's side by the same factor at every level, so a parent,
// twice its child's size, switches to its children twice as far away.
float SwitchPixels(const osg::BoundingSphere& sphere, const Extent& extent, double texelPixels) {
    const double side = std::max(extent.Width(), extent.Height());
    return static_cast<float>(texelPixels * kSummaryColourPixels * 2.0 * sphere.radius() / side);
}

// The coarse mesh's textures are stored inside the node file, as JPEG, under a name that is
// no file's.
void NameTexturesForEmbedding(osg::Geode& mesh) {
    for (unsigned i = 0; i < mesh.getNumDrawables(); ++i) {
        osg::StateSet* state = mesh.getDrawable(i)->getStateSet();
        if (state == nullptr)
            continue;
        auto* texture = dynamic_cast<osg::Texture2D*>(
            state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
        if (texture == nullptr || texture->getImage() == nullptr)
            continue;
        texture->getImage()->setFileName(kEmbeddedJpegName);
        texture->getImage()->setWriteHint(osg::Image::STORE_INLINE);
    }
}

osg::ref_ptr<osg::PagedLOD> NodeGraph(const NodeJob& job, const PyramidOptions& options) {
    osg::ref_ptr<osg::Geode> mesh = job.summary ? BuildCoarseMesh(*job.summary, options.mesh)
                                                : osg::ref_ptr<osg::Geode>(new osg::Geode);
    NameTexturesForEmbedding(*mesh);
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    if (job.box.valid() && job.summary && HasArea(job.summary->extent)) {
        const osg::BoundingSphere sphere = StoredSphere(job.box);
        const float switchAt = SwitchPixels(sphere, job.summary->extent, options.texelPixels);
        lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
        lod->setCenter(sphere.center());
        lod->setRadius(sphere.radius());
        lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
        lod->addChild(mesh.get(), 0, switchAt);
        for (std::size_t i = 0; i < job.children.size(); ++i) {
            lod->setFileName(static_cast<unsigned>(i + 1), job.children[i]);
            lod->setRange(static_cast<unsigned>(i + 1), switchAt, FLT_MAX);
        }
    } else {
        // Nothing below has a surface to tell where it lies: the children are loaded at every
        // distance, as a proxy would load them.
        lod->setRangeMode(osg::LOD::DISTANCE_FROM_EYE_POINT);
        lod->addChild(mesh.get(), 0, FLT_MAX);
        for (std::size_t i = 0; i < job.children.size(); ++i) {
            lod->setFileName(static_cast<unsigned>(i + 1), job.children[i]);
            lod->setRange(static_cast<unsigned>(i + 1), 0, FLT_MAX);
        }
    }
    return lod;
}

} // namespace

NodeWriter::NodeWriter(const PyramidOptions& options, NodeFileCalls files, TaskPool& pool)
    : options_(options), files_(std::move(files)), pool_(pool) {}

NodeWriter::~NodeWriter() {
    std::unique_lock<std::mutex> lock(mutex_);
    closing_ = true;
    done_.wait(lock, [this] { return pending_ == 0; });
}

void NodeWriter::Submit(NodeJob job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++pending_;
    }
    // The pool may drop the task, when it closes first: the job is then done as well.
    struct Done {
        explicit Done(NodeWriter& writer) : writer(writer) {}
        Done(const Done&) = delete;
        Done& operator=(const Done&) = delete;
        // Told under the lock: a writer waiting to be destroyed sees the count reach zero
        // only once the lock is free, and so only once the telling is over.
        ~Done() {
            const std::lock_guard<std::mutex> lock(writer.mutex_);
            --writer.pending_;
            writer.done_.notify_all();
        }
        NodeWriter& writer;
    };
    auto done = std::make_shared<Done>(*this);
    pool_.submit([this, job = std::move(job), done] {
        bool closing = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closing = closing_;
        }
        if (!closing)
            Write(job);
    });
}

void NodeWriter::WaitForJobs() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
}

Status NodeWriter::Failure() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

void NodeWriter::Fail(std::error_code cause, const fs::path& file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (failure_)
        return;
    failure_ = cause;
    failedFile_ = file;
}

fs::path NodeWriter::FailedFile() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return failedFile_;
}

void NodeWriter::RecordTaken(std::size_t files, std::uint64_t bytes,
                             const OverviewManifest& taken) {
    const std::lock_guard<std::mutex> lock(mutex_);
    written_.files += files;
    written_.reused += files;
    written_.bytes += bytes;
    manifest_.nodes.insert(taken.nodes.begin(), taken.nodes.end());
}

void NodeWriter::Forget(const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    manifest_.nodes.erase(name);
}

void NodeWriter::TakeEarlierSummary(const fs::path& earlier, const fs::path& file) const {
    if (files_.reuse)
        (void)files_.reuse(earlier, file);
}

WrittenNodes NodeWriter::Written() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

OverviewManifest NodeWriter::Manifest() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return manifest_;
}

void NodeWriter::Write(const NodeJob& job) {
    if (!Failure())
        return;
    if (job.summaryOnly) {
        // What stands there does not check out, or it would not have been read back.
        std::error_code ignored;
        std::filesystem::remove(job.summaryFile, ignored);
    } else if (!TakeEarlier(job))
        Build(job);
    if (Failure())
        KeepSummary(job);
}

// A summary not kept costs a later run a read of the node's file, and nothing else: where the
// earlier one cannot be linked it is encoded anew, and one that cannot be written is left out.
void NodeWriter::KeepSummary(const NodeJob& job) {
    if (job.summaryFile.empty() || !job.summary)
        return;
    if (!job.earlierSummary.empty() && files_.reuse &&
        files_.reuse(job.earlierSummary, job.summaryFile))
        return;
    const std::optional<std::string> encoded = EncodeKeptSummary(*job.summary);
    if (encoded)
        (void)files_.create(job.summaryFile, KeptSummaryBytes(job.hash, *encoded));
}

// Takes the earlier pyramid's file of the same subtree; false when it cannot, and the node is
// built after all.
bool NodeWriter::TakeEarlier(const NodeJob& job) {
    if (job.earlierFile.empty() || !files_.reuse || !files_.reuse(job.earlierFile, job.file))
        return false;
    const NodeFileStamp stamp = StampNodeFile(job.file, job.earlierContent);
    const std::lock_guard<std::mutex> lock(mutex_);
    ++written_.files;
    ++written_.reused;
    written_.bytes += stamp.facts.size;
    manifest_.nodes[job.file.filename().string()] = {job.hash, BoxArray(job.box), stamp};
    return true;
}

void NodeWriter::Build(const NodeJob& job) {
    const osg::ref_ptr<osg::PagedLOD> graph = NodeGraph(job, options_);
    const std::optional<std::string> bytes = SerialiseNodeFile(*graph, options_.jpegQuality);
    const Status written =
        bytes ? files_.create(job.file, *bytes) : Status(SystemError(std::errc::not_supported));
    const NodeFileStamp stamp =
        written ? StampNodeFile(job.file, NodeContentHash(*bytes)) : NodeFileStamp{};
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!written) {
        if (!failure_) {
            failure_ = written.error();
            failedFile_ = job.file;
        }
        return;
    }
    ++written_.files;
    written_.bytes += bytes->size();
    manifest_.nodes[job.file.filename().string()] = {job.hash, BoxArray(job.box), stamp};
}

} // namespace brindle
