#pragma once

#include <osg/LOD>

#include <algorithm>
#include <limits>
#include <vector>

// What a tile file's own level is, as a viewer far from it draws it.
namespace brindle {

// The children of `lod` drawn from farthest away, all of those that share that range; every
// child when none has a range. Seen by distance, the coarsest level reaches farthest; by size
// on screen, it is the one drawn when smallest.
inline std::vector<unsigned> CoarsestChildren(const osg::LOD& lod) {
    const unsigned ranged = std::min(lod.getNumChildren(), lod.getNumRanges());
    std::vector<unsigned> children;
    if (ranged == 0) {
        for (unsigned i = 0; i < lod.getNumChildren(); ++i)
            children.push_back(i);
        return children;
    }
    const bool bySize = lod.getRangeMode() == osg::LOD::PIXEL_SIZE_ON_SCREEN;
    const auto farness = [&](unsigned i) {
        return bySize ? -lod.getMinRange(i) : lod.getMaxRange(i);
    };
    float farthest = -std::numeric_limits<float>::infinity();
    for (unsigned i = 0; i < ranged; ++i)
        farthest = std::max(farthest, farness(i));
    for (unsigned i = 0; i < ranged; ++i)
        if (farness(i) == farthest)
            children.push_back(i);
    return children;
}

} // namespace brindle
