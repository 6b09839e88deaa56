#include "export/overview/overview_pyramid.h"

#include "export/fs/regular_file.h"
#include "export/overview/summary_mosaic.h"

#include <osg/BoundingBox>
#include <osg/Geode>
#include <osg/Image>
#include <osg/PagedLOD>
#include <osg/Texture2D>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

using SummaryPtr = std::shared_ptr<const TileSummary>;

// Counts the summaries alive, wherever they are held: by a node waiting for its siblings, or
// by a node being built.
class SummaryCounter {
public:
    void Born() {
        const std::size_t now = live_.fetch_add(1) + 1;
        std::size_t peak = peak_.load();
        while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
        }
    }
    void Died() { live_.fetch_sub(1); }
    SummaryCount Count() const { return SummaryCount{live_.load(), peak_.load()}; }

private:
    std::atomic<std::size_t> live_{0}, peak_{0};
};

// A summary that tells its counter when it goes.
struct CountedSummary {
    CountedSummary(TileSummary held, std::shared_ptr<SummaryCounter> counter)
        : summary(std::move(held)), counter(std::move(counter)) {
        this->counter->Born();
    }
    ~CountedSummary() { counter->Died(); }
    CountedSummary(const CountedSummary&) = delete;
    CountedSummary& operator=(const CountedSummary&) = delete;

    TileSummary summary;
    std::shared_ptr<SummaryCounter> counter;
};

SummaryPtr Counted(TileSummary summary, const std::shared_ptr<SummaryCounter>& counter) {
    const auto held = std::make_shared<CountedSummary>(std::move(summary), counter);
    return SummaryPtr(held, &held->summary);
}

bool HasArea(const Extent& extent) {
    return extent.IsUsable() && extent.Width() > 0 && extent.Height() > 0;
}

// What a summary's surface takes up: its extent, from below its skirts to its highest sample;
// invalid where it has no height.
osg::BoundingBoxd SurfaceBox(const TileSummary& summary, double relativeSkirtDepth) {
    float lowest = std::numeric_limits<float>::infinity();
    float highest = -lowest;
    for (const float h : summary.heights)
        if (IsHeight(h)) {
            lowest = std::min(lowest, h);
            highest = std::max(highest, h);
        }
    const Extent& e = summary.extent;
    if (lowest > highest || !HasArea(e))
        return {};
    const double skirt = relativeSkirtDepth * std::max(e.Width(), e.Height());
    return osg::BoundingBoxd(e.minX, e.minY, lowest - skirt, e.maxX, e.maxY, highest);
}

// The sphere a node stores around its box: centred as the file stores centres, its radius
// rounded up to hold every corner.
osg::BoundingSphere StoredSphere(const osg::BoundingBoxd& box) {
    using Stored = osg::BoundingSphere::vec_type;
    using Radius = osg::BoundingSphere::value_type;
    const Stored centre(box.center());
    double radius = 0;
    for (unsigned corner = 0; corner < 8; ++corner)
        radius = std::max(radius, (box.corner(corner) - osg::Vec3d(centre)).length());
    auto stored = static_cast<Radius>(radius);
    if (stored < radius)
        stored = std::nextafter(stored, std::numeric_limits<Radius>::max());
    return osg::BoundingSphere(centre, stored);
}

