#include "export/overview/grid_name.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

TEST(GridName, ReadsSignedIndicesWhateverThePrefixCaseAndDigitCount) {
    const struct {
        const char* name;
        GridCell cell;
    } cases[] = {
        {"Tile_+005_+012", {5, 12}},
        {"Tile_-003_+000", {-3, 0}},
        {"Block_+1_-2", {1, -2}},
        {"tile_005_012", {5, 12}},
        {"TILE_+0000000005_-000000000000012", {5, -12}},
        {"Tile_-0_+0", {0, 0}},
        {"Tile_+1099511627776_-1099511627776", {kMaxGridIndex, -kMaxGridIndex}},
    };
    for (const auto& c : cases) {
        const std::optional<GridCell> cell = ParseGridName(c.name);
        ASSERT_TRUE(cell.has_value()) << c.name;
        EXPECT_EQ(cell->x, c.cell.x) << c.name;
        EXPECT_EQ(cell->y, c.cell.y) << c.name;
    }
}

TEST(GridName, AnythingElseIsNoGridName) {
    for (const char* name :
         {"", "Tile", "Tile_+005", "Tile_+005_", "Tile_+005_+012_L18", "Tile_+005_+012 ",
          "_+005_+012", "Tile_+_+012", "Tile_++5_+12", "Tile__5_12", "Tile_5_1x", "Tile-5-12",
          "Tile 5 12", "Tile_+005_+012.osgb", "T1_+005_+012", "瓦片_+005_+012",
          "Tile_+1099511627777_+0", "Tile_+0_-99999999999999999999999999999999"}) {
        EXPECT_FALSE(ParseGridName(name).has_value()) << name;
    }
    // A name with a zero byte inside is cut nowhere: what follows it counts.
    EXPECT_FALSE(ParseGridName(std::string("Tile_+1_+2\0_+3", 15)).has_value());
}

} // namespace
} // namespace brindle
