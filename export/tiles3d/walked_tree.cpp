#include "export/tiles3d/walked_tree.h"

#include "export/tiles3d/geometric_error.h"
#include "export/tiles3d/tile_frames.h"
#include "export/tiles3d/tileset_json.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace brindle {
namespace {

void AddBoundsCorners(const WalkedFile& file, std::vector<Point3>& points) {
    for (int corner = 0; corner < 8; ++corner)
        points.push_back({corner & 1 ? file.boundsMax[0] : file.boundsMin[0],
                          corner & 2 ? file.boundsMax[1] : file.boundsMin[1],
                          corner & 4 ? file.boundsMax[2] : file.boundsMin[2]});
}

} // namespace

double ErrorOfSwitches(const std::vector<FinerFile>& finer, bool hasContent,
                       const std::array<double, 3>& low, const std::array<double, 3>& high) {
    // How much nearer the web viewer, measuring to the box, finds the tile: its smallest half
    // axis. A file without content is measured from its centre.
    double depth = hasContent ? std::numeric_limits<double>::infinity() : 0.0;
    for (int axis = 0; axis < 3 && hasContent; ++axis)
        depth = std::min(depth, (high[axis] - low[axis]) / 2.0);
    if (!std::isfinite(depth))
        depth = 0.0;
    double error = 0.0;
    for (const FinerFile& named : finer)
        error = std::max(
            error, named.pixels ? GeometricErrorForPixelSize(named.radius, named.switchAt, depth)
                                : GeometricErrorForDistance(named.switchAt, depth));
    return error;
}

std::optional<TilesetTile> TileOfWalkedFile(WalkedFile& file, const ColumnMajor4x4& parentFrame) {
    TilesetTile tile;
    std::vector<Point3> points;
    if (file.hasContent)
        AddBoundsCorners(file, points);
    for (std::optional<TilesetTile>& child : file.children) {
        if (!child)
            continue;
        const OrientedBox inOurs =
            child->transform ? Transformed(child->box, *child->transform) : child->box;
        for (const Point3& corner : Corners(inOurs))
            points.push_back(corner);
        tile.children.push_back(std::move(*child));
    }
    file.children.clear();
    if (points.empty())
        return std::nullopt;
    tile.box = BoxAround(points);
    tile.geometricError = file.error;
    if (file.ownFrame) {
        // The viewer applies the parent's transform after the child's: the child's own is
        // the way from its frame into the parent's.
        const std::optional<ColumnMajor4x4> back = InverseAffine(parentFrame);
        if (back)
            tile.transform = Compose(*back, file.frame);
    }
    return tile;
}

} // namespace brindle
