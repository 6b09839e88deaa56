#include "export/overview/pyramid_tree.h"

#include "export/overview/node_bound.h"
#include "export/overview/node_file.h"
#include "export/overview/summary_mosaic.h"

#include <algorithm>
#include <utility>

namespace brindle {
namespace {

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

void SummaryCounter::Born() {
    const std::size_t now = live_.fetch_add(1) + 1;
    std::size_t peak = peak_.load();
    while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
    }
}

SummaryPtr Counted(TileSummary summary, const std::shared_ptr<SummaryCounter>& counter) {
    const auto held = std::make_shared<CountedSummary>(std::move(summary), counter);
    return SummaryPtr(held, &held->summary);
}

PyramidTree::PyramidTree(const OverviewTree& tree, std::vector<std::string> entries,
                         std::string namePrefix)
    : tree_(WithNodeAboveLeaf(tree)), entries_(std::move(entries)),
      namePrefix_(std::move(namePrefix)), states_(tree_.nodes.size()) {
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
                    leavesNameKnownTiles_ = false;
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
}

std::string PyramidTree::FileName(std::size_t n) const {
    const OverviewNode& node = tree_.nodes[n];
    return namePrefix_ + NodeFileName(node.level, node.x, node.y);
}

bool PyramidTree::Awaits(std::size_t tile) const {
    return tile < entries_.size() && leafOf_[tile] != kNoNode && !added_[tile];
}

std::size_t PyramidTree::AddTile(std::size_t tile, SummaryPtr summary, std::uint64_t stamp) {
    added_[tile] = true;
    --tilesLeft_;
    const std::size_t leaf = leafOf_[tile];
    states_[leaf].stamps[slotOf_[tile]] = stamp;
    states_[leaf].tiles[slotOf_[tile]] = std::move(summary);
    return --states_[leaf].remaining == 0 ? leaf : kNoNode;
}

void PyramidTree::Unname(std::size_t tile) {
    if (tile < named_.size())
        named_[tile] = false;
}

void PyramidTree::PutUnderTakenNode(std::size_t tile, bool listed) {
    named_[tile] = listed;
    added_[tile] = true;
    --tilesLeft_;
}

std::size_t PyramidTree::PassToParent(std::size_t node, SummaryPtr summary) {
    const std::size_t parent = tree_.nodes[node].parent;
    if (parent == kNoNode)
        return kNoNode;
    const auto& siblings = tree_.nodes[parent].children;
    const auto quadrant = static_cast<std::size_t>(
        std::find(siblings.begin(), siblings.end(), node) - siblings.begin());
    states_[parent].children[quadrant] = std::move(summary);
    states_[parent].childHashes[quadrant] = states_[node].hash;
    return --states_[parent].remaining == 0 ? parent : kNoNode;
}

SummaryPtr PyramidTree::MergeLeafTiles(std::size_t leaf,
                                       const std::shared_ptr<SummaryCounter>& counter) {
    PyramidNode& state = states_[leaf];
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
        summary = Counted(MergeSummaries(extent, sources), counter);
    state.tiles.clear();
    return summary;
}

SummaryPtr PyramidTree::MosaicChildren(std::size_t n,
                                       const std::shared_ptr<SummaryCounter>& counter,
                                       float relativeSkirtDepth) {
    const OverviewNode& node = tree_.nodes[n];
    PyramidNode& state = states_[n];
    SummaryQuadrants quadrants{};
    bool any = false;
    for (std::size_t q = 0; q < 4; ++q) {
        quadrants[q] = state.children[q].get();
        any = any || quadrants[q] != nullptr;
        if (node.children[q] != kNoNode)
            state.box.expandBy(states_[node.children[q]].box);
    }
    SummaryPtr summary;
    if (any)
        summary = Counted(MosaicSummaries(quadrants), counter);
    state.box = NodeBox(state.box, summary.get(), relativeSkirtDepth);
    state.children = {};
    return summary;
}

bool PyramidTree::ChildNodesTaken(std::size_t n) const {
    const auto& children = tree_.nodes[n].children;
    return std::all_of(children.begin(), children.end(), [this](std::size_t child) {
        return child == kNoNode || tree_.nodes[child].IsLeaf() || states_[child].taken;
    });
}

std::vector<std::string> PyramidTree::ChildNames(std::size_t n) const {
    std::vector<std::string> names;
    for (const std::size_t child : tree_.nodes[n].children) {
        if (child == kNoNode)
            continue;
        const OverviewNode& below = tree_.nodes[child];
        if (below.IsLeaf())
            for (const std::size_t tile : below.tiles) {
                if (named_[tile])
                    names.push_back(entries_[tile]);
            }
        else
            names.push_back(FileName(child));
    }
    return names;
}

} // namespace brindle
