#include "export/index/paged_index.h"

#include <osg/LOD>
#include <osg/PagedLOD>
#include <osg/ProxyNode>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <tuple>

namespace brindle {
namespace {

osg::ref_ptr<osg::Node> MakeLeaf(const PagedEntry& entry) {
    if (entry.bound.kind != TileBound::Kind::Known) {
        osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
        proxy->setFileName(0, entry.name);
        return proxy;
    }
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setFileName(0, entry.name);
    lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod->setCenter(osg::Vec3d(entry.bound.centre[0], entry.bound.centre[1], entry.bound.centre[2]));
    lod->setRadius(static_cast<float>(entry.bound.radius));
    lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    lod->setRange(0, kPagedLoadPixels, FLT_MAX);
    return lod;
}

// A node of the tree being built, with the box it covers and the first entry under it, which breaks
// ties so that equal places always sort alike.
struct Placed {
    osg::ref_ptr<osg::Node> node;
    double minX, minY, maxX, maxY;
    std::size_t first;
    double minZ = 0, maxZ = 0;

    // A NaN would break the sort's ordering; such a tile sorts after every other.
    static double Key(double v) { return std::isnan(v) ? HUGE_VAL : v; }
    double x() const { return Key((minX + maxX) / 2); }
    double y() const { return Key((minY + maxY) / 2); }
};

Placed PlaceLeaf(const PagedEntry& entry, std::size_t index) {
    const double r = std::isfinite(entry.bound.radius) ? std::max(entry.bound.radius, 0.0) : 0.0;
    const double x = entry.bound.centre[0], y = entry.bound.centre[1], z = entry.bound.centre[2];
    Placed leaf{MakeLeaf(entry), x - r, y - r, x + r, y + r, index};
    leaf.minZ = z - r;
    leaf.maxZ = z + r;
    return leaf;
}

// The sphere a group stores: centred on the box of its tiles' spheres, and holding each of them. A
// group left to compute its own would grow its sphere child by child, each step off towards the
// child added, and the block's sphere would end up hundreds of metres beside the block: a viewer
// centres its first view on that sphere.
void EncloseChildren(Placed& group, std::vector<Placed>::const_iterator begin,
                     std::vector<Placed>::const_iterator end) {
    using Stored = osg::BoundingSphere::vec_type;
    const osg::Vec3d boxCentre((group.minX + group.maxX) / 2, (group.minY + group.maxY) / 2,
                               (group.minZ + group.maxZ) / 2);
    // Measured from the centre as the file stores it, to the children's spheres as they are
    // stored: far from the origin a float's rounding is a good part of a metre.
    const osg::Vec3d centre(Stored{boxCentre});
    // Two spheres hold every tile below: the one around the box of their spheres, and the one
    // around the children's spheres. The first is the tighter over a block's many levels.
    const double halfDiagonal =
        osg::Vec3d(group.maxX - group.minX, group.maxY - group.minY, group.maxZ - group.minZ)
            .length() /
        2;
    double aroundChildren = 0;
    for (auto it = begin; it != end; ++it) {
        const osg::BoundingSphere& child = it->node->getBound();
        aroundChildren = std::max(aroundChildren,
                                  (osg::Vec3d(child.center()) - centre).length() + child.radius());
    }
    const double radius = std::min(halfDiagonal + (centre - boxCentre).length(), aroundChildren);
    using Radius = osg::BoundingSphere::value_type;
    auto stored = static_cast<Radius>(radius);
    if (stored < radius)
        stored = std::nextafter(stored, std::numeric_limits<Radius>::max());
    // A damaged tile's bound can hold no finite sphere: the group then computes its own.
    if (!std::isfinite(stored) || !centre.valid())
        return;
    auto& lod = static_cast<osg::LOD&>(*group.node);
    lod.setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod.setCenter(centre);
    lod.setRadius(stored);
}

// A group is a level-of-detail node whose children are in view at every distance: a plain group
// cannot store its sphere, and computes one from its children's instead.
Placed GroupOf(std::vector<Placed>::const_iterator begin, std::vector<Placed>::const_iterator end) {
    osg::ref_ptr<osg::LOD> node = new osg::LOD;
    Placed group{node, begin->minX, begin->minY, begin->maxX, begin->maxY, begin->first};
    group.minZ = begin->minZ;
    group.maxZ = begin->maxZ;
    for (auto it = begin; it != end; ++it) {
        node->addChild(it->node.get(), 0.0f, FLT_MAX);
        group.minX = std::min(group.minX, it->minX);
        group.minY = std::min(group.minY, it->minY);
        group.maxX = std::max(group.maxX, it->maxX);
        group.maxY = std::max(group.maxY, it->maxY);
        group.minZ = std::min(group.minZ, it->minZ);
        group.maxZ = std::max(group.maxZ, it->maxZ);
        group.first = std::min(group.first, it->first);
    }
    EncloseChildren(group, begin, end);
    return group;
}

// One level of a sort-tile-recursive packing: the nodes sorted west to east are cut into
// vertical slices of whole groups, and each slice, sorted south to north, into groups of
// kPagedFanOut. The slices are as many as make the groups about square over the level's
// extent, so that a long block along a road or river is not packed into thin strips.
// Neighbours share a group and every group covers a compact patch, whatever order the tiles
// were named in.
std::vector<Placed> PackLevel(std::vector<Placed> level) {
    const std::size_t groups = (level.size() + kPagedFanOut - 1) / kPagedFanOut;
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (const Placed& node : level) {
        if (std::isfinite(node.x()) && std::isfinite(node.y())) {
            minX = std::min(minX, node.x());
            maxX = std::max(maxX, node.x());
            minY = std::min(minY, node.y());
            maxY = std::max(maxY, node.y());
        }
    }
    // Width over height, kept within what any number of slices can follow.
    const double width = maxX > minX ? maxX - minX : 0, height = maxY > minY ? maxY - minY : 0;
    double aspect = width == 0    ? 1 / static_cast<double>(groups)
                    : height == 0 ? static_cast<double>(groups)
                                  : std::min(width / height, static_cast<double>(groups));
    if (!std::isfinite(aspect)) // extents beyond what a double holds, from a damaged tile
        aspect = 1;
    const double wanted = std::round(std::sqrt(static_cast<double>(groups) * aspect));
    const auto slices = std::clamp(static_cast<std::size_t>(wanted), std::size_t{1},
                                   std::max<std::size_t>(groups, 1));
    const std::size_t perSlice = ((groups + slices - 1) / slices) * kPagedFanOut;
    const auto westToEast = [](const Placed& a, const Placed& b) {
        return std::make_tuple(a.x(), a.y(), a.first) < std::make_tuple(b.x(), b.y(), b.first);
    };
    const auto southToNorth = [](const Placed& a, const Placed& b) {
        return std::make_tuple(a.y(), a.x(), a.first) < std::make_tuple(b.y(), b.x(), b.first);
    };
    std::sort(level.begin(), level.end(), westToEast);
    std::vector<Placed> parents;
    parents.reserve(groups);
    for (std::size_t slice = 0; slice < level.size(); slice += perSlice) {
        const auto sliceEnd = level.begin() + std::min(level.size(), slice + perSlice);
        std::sort(level.begin() + slice, sliceEnd, southToNorth);
        for (auto it = level.begin() + slice; it != sliceEnd;) {
            const auto groupEnd = it + std::min<std::ptrdiff_t>(kPagedFanOut, sliceEnd - it);
            parents.push_back(GroupOf(it, groupEnd));
            it = groupEnd;
        }
    }
    return parents;
}

// Groups consecutive nodes, level by level, up to a single group.
osg::ref_ptr<osg::Group> GroupInOrder(std::vector<osg::ref_ptr<osg::Node>> level) {
    do {
        std::vector<osg::ref_ptr<osg::Node>> parents;
        for (std::size_t i = 0; i < level.size(); i += kPagedFanOut) {
            osg::ref_ptr<osg::Group> group = new osg::Group;
            for (std::size_t j = i; j < std::min(level.size(), i + kPagedFanOut); ++j)
                group->addChild(level[j].get());
            parents.emplace_back(group);
        }
        level = std::move(parents);
    } while (level.size() > 1);
    return level.front()->asGroup();
}

} // namespace

osg::ref_ptr<osg::Group> BuildPagedTree(const std::vector<PagedEntry>& entries) {
    std::vector<Placed> placed;
    std::vector<osg::ref_ptr<osg::Node>> unplaced;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].bound.kind == TileBound::Kind::Known)
            placed.push_back(PlaceLeaf(entries[i], i));
        else
            unplaced.push_back(MakeLeaf(entries[i]));
    }
    std::vector<osg::ref_ptr<osg::Node>> top;
    if (!placed.empty()) {
        do
            placed = PackLevel(std::move(placed));
        while (placed.size() > 1);
        top.push_back(placed.front().node);
    }
    // Tiles of unknown bound load with the index wherever they are, so where they sit in
    // the tree matters not; they keep their entry order, in a branch of their own.
    if (!unplaced.empty())
        top.emplace_back(GroupInOrder(std::move(unplaced)));
    if (top.empty())
        return new osg::Group;
    if (top.size() == 1)
        return top.front()->asGroup();
    return GroupInOrder(std::move(top));
}

} // namespace brindle
