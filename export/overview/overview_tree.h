#pragma once

#include "export/overview/grid_name.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace brindle {

constexpr std::size_t kNoNode = std::numeric_limits<std::size_t>::max();

// A tile and the grid cell it was given: by its name or by where its bounds lie.
struct PlacedTile {
    GridCell cell;
    std::size_t tile = 0; // the tile's index in the caller's list
};

// One node of an overview quadtree. A node of level L covers the 2^L x 2^L cells from
// (x << L, y << L) of the rebased grid, whose lowest cell in each direction is 0.
struct OverviewNode {
    int level = 0;
    std::int64_t x = 0, y = 0;
    // Quadrant q = dx + 2 * dy (dx, dy: 1 towards higher x, y), kNoNode where it holds no tile.
    std::array<std::size_t, 4> children{kNoNode, kNoNode, kNoNode, kNoNode};
    std::size_t parent = kNoNode;
    // A leaf's tiles, in ascending order: usually one, more when several tiles claim a cell.
    std::vector<std::size_t> tiles;

    bool IsLeaf() const { return level == 0; }
};

// A quadtree over the cells that hold tiles; empty quadrants have no node. Nodes come leaves
// first, then level by level, the root last, so a walk in order meets every node's children
// before the node itself.
struct OverviewTree {
    std::vector<OverviewNode> nodes;
    // The grid cell that the rebased cell (0, 0) stands for.
    GridCell origin;

    bool IsEmpty() const { return nodes.empty(); }
    std::size_t Root() const { return nodes.empty() ? kNoNode : nodes.size() - 1; }
    int Levels() const { return nodes.empty() ? 0 : nodes.back().level + 1; }
};

// The quadtree over these tiles' cells, rebased so that the lowest cell in each direction is 0,
// with levels up to the one root that covers every cell. The same tiles give the same tree,
// whatever their order. Cells must lie within kMaxGridIndex of 0.
OverviewTree BuildOverviewTree(std::vector<PlacedTile> tiles);

} // namespace brindle
