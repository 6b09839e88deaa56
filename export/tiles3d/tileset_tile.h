#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// A box in a tile's frame: its centre and three half axes, each a column of the box's own
// orientation scaled by its half length. What 3D Tiles calls an oriented box, as it writes it.
struct OrientedBox {
    std::array<double, 3> centre{};
    std::array<std::array<double, 3>, 3> halfAxes{};
};

// One tile of a tileset: the box its content and its children lie in, the error its content
// has, where its content is, and the finer tiles that replace it.
struct TilesetTile {
    OrientedBox box;
    double geometricError = 0.0;
    // Relative to the tileset's folder, '/'-separated, as UTF-8; empty for a tile without
    // content (a node of the top levels). Written escaped.
    std::string contentUri;
    // From the tile's frame (its box, its content and its children are in it) to its
    // parent's; none for the same frame. A tileset's root takes the tileset's instead.
    std::optional<std::array<double, 16>> transform;
    std::vector<TilesetTile> children;
};

} // namespace brindle
