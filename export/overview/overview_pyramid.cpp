#include "export/overview/overview_pyramid.h"

#include "export/fs/regular_file.h"
#include "export/hash/fnv1a.h"
#include "export/overview/node_bound.h"
#include "export/overview/summary_mosaic.h"
#include "export/overview/top_picture.h"

#include <osg/BoundingBox>
#include <osg/Geode>
#include <osg/Image>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osg/Version>

#include <algorithm>
#include <array>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
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

// A 64-bit FNV-1a hash: subtree hashes tell a node that changed from one that did not, between
// runs on one machine, and need no more than that.
class SubtreeHash {
public:
    SubtreeHash& add(std::string_view bytes) {
        hash_.addWord(bytes.size()).addBytes(bytes);
        return *this;
    }
    SubtreeHash& add(std::uint64_t value) {
        hash_.addWord(value);
        return *this;
    }
    std::uint64_t value() const { return hash_.value(); }

private:
    Fnv1a hash_;
};

std::uint64_t FloatBits(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// What shapes every node besides its tiles: the options and the code that builds them.
std::uint64_t ShapeHash(const PyramidOptions& options) {
    SubtreeHash hash;
    hash.add(BRINDLE_VERSION).add(osgGetVersion()).add(options.namePrefix);
    hash.add(FloatBits(options.mesh.relativeError)).add(FloatBits(options.mesh.relativeSkirtDepth));
    hash.add(static_cast<std::uint64_t>(options.jpegQuality)).add(FloatBits(options.texelPixels));
    hash.add(static_cast<std::uint64_t>(kNodeFileVersion));
    hash.add(kCoarseMeshDrawing);
    return hash.value();
}

// Everything a node file is made from, settled before it is built, so that the file is the
// same whichever thread builds it and when.
struct NodeJob {
    fs::path file;
    SummaryPtr summary; // none for a node whose tiles are all holes
    osg::BoundingBoxd box;
    std::vector<std::string> children; // file names relative to the node's own file
    fs::path previous; // the earlier pyramid's file of the same subtree, taken instead; or none
    std::uint64_t previousContent = 0; // the hash of that file's bytes
    std::uint64_t hash = 0;
};

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

// Where one node stands while its children come in.
struct NodeState {
    std::size_t remaining = 0; // children, or a leaf's tiles, not done yet
    std::array<SummaryPtr, 4> children;
    std::vector<SummaryPtr> tiles;     // a leaf's, in the order of its tiles
    osg::BoundingBoxd box;             // once done: of the node's surface and all below it
    std::vector<std::uint64_t> stamps; // a leaf's tiles' stamps, in the order of its tiles
    std::array<std::uint64_t, 4> childHashes{};
    std::uint64_t hash = 0; // once done: of everything its subtree rests on
    // Once done: its file is the earlier pyramid's, checked against what that one's manifest
    // recorded of it. A node above one built again is built again too: the earlier file above
    // may show what a damaged file below it gave.
    bool taken = false;
};

// A node whose taken child did not read back shows nothing of that child: its hash says so, so
// that no later run takes its file once the child is whole again.
std::uint64_t WithoutChild(std::uint64_t hash) {
    return hash ^ 0x6d697373696e6721ull;
}

// A tile or node summary the pyramid was not waiting for: the caller's mistake, told as a
// failure of the levels rather than thrown on the pool's threads.
std::error_code Misuse() {
    return SystemError(std::errc::invalid_argument);
}

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
          counter_(std::make_shared<SummaryCounter>()), shape_(ShapeHash(options_)) {
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
                states_[n].stamps.resize(node.tiles.size());
                for (std::size_t slot = 0; slot < node.tiles.size(); ++slot) {
                    const std::size_t tile = node.tiles[slot];
                    if (tile >= entries_.size()) {
                        failure_ = Misuse();
                        continue;
                    }
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

    Status LeaveOut(std::size_t tile, std::uint64_t stamp) {
        if (tile < named_.size())
            named_[tile] = false;
        return Add(tile, std::nullopt, stamp);
    }

    Status Add(std::size_t tile, std::optional<TileSummary> summary, std::uint64_t stamp) {
        if (tile >= entries_.size() || leafOf_[tile] == kNoNode || added_[tile])
            return Misuse();
        if (const Status failed = Failure(); !failed)
            return failed;
        added_[tile] = true;
        --tilesLeft_;
        const std::size_t leaf = leafOf_[tile];
        states_[leaf].stamps[slotOf_[tile]] = stamp;
        if (summary && HasArea(summary->extent))
            states_[leaf].tiles[slotOf_[tile]] = Counted(std::move(*summary), counter_);
        if (--states_[leaf].remaining == 0)
            CompleteUpwards(leaf);
        return Failure();
    }

    Result<PyramidTop> Finish() {
        WaitForQueue();
        if (tilesLeft_ != 0 || summariesLeft_ != 0)
            return Misuse();
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
        top.reusedFiles = filesReused_;
        top.picture = std::move(topPicture_);
        return top;
    }

    OverviewManifest Manifest() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }

    fs::path FailedFile() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return failedFile_;
    }
    SummaryCount Summaries() const { return counter_->Count(); }

    SettledLevels Settle(const std::vector<std::optional<KnownTile>>& known) {
        SettledLevels settled;
        settled.tiles.assign(entries_.size(), false);
        if (!options_.previous || options_.previousFolder.empty() || !options_.files.reuse ||
            known.size() != entries_.size())
            return settled;
        const std::vector<std::optional<std::uint64_t>> hashes = KnownHashes(known);
        // From the top down, so that the highest unchanged node of each branch is taken, with
        // everything below it.
        std::vector<bool> taken(tree_.nodes.size(), false);
        for (std::size_t n = tree_.nodes.size(); n-- > 0;) {
            const OverviewNode& node = tree_.nodes[n];
            if (node.parent != kNoNode && taken[node.parent]) {
                taken[n] = true;
                for (const std::size_t tile : node.tiles)
                    SettleTile(tile, known[tile]->listed, settled);
                continue;
            }
            if (node.IsLeaf() || !hashes[n])
                continue;
            const auto before = options_.previous->nodes.find(FileName(node.level, node.x, node.y));
            if (before == options_.previous->nodes.end() || before->second.hash != *hashes[n])
                continue;
            const std::optional<std::size_t> files = TakeSubtree(n);
            if (!files)
                continue;
            taken[n] = true;
            settled.nodeFiles += *files;
            states_[n].hash = *hashes[n];
            states_[n].box = BoxOf(before->second);
            if (node.parent != kNoNode) {
                wanted_.push_back(n);
                settled.summariesWanted.push_back(before->first);
                ++summariesLeft_;
            }
        }
        return settled;
    }

    std::optional<std::string>
    UnchangedTop(const std::vector<std::optional<KnownTile>>& known) const {
        if (!options_.previous || tree_.IsEmpty() || known.size() != entries_.size())
            return std::nullopt;
        const std::vector<std::optional<std::uint64_t>> hashes = KnownHashes(known);
        for (std::size_t n = 0; n < tree_.nodes.size(); ++n) {
            const OverviewNode& node = tree_.nodes[n];
            if (node.IsLeaf())
                continue;
            const std::string name = FileName(node.level, node.x, node.y);
            const auto before = options_.previous->nodes.find(name);
            if (!hashes[n] || before == options_.previous->nodes.end() ||
                before->second.hash != *hashes[n] ||
                !NodeFileHolds(options_.previousFolder / name, before->second.file))
                return std::nullopt;
        }
        const OverviewNode& root = tree_.nodes[tree_.Root()];
        return FileName(root.level, root.x, root.y);
    }

    Status AddNodeSummary(std::size_t wanted, std::optional<TileSummary> summary) {
        if (wanted >= wanted_.size() || wanted_[wanted] == kNoNode)
            return Misuse();
        if (const Status failed = Failure(); !failed)
            return failed;
        const std::size_t node = wanted_[wanted];
        wanted_[wanted] = kNoNode;
        --summariesLeft_;
        SummaryPtr counted;
        if (summary && HasArea(summary->extent)) {
            counted = Counted(std::move(*summary), counter_);
        } else {
            // Its file may be damaged: the next run builds it again, and the node above, which
            // shows nothing of it now, too.
            const OverviewNode& taken = tree_.nodes[node];
            states_[node].hash = WithoutChild(states_[node].hash);
            states_[node].taken = false;
            const std::lock_guard<std::mutex> lock(mutex_);
            written_.nodes.erase(FileName(taken.level, taken.x, taken.y));
        }
        if (const std::size_t parent = HandUp(node, std::move(counted)); parent != kNoNode)
            CompleteUpwards(parent);
        return Failure();
    }

private:
    std::string FileName(int level, std::int64_t x, std::int64_t y) const {
        return options_.namePrefix + NodeFileName(level, x, y);
    }

    // Each node's hash as it will come out, where every tile below it is known already.
    std::vector<std::optional<std::uint64_t>>
    KnownHashes(const std::vector<std::optional<KnownTile>>& known) const {
        std::vector<std::optional<std::uint64_t>> hashes(tree_.nodes.size());
        // Children come before their parents.
        for (std::size_t n = 0; n < tree_.nodes.size(); ++n) {
            const OverviewNode& node = tree_.nodes[n];
            if (node.IsLeaf()) {
                SubtreeHash hash;
                bool all = true;
                for (const std::size_t tile : node.tiles) {
                    all = all && known[tile].has_value();
                    if (all)
                        AddTileToLeafHash(hash, tile, known[tile]->listed, known[tile]->stamp);
                }
                if (all)
                    hashes[n] = hash.value();
                continue;
            }
            std::array<std::uint64_t, 4> children{};
            bool all = true;
            for (std::size_t q = 0; q < 4 && all; ++q)
                if (node.children[q] != kNoNode) {
                    all = hashes[node.children[q]].has_value();
                    children[q] = all ? *hashes[node.children[q]] : 0;
                }
            if (all)
                hashes[n] = NodeHash(node, children);
        }
        return hashes;
    }

    void SettleTile(std::size_t tile, bool listed, SettledLevels& settled) {
        settled.tiles[tile] = true;
        named_[tile] = listed;
        added_[tile] = true;
        --tilesLeft_;
    }

    // Puts the files of the node and every node below it in place from the earlier pyramid, as
    // they are: how many, or nothing when one could not be, and then none is left.
    std::optional<std::size_t> TakeSubtree(std::size_t top) {
        std::vector<std::size_t> below{top};
        std::vector<fs::path> made;
        std::uint64_t bytes = 0;
        OverviewManifest takenNodes;
        for (std::size_t i = 0; i < below.size(); ++i) {
            const OverviewNode& node = tree_.nodes[below[i]];
            for (const std::size_t child : node.children)
                if (child != kNoNode && !tree_.nodes[child].IsLeaf())
                    below.push_back(child);
            const std::string name = FileName(node.level, node.x, node.y);
            const auto before = options_.previous->nodes.find(name);
            const bool put = before != options_.previous->nodes.end() &&
                             NodeFileHolds(options_.previousFolder / name, before->second.file) &&
                             options_.files.reuse(options_.previousFolder / name, folder_ / name);
            if (!put) {
                for (const fs::path& file : made) {
                    std::error_code ignored;
                    fs::remove(file, ignored);
                }
                return std::nullopt;
            }
            made.push_back(folder_ / name);
            ManifestNode taken = before->second;
            taken.file = StampNodeFile(made.back(), before->second.file.content);
            takenNodes.nodes.emplace(name, taken);
            bytes += taken.file.facts.size;
        }
        for (const std::size_t node : below)
            states_[node].taken = true;
        const std::lock_guard<std::mutex> lock(mutex_);
        filesWritten_ += made.size();
        filesReused_ += made.size();
        bytesWritten_ += bytes;
        written_.nodes.insert(takenNodes.nodes.begin(), takenNodes.nodes.end());
        return made.size();
    }

    // Completes `node` and every ancestor whose last child it completes.
    void CompleteUpwards(std::size_t node) {
        while (node != kNoNode)
            node = HandUp(node, Complete(node));
    }

    // Gives the node's summary to its parent: the parent, when that was its last child to come.
    std::size_t HandUp(std::size_t node, SummaryPtr summary) {
        const std::size_t parent = tree_.nodes[node].parent;
        if (parent == kNoNode) {
            // The top's summary goes no further: the block as the report shows it.
            if (summary)
                topPicture_ = PictureFromAbove(*summary);
            return kNoNode;
        }
        const auto& siblings = tree_.nodes[parent].children;
        const auto quadrant = static_cast<std::size_t>(
            std::find(siblings.begin(), siblings.end(), node) - siblings.begin());
        states_[parent].children[quadrant] = std::move(summary);
        states_[parent].childHashes[quadrant] = states_[node].hash;
        return --states_[parent].remaining == 0 ? parent : kNoNode;
    }

    // The node's summary, handed to its parent; a node of level 1 and up goes to be built.
    SummaryPtr Complete(std::size_t index) {
        const OverviewNode& node = tree_.nodes[index];
        NodeState& state = states_[index];
        if (node.IsLeaf())
            return CompleteLeaf(node, state);
        SummaryQuadrants quadrants{};
        bool any = false;
        for (std::size_t q = 0; q < 4; ++q) {
            quadrants[q] = state.children[q].get();
            any = any || quadrants[q] != nullptr;
            if (node.children[q] != kNoNode)
                state.box.expandBy(states_[node.children[q]].box);
        }
        NodeJob job;
        const std::string name = FileName(node.level, node.x, node.y);
        job.file = folder_ / name;
        state.hash = NodeHash(node, state.childHashes);
        if (options_.previous && ChildNodesTaken(node)) {
            const auto before = options_.previous->nodes.find(name);
            const fs::path previous = options_.previousFolder / name;
            if (before != options_.previous->nodes.end() && before->second.hash == state.hash &&
                NodeFileHolds(previous, before->second.file)) {
                job.previous = previous;
                job.previousContent = before->second.file.content;
                state.taken = true;
            }
        }
        if (any)
            job.summary = Counted(MosaicSummaries(quadrants), counter_);
        state.box = NodeBox(state.box, job.summary.get(), options_.mesh.relativeSkirtDepth);
        state.children = {};
        job.box = state.box;
        job.hash = state.hash;
        job.children = ChildNames(node);
        SummaryPtr summary = job.summary;
        Submit(std::move(job));
        return summary;
    }

    // True when every child of the node that is a node itself has its earlier file.
    bool ChildNodesTaken(const OverviewNode& node) const {
        return std::all_of(node.children.begin(), node.children.end(), [this](std::size_t child) {
            return child == kNoNode || tree_.nodes[child].IsLeaf() || states_[child].taken;
        });
    }

    // Of the node's place, its children's names and hashes and, at level 1, its tiles' entries
    // and stamps: equal only where everything the node's file is made from is.
    std::uint64_t NodeHash(const OverviewNode& node,
                           const std::array<std::uint64_t, 4>& childHashes) const {
        SubtreeHash hash;
        hash.add(shape_).add(static_cast<std::uint64_t>(node.level));
        hash.add(static_cast<std::uint64_t>(node.x)).add(static_cast<std::uint64_t>(node.y));
        for (std::size_t q = 0; q < 4; ++q) {
            const std::size_t child = node.children[q];
            if (child == kNoNode) {
                hash.add(std::uint64_t{0});
                continue;
            }
            const OverviewNode& below = tree_.nodes[child];
            hash.add(std::uint64_t{1}).add(FileName(below.level, below.x, below.y));
            hash.add(childHashes[q]);
        }
        return hash.value();
    }

    // A leaf's tiles as its level-1 node names and shows them.
    std::uint64_t LeafHash(const OverviewNode& leaf, const NodeState& state) const {
        SubtreeHash hash;
        for (std::size_t slot = 0; slot < leaf.tiles.size(); ++slot) {
            const std::size_t tile = leaf.tiles[slot];
            AddTileToLeafHash(hash, tile, named_[tile], state.stamps[slot]);
        }
        return hash.value();
    }

    void AddTileToLeafHash(SubtreeHash& hash, std::size_t tile, bool listed,
                           std::uint64_t stamp) const {
        hash.add(entries_[tile]).add(std::uint64_t{listed ? 1u : 0u}).add(stamp);
    }

    SummaryPtr CompleteLeaf(const OverviewNode& leaf, NodeState& state) {
        state.hash = LeafHash(leaf, state);
        std::vector<const TileSummary*> sources;
        Extent extent;
        for (const SummaryPtr& tile : state.tiles) {
            if (!tile)
                continue;
            state.box.expandBy(TileBox(*tile));
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

    // Takes the earlier pyramid's file of the same subtree; false when it cannot, and the node
    // is built after all.
    bool Reuse(const NodeJob& job) {
        if (job.previous.empty() || !options_.files.reuse ||
            !options_.files.reuse(job.previous, job.file))
            return false;
        const NodeFileStamp stamp = StampNodeFile(job.file, job.previousContent);
        const std::lock_guard<std::mutex> lock(mutex_);
        ++filesWritten_;
        ++filesReused_;
        bytesWritten_ += stamp.facts.size;
        written_.nodes[job.file.filename().string()] = {job.hash, BoxArray(job.box), stamp};
        return true;
    }

    void Build(const NodeJob& job) {
        if (!Failure() || Reuse(job))
            return;
        const osg::ref_ptr<osg::PagedLOD> graph = NodeGraph(job, options_);
        const std::optional<std::string> bytes = SerialiseNodeFile(*graph, options_.jpegQuality);
        const Status written = bytes ? options_.files.create(job.file, *bytes)
                                     : Status(SystemError(std::errc::not_supported));
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
        ++filesWritten_;
        bytesWritten_ += bytes->size();
        written_.nodes[job.file.filename().string()] = {job.hash, BoxArray(job.box), stamp};
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
    std::vector<std::size_t> wanted_; // the nodes whose summaries addNodeSummary() takes
    std::size_t summariesLeft_ = 0;
    std::shared_ptr<SummaryCounter> counter_;

    mutable std::mutex mutex_;
    std::condition_variable wake_, room_, idle_;
    std::deque<NodeJob> queue_;
    std::size_t building_ = 0;
    bool closing_ = false;
    std::error_code failure_;
    fs::path failedFile_;
    std::size_t filesWritten_ = 0, filesReused_ = 0;
    ReportImage topPicture_; // once the top is built
    std::uint64_t bytesWritten_ = 0;
    OverviewManifest written_;
    const std::uint64_t shape_;
    std::vector<std::thread> workers_;
};

OverviewPyramid::OverviewPyramid(const OverviewTree& tree, std::vector<std::string> entries,
                                 fs::path folder, PyramidOptions options)
    : builder_(std::make_unique<Builder>(tree, std::move(entries), std::move(folder),
                                         std::move(options))) {}

OverviewPyramid::~OverviewPyramid() = default;

Status OverviewPyramid::leaveOut(std::size_t tile, std::uint64_t stamp) {
    return builder_->LeaveOut(tile, stamp);
}

Status OverviewPyramid::addTile(std::size_t tile, std::optional<TileSummary> summary,
                                std::uint64_t stamp) {
    return builder_->Add(tile, std::move(summary), stamp);
}

SettledLevels OverviewPyramid::settleUnchanged(const std::vector<std::optional<KnownTile>>& known) {
    return builder_->Settle(known);
}

std::optional<std::string>
OverviewPyramid::unchangedTop(const std::vector<std::optional<KnownTile>>& known) const {
    return builder_->UnchangedTop(known);
}

Status OverviewPyramid::addNodeSummary(std::size_t wanted, std::optional<TileSummary> summary) {
    return builder_->AddNodeSummary(wanted, std::move(summary));
}

OverviewManifest OverviewPyramid::manifest() const {
    return builder_->Manifest();
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
