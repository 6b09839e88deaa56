#include "export/overview/tile_placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>

namespace brindle {
namespace {

std::string GridName(std::int64_t x, std::int64_t y) {
    char name[64];
    std::snprintf(name, sizeof name, "Tile_%+04lld_%+04lld", static_cast<long long>(x),
                  static_cast<long long>(y));
    return name;
}

// The extent of grid cell (x, y) of a block whose cells are 100 m wide and whose cell (0, 0) has
// its lower corner at (500, 1000); yStep -100 for producers that count rows down the frame.
Extent CellExtent(std::int64_t x, std::int64_t y, double yStep = 100) {
    const double minY = 1000 + y * yStep;
    return Extent{500.0 + x * 100, std::min(minY, minY + yStep), 600.0 + x * 100,
                  std::max(minY, minY + yStep)};
}

// Checks what every overview tree must be, and returns each tile's leaf.
std::map<std::size_t, const OverviewNode*> CheckTree(const OverviewTree& tree) {
    std::map<std::size_t, const OverviewNode*> leafOf;
    if (tree.IsEmpty())
        return leafOf;
    EXPECT_EQ(tree.nodes[tree.Root()].parent, kNoNode);
    EXPECT_EQ(tree.nodes[tree.Root()].x, 0);
    EXPECT_EQ(tree.nodes[tree.Root()].y, 0);
    for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
        const OverviewNode& node = tree.nodes[i];
        EXPECT_GE(node.x, 0);
        EXPECT_GE(node.y, 0);
        if (i != tree.Root()) {
            // Parents come after their children, and name them in the right quadrant.
            EXPECT_GT(node.parent, i);
            EXPECT_LT(node.parent, tree.nodes.size());
            const OverviewNode& parent = tree.nodes.at(node.parent);
            EXPECT_EQ(parent.level, node.level + 1);
            EXPECT_EQ(parent.x, node.x >> 1);
            EXPECT_EQ(parent.y, node.y >> 1);
            EXPECT_EQ(parent.children.at(static_cast<std::size_t>((node.x & 1) + 2 * (node.y & 1))),
                      i);
        }
        if (node.IsLeaf()) {
            EXPECT_FALSE(node.tiles.empty());
            EXPECT_TRUE(std::is_sorted(node.tiles.begin(), node.tiles.end()));
            for (const std::size_t child : node.children)
                EXPECT_EQ(child, kNoNode);
            for (const std::size_t tile : node.tiles)
                EXPECT_TRUE(leafOf.emplace(tile, &node).second) << "tile in two leaves: " << tile;
        } else {
            // No node for an empty quadrant: each inner node has a child.
            EXPECT_TRUE(node.tiles.empty());
            EXPECT_TRUE(std::any_of(node.children.begin(), node.children.end(),
                                    [](std::size_t c) { return c != kNoNode; }));
            for (const std::size_t child : node.children) {
                if (child != kNoNode) {
                    EXPECT_EQ(tree.nodes.at(child).parent, i);
                }
            }
        }
    }
    return leafOf;
}

std::vector<OverviewTile> NamedGrid(std::int64_t columns, std::int64_t rows) {
    std::vector<OverviewTile> tiles;
    for (std::int64_t y = 0; y < rows; ++y)
        for (std::int64_t x = 0; x < columns; ++x)
            tiles.push_back(OverviewTile{GridName(x, y), CellExtent(x, y)});
    return tiles;
}

TEST(OverviewTree, DenseGridFillsEveryQuadrantUpToOneRoot) {
    const OverviewLayout layout = PlaceTiles(NamedGrid(8, 8));
    const auto leafOf = CheckTree(layout.grid);
    EXPECT_TRUE(layout.bounds.IsEmpty());
    EXPECT_TRUE(layout.unplaced.empty());
    ASSERT_EQ(leafOf.size(), 64u);
    EXPECT_EQ(layout.grid.nodes.size(), 64u + 16 + 4 + 1);
    EXPECT_EQ(layout.grid.Levels(), 4);
    for (const OverviewNode& node : layout.grid.nodes) {
        for (const std::size_t child : node.children) {
            if (!node.IsLeaf()) {
                EXPECT_NE(child, kNoNode);
            }
        }
    }
    // Tile_+005_+003 is the 30th of the list.
    EXPECT_EQ(leafOf.at(3 * 8 + 5)->x, 5);
    EXPECT_EQ(leafOf.at(3 * 8 + 5)->y, 3);

    // A grid that is no power of two: the root covers the next one.
    const OverviewLayout three = PlaceTiles(NamedGrid(3, 3));
    CheckTree(three.grid);
    EXPECT_EQ(three.grid.nodes.size(), 9u + 4 + 1);
    EXPECT_EQ(three.grid.Levels(), 3);
}

TEST(OverviewTree, SparseGridHasNoNodeForItsHoles) {
    std::vector<OverviewTile> tiles;
    for (const auto& [x, y] : {std::pair{0, 0}, {7, 7}, {3, 0}})
        tiles.push_back(OverviewTile{GridName(x, y), std::nullopt});
    const OverviewLayout layout = PlaceTiles(tiles);
    const auto leafOf = CheckTree(layout.grid);
    ASSERT_EQ(leafOf.size(), 3u);
    // Leaves (0,0) (3,0) (7,7); level 1: (0,0) (1,0) (3,3); level 2: (0,0) (1,1); the root.
    EXPECT_EQ(layout.grid.nodes.size(), 3u + 3 + 2 + 1);
    EXPECT_EQ(layout.grid.Levels(), 4);
    const OverviewNode& root = layout.grid.nodes[layout.grid.Root()];
    EXPECT_NE(root.children[0], kNoNode);
    EXPECT_EQ(root.children[1], kNoNode);
    EXPECT_EQ(root.children[2], kNoNode);
    EXPECT_NE(root.children[3], kNoNode);
}

TEST(OverviewTree, NegativeIndicesAreRebasedToZero) {
    std::vector<OverviewTile> tiles;
    for (const auto& [x, y] : {std::pair{-3, 0}, {-1, -2}, {0, +1}})
        tiles.push_back(OverviewTile{GridName(x, y), std::nullopt});
    const OverviewLayout layout = PlaceTiles(tiles);
    const auto leafOf = CheckTree(layout.grid);
    EXPECT_EQ(layout.grid.origin, (GridCell{-3, -2}));
    EXPECT_EQ(leafOf.at(0)->x, 0);
    EXPECT_EQ(leafOf.at(0)->y, 2);
    EXPECT_EQ(leafOf.at(1)->x, 2);
    EXPECT_EQ(leafOf.at(1)->y, 0);
    EXPECT_EQ(leafOf.at(2)->x, 3);
    EXPECT_EQ(leafOf.at(2)->y, 3);
    EXPECT_EQ(layout.grid.Levels(), 3);
}

TEST(OverviewTree, SingleTileIsItsOwnRoot) {
    const OverviewLayout layout = PlaceTiles({OverviewTile{"Tile_-007_+042", std::nullopt}});
    CheckTree(layout.grid);
    ASSERT_EQ(layout.grid.nodes.size(), 1u);
    EXPECT_TRUE(layout.grid.nodes[layout.grid.Root()].IsLeaf());
    EXPECT_EQ(layout.grid.nodes[0].tiles, std::vector<std::size_t>{0});
    EXPECT_EQ(layout.grid.Levels(), 1);

    EXPECT_TRUE(PlaceTiles({}).grid.IsEmpty());
}

TEST(OverviewTree, TilesClaimingOneCellShareItsLeaf) {
    const OverviewLayout layout = PlaceTiles({OverviewTile{"Tile_+001_+002", std::nullopt},
                                              OverviewTile{"tile_1_2", std::nullopt},
                                              OverviewTile{"Tile_+002_+002", std::nullopt}});
    const auto leafOf = CheckTree(layout.grid);
    EXPECT_EQ(leafOf.at(0), leafOf.at(1));
    EXPECT_EQ(leafOf.at(0)->tiles, (std::vector<std::size_t>{0, 1}));
    EXPECT_NE(leafOf.at(0), leafOf.at(2));
}

TEST(OverviewTree, UnnamedTilesGoWhereTheirExtentLiesInTheNamedGrid) {
    for (const double yStep : {100.0, -100.0}) {
        SCOPED_TRACE(yStep);
        std::vector<OverviewTile> tiles;
        for (std::int64_t y = 0; y < 4; ++y)
            for (std::int64_t x = 0; x < 4; ++x)
                if (!(x == 2 && y == 1))
                    tiles.push_back(OverviewTile{GridName(x, y), CellExtent(x, y, yStep)});
        // A named tile whose extent is damaged still goes by its name.
        tiles[5].extent = Extent{1e300, 0, -1e300, 1};
        // Slightly larger than its cell, as a tile's mesh often is.
        Extent hole = CellExtent(2, 1, yStep);
        hole.minX -= 3;
        hole.maxY += 4;
        const std::size_t inHole = tiles.size();
        tiles.push_back(OverviewTile{"extra", hole});
        const std::size_t beside = tiles.size();
        tiles.push_back(OverviewTile{"ExtraTile", CellExtent(5, 3, yStep)});
        const std::size_t shared = tiles.size();
        tiles.push_back(OverviewTile{"Tile (copy)", CellExtent(0, 0, yStep)});
        const std::size_t nowhere = tiles.size();
        tiles.push_back(OverviewTile{"nothing known", std::nullopt});
        const std::size_t broken = tiles.size();
        tiles.push_back(OverviewTile{"nan", Extent{std::nan(""), 0, 1, 1}});
        const std::size_t far = tiles.size();
        tiles.push_back(OverviewTile{"far", Extent{1e300, 0, 1e300, 1}});

        const OverviewLayout layout = PlaceTiles(tiles);
        const auto leafOf = CheckTree(layout.grid);
        EXPECT_TRUE(layout.bounds.IsEmpty());
        EXPECT_EQ(leafOf.size(), 15u + 3);
        EXPECT_EQ(leafOf.at(inHole)->x, 2);
        EXPECT_EQ(leafOf.at(inHole)->y, 1);
        EXPECT_EQ(leafOf.at(beside)->x, 5);
        EXPECT_EQ(leafOf.at(beside)->y, 3);
        EXPECT_EQ(leafOf.at(shared), leafOf.at(0));
        ASSERT_EQ(layout.unplaced.size(), 3u);
        EXPECT_EQ(layout.unplaced[0].tile, nowhere);
        EXPECT_EQ(layout.unplaced[0].reason, UnplacedReason::NoGridNameNorBounds);
        EXPECT_EQ(layout.unplaced[1].tile, broken);
        EXPECT_EQ(layout.unplaced[1].reason, UnplacedReason::NoGridNameNorBounds);
        EXPECT_EQ(layout.unplaced[2].tile, far);
        EXPECT_EQ(layout.unplaced[2].reason, UnplacedReason::TooFarFromBlock);
    }
}

TEST(OverviewTree, UnnamedTilesMakeTheirOwnGridWhenNoNamedTileHasAnExtent) {
    std::vector<OverviewTile> tiles;
    tiles.push_back(OverviewTile{"Tile_+000_+000", std::nullopt});
    tiles.push_back(OverviewTile{"Tile_+001_+000", std::nullopt});
    // Unnamed tiles of 50 m, in a 3x2 grid with its corner at (-20, 7).
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            tiles.push_back(
                OverviewTile{"part" + std::to_string(x) + std::to_string(y),
                             Extent{-20.0 + 50 * x, 7.0 + 50 * y, 30.0 + 50 * x, 57.0 + 50 * y}});
    const OverviewLayout layout = PlaceTiles(tiles);
    const auto named = CheckTree(layout.grid);
    const auto own = CheckTree(layout.bounds);
    EXPECT_EQ(named.size(), 2u);
    ASSERT_EQ(own.size(), 6u);
    EXPECT_TRUE(layout.unplaced.empty());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(own.at(2 + 3 * y + x)->x, x);
            EXPECT_EQ(own.at(2 + 3 * y + x)->y, y);
        }
    EXPECT_EQ(layout.bounds.Levels(), 3);
}

