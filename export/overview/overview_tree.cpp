#include "export/overview/overview_tree.h"

#include <algorithm>
#include <tuple>

namespace brindle {
namespace {

// One leaf per distinct cell, in the order of (y, x).
std::vector<std::size_t> MakeLeaves(std::vector<PlacedTile>& tiles, OverviewTree& tree) {
    std::sort(tiles.begin(), tiles.end(), [](const PlacedTile& a, const PlacedTile& b) {
        return std::tie(a.cell.y, a.cell.x, a.tile) < std::tie(b.cell.y, b.cell.x, b.tile);
    });
    std::vector<std::size_t> leaves;
    for (const PlacedTile& placed : tiles) {
        const std::int64_t x = placed.cell.x - tree.origin.x, y = placed.cell.y - tree.origin.y;
        if (leaves.empty() || tree.nodes.back().x != x || tree.nodes.back().y != y) {
            OverviewNode leaf;
            leaf.x = x;
            leaf.y = y;
            leaves.push_back(tree.nodes.size());
            tree.nodes.push_back(std::move(leaf));
        }
        tree.nodes.back().tiles.push_back(placed.tile);
    }
    return leaves;
}

// The parents of one level's nodes, appended to the tree; returns them in the order of (y, x).
std::vector<std::size_t> MakeParents(std::vector<std::size_t> level, OverviewTree& tree) {
    const auto parentKey = [&tree](std::size_t index) {
        const OverviewNode& node = tree.nodes[index];
        return std::make_tuple(node.y >> 1, node.x >> 1, node.y & 1, node.x & 1);
    };
    std::sort(level.begin(), level.end(),
              [&](std::size_t a, std::size_t b) { return parentKey(a) < parentKey(b); });
    std::vector<std::size_t> parents;
    for (const std::size_t index : level) {
        const OverviewNode& child = tree.nodes[index];
        const std::int64_t x = child.x >> 1, y = child.y >> 1;
        const int childLevel = child.level;
        if (parents.empty() || tree.nodes.back().x != x || tree.nodes.back().y != y) {
            OverviewNode parent;
            parent.level = childLevel + 1;
            parent.x = x;
            parent.y = y;
            parents.push_back(tree.nodes.size());
            tree.nodes.push_back(std::move(parent)); // may move the nodes: child not used below
        }
        OverviewNode& childNode = tree.nodes[index];
        const std::size_t quadrant =
            static_cast<std::size_t>((childNode.x & 1) + 2 * (childNode.y & 1));
        childNode.parent = parents.back();
        tree.nodes.back().children[quadrant] = index;
    }
    return parents;
}

} // namespace

OverviewTree BuildOverviewTree(std::vector<PlacedTile> tiles) {
    OverviewTree tree;
    if (tiles.empty())
        return tree;
    tree.origin = tiles.front().cell;
    for (const PlacedTile& placed : tiles) {
        tree.origin.x = std::min(tree.origin.x, placed.cell.x);
        tree.origin.y = std::min(tree.origin.y, placed.cell.y);
    }
    // Level by level, not by recursion: a block's tree is as deep as its grid is wide, in bits.
    std::vector<std::size_t> level = MakeLeaves(tiles, tree);
    while (level.size() > 1)
        level = MakeParents(std::move(level), tree);
    return tree;
}

} // namespace brindle
