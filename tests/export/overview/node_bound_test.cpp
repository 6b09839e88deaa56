// Every overview node stands where its tiles do, on blocks whose sides are no power of two.
#include "export/overview/node_file.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_placement.h"

#include <osg/PagedLOD>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace brindle {
namespace {
namespace fs = std::filesystem;

constexpr double kTileMetres = 50;
constexpr float kGround = 20;

class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("brindle-bound-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string CellName(int x, int y) {
    char name[32];
    std::snprintf(name, sizeof name, "Tile_%+04d_%+04d", x, y);
    return name;
}

Extent CellExtent(int x, int y) {
    return Extent{x * kTileMetres, y * kTileMetres, (x + 1) * kTileMetres, (y + 1) * kTileMetres};
}

// A level tile over its cell, one colour: cheap to mosaic and to simplify.
TileSummary LevelSummary(int x, int y) {
    TileSummary summary;
    summary.extent = CellExtent(x, y);
    std::fill(summary.heights.begin(), summary.heights.end(), kGround);
    std::fill(summary.colour.begin(), summary.colour.end(), std::uint8_t{120});
    std::fill(summary.coverage.begin(), summary.coverage.end(), std::uint8_t{255});
    return summary;
}

// The sphere a plain box of these cells' tiles gives: its centre, and the half diagonal.
osg::BoundingSphered TilesSphere(int fromX, int fromY, int toX, int toY) {
    const osg::BoundingBoxd box(fromX * kTileMetres, fromY * kTileMetres, kGround,
                                toX * kTileMetres, toY * kTileMetres, kGround);
    return osg::BoundingSphered(box.center(), (box._max - box._min).length() / 2);
}

// Blocks of 24 x 24, 40 x 40 and a 5 x 37 strip, whose quadtree cells reach past the tiles on
// their upper sides: the top's sphere is that of the block's tiles, its centre within 2 % of
// their radius, and every node file's is that of the tiles below it, seen from above (its skirts
// hang below them by a part of its cell's side, a lot for a node over a sliver of tiles), never
// that of its cell's square.
TEST(NodeBound, EveryNodeStandsWhereItsTilesAreOnBlocksOfAnySide) {
    for (const auto& [columns, rows] : {std::pair{24, 24}, {40, 40}, {5, 37}}) {
        std::vector<OverviewTile> tiles;
        std::vector<std::string> entries;
        for (int x = 0; x < columns; ++x)
            for (int y = 0; y < rows; ++y) {
                tiles.push_back({CellName(x, y), std::nullopt});
                entries.push_back("../" + CellName(x, y) + "/root.osgb");
            }
        const OverviewLayout layout = PlaceTiles(tiles);
        ASSERT_TRUE(layout.unplaced.empty());
        TempFolder folder;
        PyramidOptions options;
        options.threads = 2;
        OverviewPyramid pyramid(layout.grid, entries, folder.path(), options);
        for (int x = 0, t = 0; x < columns; ++x)
            for (int y = 0; y < rows; ++y, ++t)
                ASSERT_TRUE(pyramid.addTile(static_cast<std::size_t>(t), LevelSummary(x, y)));
        const Result<PyramidTop> top = pyramid.finish();
        ASSERT_TRUE(top);

        const osg::BoundingSphered block = TilesSphere(0, 0, columns, rows);
        EXPECT_LE((osg::Vec3d(top->bound.center()) - block.center()).length(),
                  0.02 * block.radius())
            << columns << " x " << rows;
        std::size_t checked = 0;
        for (const OverviewNode& node : layout.grid.nodes) {
            if (node.IsLeaf())
                continue;
            const std::string name = NodeFileName(node.level, node.x, node.y);
            const osg::ref_ptr<osg::Node> read =
                osgDB::readRefNodeFile((folder.path() / name).string());
            const auto* lod = dynamic_cast<const osg::PagedLOD*>(read.get());
            ASSERT_NE(lod, nullptr) << name;
            const auto from = [&](std::int64_t cell) {
                return static_cast<int>(cell << node.level);
            };
            const osg::BoundingSphered tilesBelow =
                TilesSphere(from(node.x), from(node.y), std::min(from(node.x + 1), columns),
                            std::min(from(node.y + 1), rows));
            const osg::Vec3d off = osg::Vec3d(lod->getCenter()) - tilesBelow.center();
            EXPECT_LE(std::hypot(off.x(), off.y()), 0.02 * tilesBelow.radius())
                << name << " of " << columns << " x " << rows;
            EXPECT_GE(lod->getRadius(), tilesBelow.radius()) << name;
            EXPECT_LE(lod->getRadius(), 1.02 * tilesBelow.radius()) << name;
            ++checked;
        }
        EXPECT_GT(checked, 8u);
    }
}

} // namespace
} // namespace brindle