// The tree's shape as names: what two layouts of the same tiles must share.
std::vector<std::string> Shape(const OverviewTree& tree, const std::vector<OverviewTile>& tiles) {
    std::vector<std::string> shape;
    for (const OverviewNode& node : tree.nodes) {
        std::string line = std::to_string(node.level) + " " + std::to_string(node.x) + " " +
                           std::to_string(node.y) + " " + std::to_string(node.parent) + ":";
        for (const std::size_t child : node.children)
            line += " " + std::to_string(child);
        for (const std::size_t tile : node.tiles)
            line += " " + tiles[tile].name;
        shape.push_back(line);
    }
    return shape;
}

TEST(OverviewTree, HundredThousandTilesInAnyOrderGiveOneTree) {
    std::vector<OverviewTile> tiles;
    std::mt19937 random(7);
    // A 400 x 260 grid with a tenth of its cells missing, some of them unnamed but placed.
    for (std::int64_t y = -130; y < 130; ++y)
        for (std::int64_t x = -200; x < 200; ++x) {
            if (random() % 10 == 0)
                continue;
            if (random() % 50 == 0)
                tiles.push_back(
                    OverviewTile{"unnamed " + std::to_string(tiles.size()), CellExtent(x, y)});
            else
                tiles.push_back(OverviewTile{GridName(x, y), CellExtent(x, y)});
        }
    ASSERT_GT(tiles.size(), 90000u);
    const OverviewLayout layout = PlaceTiles(tiles);
    EXPECT_EQ(CheckTree(layout.grid).size(), tiles.size());
    EXPECT_EQ(layout.grid.Levels(), 10);

    std::vector<OverviewTile> shuffled = tiles;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    EXPECT_EQ(Shape(layout.grid, tiles), Shape(PlaceTiles(shuffled).grid, shuffled));

    // A line of tiles and two at the grid's far ends: deep trees, built without recursion.
    std::vector<OverviewTile> line;
    for (int x = 0; x < 100000; ++x)
        line.push_back(OverviewTile{GridName(x, 0), std::nullopt});
    const OverviewLayout lineLayout = PlaceTiles(line);
    EXPECT_EQ(CheckTree(lineLayout.grid).size(), line.size());
    EXPECT_EQ(lineLayout.grid.Levels(), 18);
    const OverviewLayout ends = PlaceTiles({OverviewTile{"Tile_-1099511627776_+0", std::nullopt},
                                            OverviewTile{"Tile_+1099511627776_+0", std::nullopt}});
    CheckTree(ends.grid);
    EXPECT_EQ(ends.grid.Levels(), 43);
    EXPECT_EQ(ends.grid.nodes.size(), 2u * 42 + 1);
}

} // namespace
} // namespace brindle
