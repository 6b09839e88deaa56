#pragma once

#include "export/overview/extent.h"
#include "export/overview/overview_tree.h"

#include <optional>
#include <string>
#include <vector>

namespace brindle {

// A tile to place on an overview: its folder's name and, when known, what it covers.
struct OverviewTile {
    std::string name;
    std::optional<Extent> extent;
};

enum class UnplacedReason {
    NoGridNameNorBounds, // the name is no grid name, and the tile has no usable extent
    TooFarFromBlock,     // its extent lies further from the block than any grid reaches
};

struct UnplacedTile {
    std::size_t tile = 0;
    UnplacedReason reason = UnplacedReason::NoGridNameNorBounds;
};

// Where a block's tiles go on its overview. Each tile is in exactly one leaf of one tree, or
// unplaced with its reason.
struct OverviewLayout {
    // The tiles with grid names, and those placed by their extents in the same grid: the cell
    // size and position are read from the named tiles' own extents when they have any.
    OverviewTree grid;
    // The tiles placed by their extents when no named tile tells where the grid lies: a grid
    // of their own, its cells as large as a typical such tile.
    OverviewTree bounds;
    std::vector<UnplacedTile> unplaced;
};

// Places tiles on overview quadtrees: by grid name first (ParseGridName), else by the centre of
// their extent. The same list gives the same layout.
OverviewLayout PlaceTiles(const std::vector<OverviewTile>& tiles);

} // namespace brindle
