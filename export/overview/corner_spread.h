#pragma once

#include "export/overview/extent.h"

#include <osg/BoundingBox>
#include <osg/Vec3d>

#include <cstddef>
#include <vector>

namespace brindle {

// Where the corners of a tile's triangles lie seen from above, to tell the tile's extent from a
// corner that strays far from it: one damaged vertex 50 km out would otherwise stretch the
// tile's summary 50 km wide, squeeze the tile into a few of its pixels, and widen every node
// above it.
//
// A corner strays when it lies further beyond the bulk of the corners (all but the outermost
// 1 %, and at least 8, on each side of each axis: a vertex is the corner of up to eight
// triangles) than four times the bulk's width. A real tile's surface is continuous, so its
// corners thin out towards an edge but do not jump far: a lake drawn as a few large triangles
// beside a dense bank stays within that reach unless it is more than four times the bank's
// width, while a stray is hundreds of tile widths out. Tiles of fewer than 64 corners have too
// few to tell a bulk from strays, and keep them all.
class CornerSpread {
public:
    void add(const osg::Vec3d& corner);

    // Every corner's box, strays included.
    const osg::BoundingBoxd& box() const { return box_; }
    // Where a corner may lie and count as the tile's; the whole box where nothing strays.
    Extent window() const;
    // Whether a corner lies within window(), and so is the tile's.
    bool holds(const osg::Vec3d& corner) const;
    // Whether some corner lies outside window(): then the extent is the box of those within.
    bool strays() const;

private:
    // At most this many corners are kept for the bulk: past it every other one is dropped and
    // only every second one added from then on, so a large tile keeps an even sample of its
    // corners in bounded memory.
    static constexpr std::size_t kKept = std::size_t{1} << 16;

    osg::BoundingBoxd box_;
    std::vector<double> xs_, ys_;
    std::size_t stride_ = 1, seen_ = 0;
    mutable bool windowKnown_ = false;
    mutable Extent window_;
};

} // namespace brindle
