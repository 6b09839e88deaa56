#pragma once

#include <osg/BoundingBox>

#include <cmath>

namespace brindle {

// What a tile or an overview node covers in the block's frame, seen from above.
struct Extent {
    double minX = 0, minY = 0, maxX = 0, maxY = 0;

    double Width() const { return maxX - minX; }
    double Height() const { return maxY - minY; }
    double CentreX() const { return minX + Width() / 2; }
    double CentreY() const { return minY + Height() / 2; }
    // Finite and not inverted: a damaged tile's bound may be neither.
    bool IsUsable() const {
        return std::isfinite(minX) && std::isfinite(minY) && std::isfinite(maxX) &&
               std::isfinite(maxY) && minX <= maxX && minY <= maxY;
    }
};

// Usable and wider and deeper than nothing: what a summary covers, or a grid is laid over.
inline bool HasArea(const Extent& extent) {
    return extent.IsUsable() && extent.Width() > 0 && extent.Height() > 0;
}

// The horizontal part of a box; an empty box gives an extent that is not usable.
inline Extent ExtentOf(const osg::BoundingBoxd& box) {
    if (!box.valid())
        return Extent{1, 1, 0, 0};
    return Extent{box.xMin(), box.yMin(), box.xMax(), box.yMax()};
}

} // namespace brindle
