#include "export/overview/node_bound.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace brindle {
namespace {

struct HeightRange {
    float lowest = std::numeric_limits<float>::infinity();
    float highest = -std::numeric_limits<float>::infinity();
    bool IsEmpty() const { return lowest > highest; }
};

HeightRange HeightsOf(const TileSummary& summary) {
    HeightRange range;
    for (const float h : summary.heights)
        if (IsHeight(h)) {
            range.lowest = std::min(range.lowest, h);
            range.highest = std::max(range.highest, h);
        }
    return range;
}

} // namespace

osg::BoundingBoxd TileBox(const TileSummary& summary) {
    const HeightRange heights = HeightsOf(summary);
    const Extent& e = summary.extent;
    if (heights.IsEmpty() || !HasArea(e))
        return {};
    return osg::BoundingBoxd(e.minX, e.minY, heights.lowest, e.maxX, e.maxY, heights.highest);
}

osg::BoundingBoxd NodeBox(const osg::BoundingBoxd& children, const TileSummary* summary,
                          double relativeSkirtDepth) {
    osg::BoundingBoxd box = children;
    if (!box.valid() || summary == nullptr || !HasArea(summary->extent))
        return box;
    const HeightRange heights = HeightsOf(*summary);
    if (heights.IsEmpty())
        return box;
    const Extent& e = summary->extent;
    const double skirt = relativeSkirtDepth * std::max(e.Width(), e.Height());
    box.zMin() = std::min(box.zMin(), heights.lowest - skirt);
    box.zMax() = std::max(box.zMax(), double{heights.highest});
    return box;
}

osg::BoundingSphere StoredSphere(const osg::BoundingBoxd& box) {
    using Stored = osg::BoundingSphere::vec_type;
    using Radius = osg::BoundingSphere::value_type;
    const Stored centre(box.center());
    double radius = 0;
    for (unsigned corner = 0; corner < 8; ++corner)
        radius = std::max(radius, (box.corner(corner) - osg::Vec3d(centre)).length());
    auto stored = static_cast<Radius>(radius);
    if (stored < radius)
        stored = std::nextafter(stored, std::numeric_limits<Radius>::max());
    return osg::BoundingSphere(centre, stored);
}

std::array<double, 6> BoxArray(const osg::BoundingBoxd& box) {
    return {box.xMin(), box.yMin(), box.zMin(), box.xMax(), box.yMax(), box.zMax()};
}

osg::BoundingBoxd BoxOf(const ManifestNode& node) {
    const std::array<double, 6>& b = node.box;
    return osg::BoundingBoxd(b[0], b[1], b[2], b[3], b[4], b[5]);
}

} // namespace brindle
