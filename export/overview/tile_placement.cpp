#include "export/overview/tile_placement.h"

#include <algorithm>
#include <cmath>

namespace brindle {
namespace {

// How centres in one direction of the block's frame map to grid indices: index i's centre lies
// at centre + i * step.
struct GridAxis {
    double centre = 0;
    double step = 1;
};

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The axis that the named tiles' extents trace out, from medians so that a stray tile's extent
// does not move it. Producers count rows up or down the frame: the step's sign follows their
// indices.
GridAxis AxisFrom(const std::vector<double>& indices, const std::vector<double>& centres,
                  const std::vector<double>& sizes) {
    GridAxis axis;
    const double size = Median(sizes);
    axis.step = std::isfinite(size) && size > 0 ? size : 1;
    double meanIndex = 0, meanCentre = 0;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        meanIndex += indices[i] / indices.size();
        meanCentre += centres[i] / centres.size();
    }
    double covariance = 0;
    for (std::size_t i = 0; i < indices.size(); ++i)
        covariance += (indices[i] - meanIndex) * (centres[i] - meanCentre);
    if (covariance < 0)
        axis.step = -axis.step;
    std::vector<double> origins;
    for (std::size_t i = 0; i < indices.size(); ++i)
        origins.push_back(centres[i] - indices[i] * axis.step);
    axis.centre = Median(origins);
    return axis;
}

std::optional<std::int64_t> IndexOn(const GridAxis& axis, double centre) {
    const double index = std::floor((centre - axis.centre) / axis.step + 0.5);
    if (!(std::abs(index) <= static_cast<double>(kMaxGridIndex)))
        return std::nullopt;
    return static_cast<std::int64_t>(index);
}

bool HasUsableExtent(const OverviewTile& tile) {
    return tile.extent && tile.extent->IsUsable();
}

struct Axes {
    GridAxis x, y;
};

// The grid's axes from these tiles' extents; indices are the tiles' cells, or none for tiles
// that have no cell yet, which then get an axis centred on the median tile.
Axes AxesFrom(const std::vector<OverviewTile>& tiles, const std::vector<std::size_t>& chosen,
              const std::vector<std::optional<GridCell>>& cells) {
    std::vector<double> ix, iy, cx, cy, w, h;
    for (const std::size_t t : chosen) {
        const Extent& e = *tiles[t].extent;
        ix.push_back(cells[t] ? static_cast<double>(cells[t]->x) : 0);
        iy.push_back(cells[t] ? static_cast<double>(cells[t]->y) : 0);
        cx.push_back(e.CentreX());
        cy.push_back(e.CentreY());
        w.push_back(e.Width());
        h.push_back(e.Height());
    }
    return Axes{AxisFrom(ix, cx, w), AxisFrom(iy, cy, h)};
}

// Gives each tile without a cell and with a usable extent its cell on these axes, into placed;
// the others are unplaced.
void PlaceByExtent(const std::vector<OverviewTile>& tiles, const std::vector<std::size_t>& which,
                   const Axes& axes, std::vector<PlacedTile>& placed,
                   std::vector<UnplacedTile>& unplaced) {
    for (const std::size_t t : which) {
        const Extent& e = *tiles[t].extent;
        const std::optional<std::int64_t> x = IndexOn(axes.x, e.CentreX());
        const std::optional<std::int64_t> y = IndexOn(axes.y, e.CentreY());
        if (x && y)
            placed.push_back(PlacedTile{GridCell{*x, *y}, t});
        else
            unplaced.push_back(UnplacedTile{t, UnplacedReason::TooFarFromBlock});
    }
}

} // namespace

OverviewLayout PlaceTiles(const std::vector<OverviewTile>& tiles) {
    OverviewLayout layout;
    std::vector<std::optional<GridCell>> cells(tiles.size());
    std::vector<PlacedTile> named;
    std::vector<std::size_t> namedWithExtent, byExtent;
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        cells[t] = ParseGridName(tiles[t].name);
        if (cells[t]) {
            named.push_back(PlacedTile{*cells[t], t});
            if (HasUsableExtent(tiles[t]))
                namedWithExtent.push_back(t);
        } else if (HasUsableExtent(tiles[t])) {
            byExtent.push_back(t);
        } else {
            layout.unplaced.push_back(UnplacedTile{t, UnplacedReason::NoGridNameNorBounds});
        }
    }
    std::vector<PlacedTile> own;
    if (!byExtent.empty()) {
        if (!namedWithExtent.empty())
            PlaceByExtent(tiles, byExtent, AxesFrom(tiles, namedWithExtent, cells), named,
                          layout.unplaced);
        else
            PlaceByExtent(tiles, byExtent, AxesFrom(tiles, byExtent, cells), own, layout.unplaced);
    }
    std::sort(layout.unplaced.begin(), layout.unplaced.end(),
              [](const UnplacedTile& a, const UnplacedTile& b) { return a.tile < b.tile; });
    layout.grid = BuildOverviewTree(std::move(named));
    layout.bounds = BuildOverviewTree(std::move(own));
    return layout;
}

} // namespace brindle
