#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace brindle {

// A tile's place in its block's grid, as its photogrammetry name gives it.
struct GridCell {
    std::int64_t x = 0, y = 0;
    bool operator==(const GridCell& other) const { return x == other.x && y == other.y; }
};

// The largest grid index a name may give: far beyond any block, and small enough that the
// differences between cells never overflow.
constexpr std::int64_t kMaxGridIndex = std::int64_t{1} << 40;

// Reads a grid name: letters, then two signed integers each after an underscore, as in
// "Tile_+005_+012", "Tile_-003_+000", "tile_5_12" or "Block_+1_-2". The prefix's case, the
// signs and the digit count do not matter; anything else (a suffix, a missing part, a
// number beyond kMaxGridIndex) is no grid name.
std::optional<GridCell> ParseGridName(std::string_view name);

} // namespace brindle