// The pixel size of a node's sphere on screen up to which its coarse mesh shows: while the
// mesh's texels across the extent are at most about a pixel each. The sphere's diameter is
// larger than the extent's side by the same factor at every level, so a parent, twice its
// child's size, switches to its children twice as far away.
float SwitchPixels(const osg::BoundingSphere& sphere, const Extent& extent) {
    const double side = std::max(extent.Width(), extent.Height());
    return static_cast<float>(kSummaryColourPixels * 2.0 * sphere.radius() / side);
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

// Everything a node file is made from, settled before it is built, so that the file is the
// same whichever thread builds it and when.
struct NodeJob {
    fs::path file;
    SummaryPtr summary; // none for a node whose tiles are all holes
    osg::BoundingBoxd box;
    std::vector<std::string> children; // file names relative to the node's own file
};

osg::ref_ptr<osg::PagedLOD> NodeGraph(const NodeJob& job, const CoarseMeshOptions& options) {
    osg::ref_ptr<osg::Geode> mesh = job.summary ? BuildCoarseMesh(*job.summary, options)
                                                : osg::ref_ptr<osg::Geode>(new osg::Geode);
    NameTexturesForEmbedding(*mesh);
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    if (job.box.valid() && job.summary && HasArea(job.summary->extent)) {
        const osg::BoundingSphere sphere = StoredSphere(job.box);
        const float switchAt = SwitchPixels(sphere, job.summary->extent);
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

// Where one node stands while its children come in.
struct NodeState {
    std::size_t remaining = 0; // children, or a leaf's tiles, not done yet
    std::array<SummaryPtr, 4> children;
    std::vector<SummaryPtr> tiles; // a leaf's, in the order of its tiles
    osg::BoundingBoxd box;         // once done: of the node's surface and all below it
};

// The tree as the pyramid builds it: a tree that is one leaf gets a level-1 node above it.
OverviewTree WithNodeAboveLeaf(OverviewTree tree) {
    if (tree.nodes.size() != 1)
        return tree;
    OverviewNode parent;
    parent.level = 1;
    parent.x = tree.nodes[0].x >> 1;
    parent.y = tree.nodes[0].y >> 1;
    parent.children[static_cast<std::size_t>((tree.nodes[0].x & 1) + 2 * (tree.nodes[0].y & 1))] =
        0;
    tree.nodes[0].parent = 1;
    tree.nodes.push_back(parent);
    return tree;
}

} // namespace

class OverviewPyramid::Builder {
public:
    Builder(const OverviewTree& tree, std::vector<std::string> entries, fs::path folder,
            PyramidOptions options)
        : tree_(WithNodeAboveLeaf(tree)), entries_(std::move(entries)), folder_(std::move(folder)),
          options_(std::move(options)), states_(tree_.nodes.size()),
          counter_(std::make_shared<SummaryCounter>()) {
        if (!options_.files.create)
            options_.files = SystemNodeFileCalls();
        leafOf_.assign(entries_.size(), kNoNode);
        slotOf_.assign(entries_.size(), 0);
        added_.assign(entries_.size(), false);
        named_.assign(entries_.size(), true);
        for (std::size_t n = 0; n < tree_.nodes.size(); ++n) {
            const OverviewNode& node = tree_.nodes[n];
            if (node.IsLeaf()) {
                states_[n].remaining = node.tiles.size();
                states_[n].tiles.resize(node.tiles.size());
                for (std::size_t slot = 0; slot < node.tiles.size(); ++slot) {
                    const std::size_t tile = node.tiles[slot];
                    if (tile >= entries_.size())
                        throw std::logic_error("an overview tile without an entry");
                    leafOf_[tile] = n;
                    slotOf_[tile] = slot;
                }
            } else {
                states_[n].remaining = static_cast<std::size_t>(
                    std::count_if(node.children.begin(), node.children.end(),
                                  [](std::size_t child) { return child != kNoNode; }));
            }
            tilesLeft_ += node.tiles.size();
        }
        for (unsigned i = 0; options_.threads > 1 && i < options_.threads; ++i)
            workers_.emplace_back([this] { Work(); });
    }

    ~Builder() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
            queue_.clear();
        }
        wake_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

    Status LeaveOut(std::size_t tile) {
        if (tile < named_.size())
            named_[tile] = false;
        return Add(tile, std::nullopt);
    }

    Status Add(std::size_t tile, std::optional<TileSummary> summary) {
        if (tile >= entries_.size() || leafOf_[tile] == kNoNode || added_[tile])
            throw std::logic_error("an overview tile added twice or not in the tree");
        if (const Status failed = Failure(); !failed)
            return failed;
        added_[tile] = true;
        --tilesLeft_;
        const std::size_t leaf = leafOf_[tile];
        if (summary && HasArea(summary->extent))
            states_[leaf].tiles[slotOf_[tile]] = Counted(std::move(*summary), counter_);
        if (--states_[leaf].remaining == 0)
            CompleteUpwards(leaf);
        return Failure();
    }

    Result<PyramidTop> Finish() {
        if (tilesLeft_ != 0)
            throw std::logic_error("an overview pyramid finished before all its tiles");
        WaitForQueue();
        if (const Status failed = Failure(); !failed)
            return failed.error();
        PyramidTop top;
        if (tree_.IsEmpty())
            return top;
        const OverviewNode& root = tree_.nodes[tree_.Root()];
        top.file = FileName(root.level, root.x, root.y);
        if (states_[tree_.Root()].box.valid())
            top.bound = StoredSphere(states_[tree_.Root()].box);
        const std::lock_guard<std::mutex> lock(mutex_);
        top.nodeFiles = filesWritten_;
        top.bytes = bytesWritten_;
        return top;
    }

    fs::path FailedFile() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return failedFile_;
    }
    SummaryCount Summaries() const { return counter_->Count(); }

private:
    std::string FileName(int level, std::int64_t x, std::int64_t y) const {
        return options_.namePrefix + NodeFileName(level, x, y);
    }

    // Completes `node` and every ancestor whose last child it completes.
    void CompleteUpwards(std::size_t node) {
        for (;;) {
            const SummaryPtr summary = Complete(node);
            const std::size_t parent = tree_.nodes[node].parent;
            if (parent == kNoNode)
                return;
            const auto& siblings = tree_.nodes[parent].children;
            const auto quadrant = static_cast<std::size_t>(
                std::find(siblings.begin(), siblings.end(), node) - siblings.begin());
            states_[parent].children[quadrant] = summary;
            if (--states_[parent].remaining != 0)
                return;
            node = parent;
        }
    }

    // The node's summary, handed to its parent; a node of level 1 and up goes to be built.
    SummaryPtr Complete(std::size_t index) {
        const OverviewNode& node = tree_.nodes[index];
        NodeState& state = states_[index];
        if (node.IsLeaf())
            return CompleteLeaf(state);
        SummaryQuadrants quadrants{};
        bool any = false;
        for (std::size_t q = 0; q < 4; ++q) {
            quadrants[q] = state.children[q].get();
            any = any || quadrants[q] != nullptr;
            if (node.children[q] != kNoNode)
                state.box.expandBy(states_[node.children[q]].box);
        }
        NodeJob job;
        job.file = folder_ / FileName(node.level, node.x, node.y);
        if (any) {
            job.summary = Counted(MosaicSummaries(quadrants), counter_);
            state.box.expandBy(SurfaceBox(*job.summary, options_.mesh.relativeSkirtDepth));
        }
        state.children = {};
        job.box = state.box;
        job.children = ChildNames(node);
        SummaryPtr summary = job.summary;
        Submit(std::move(job));
        return summary;
    }

    SummaryPtr CompleteLeaf(NodeState& state) {
        std::vector<const TileSummary*> sources;
        Extent extent;
        for (const SummaryPtr& tile : state.tiles) {
            if (!tile)
                continue;
            state.box.expandBy(SurfaceBox(*tile, 0));
            const Extent& e = tile->extent;
            extent = sources.empty()
                         ? e
                         : Extent{std::min(extent.minX, e.minX), std::min(extent.minY, e.minY),
                                  std::max(extent.maxX, e.maxX), std::max(extent.maxY, e.maxY)};
            sources.push_back(tile.get());
        }
        SummaryPtr summary;
        if (sources.size() == 1)
            summary = *std::find_if(state.tiles.begin(), state.tiles.end(),
                                    [](const SummaryPtr& tile) { return tile != nullptr; });
        else if (!sources.empty())
            summary = Counted(MergeSummaries(extent, sources), counter_);
        state.tiles.clear();
        return summary;
    }

    // What a node's file names: at level 1 its leaves' tiles, above its child nodes' files,
    // quadrant by quadrant.
    std::vector<std::string> ChildNames(const OverviewNode& node) const {
        std::vector<std::string> names;
        for (const std::size_t child : node.children) {
            if (child == kNoNode)
                continue;
            const OverviewNode& below = tree_.nodes[child];
            if (below.IsLeaf())
                for (const std::size_t tile : below.tiles) {
                    if (named_[tile])
                        names.push_back(entries_[tile]);
                }
            else
                names.push_back(FileName(below.level, below.x, below.y));
        }
        return names;
    }

    // Builds the node here, or hands it to the workers; at most a few nodes wait for them, so
    // that the summaries they hold stay few.
    void Submit(NodeJob job) {
        if (workers_.empty()) {
            Build(job);
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return queue_.size() < 2 * workers_.size(); });
        queue_.push_back(std::move(job));
        wake_.notify_one();
    }

    void Work() {
        for (;;) {
            NodeJob job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                job = std::move(queue_.front());
                queue_.pop_front();
                ++building_;
            }
            room_.notify_one();
            Build(job);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                --building_;
            }
            idle_.notify_all();
        }
    }

    void WaitForQueue() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && building_ == 0; });
    }

    void Build(const NodeJob& job) {
        if (!Failure())
            return;
        const osg::ref_ptr<osg::PagedLOD> graph = NodeGraph(job, options_.mesh);
        const std::optional<std::string> bytes = SerialiseNodeFile(*graph, options_.jpegQuality);
        const Status written = bytes ? options_.files.create(job.file, *bytes)
                                     : Status(SystemError(std::errc::not_supported));
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!written) {
            if (!failure_) {
                failure_ = written.error();
                failedFile_ = job.file;
            }
            return;
        }
        ++filesWritten_;
        bytesWritten_ += bytes->size();
    }

    Status Failure() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }

    const OverviewTree tree_;
    const std::vector<std::string> entries_;
    std::vector<bool> named_; // by tile: its level-1 node names it
    const fs::path folder_;
    PyramidOptions options_;
    std::vector<NodeState> states_;
    std::vector<std::size_t> leafOf_, slotOf_;
    std::vector<bool> added_;
    std::size_t tilesLeft_ = 0;
    std::shared_ptr<SummaryCounter> counter_;

    mutable std::mutex mutex_;
    std::condition_variable wake_, room_, idle_;
    std::deque<NodeJob> queue_;
    std::size_t building_ = 0;
    bool closing_ = false;
    std::error_code failure_;
    fs::path failedFile_;
    std::size_t filesWritten_ = 0;
    std::uint64_t bytesWritten_ = 0;
    std::vector<std::thread> workers_;
};

OverviewPyramid::OverviewPyramid(const OverviewTree& tree, std::vector<std::string> entries,
                                 fs::path folder, PyramidOptions options)
    : builder_(std::make_unique<Builder>(tree, std::move(entries), std::move(folder),
                                         std::move(options))) {}

OverviewPyramid::~OverviewPyramid() = default;

Status OverviewPyramid::leaveOut(std::size_t tile) {
    return builder_->LeaveOut(tile);
}

Status OverviewPyramid::addTile(std::size_t tile, std::optional<TileSummary> summary) {
    return builder_->Add(tile, std::move(summary));
}

Result<PyramidTop> OverviewPyramid::finish() {
    return builder_->Finish();
}

fs::path OverviewPyramid::failedFile() const {
    return builder_->FailedFile();
}

SummaryCount OverviewPyramid::summaries() const {
    return builder_->Summaries();
}

} // namespace brindle
