#pragma once

#include "export/overview/scene_triangle.h"

#include <osg/Node>

#include <cstddef>
#include <functional>

// The walk over what a tile holds inline, at its coarsest level, that hands on its triangles.
namespace brindle::summary_detail {

using TriangleSink = std::function<void(const SceneTriangle&)>;

// What one walk over a scene's inline triangles met.
struct WalkOutcome {
    std::size_t triangles = 0; // the triangles the inline content draws
    std::size_t skipped = 0;   // of those, the ones not handed on: a corner not finite, an index
                               // beyond the vertices, or no area seen from above
    bool capped = false;       // more triangles, nodes or nesting than a summary reads
};

// Hands `sink` each triangle `scene` draws, in the frame of its root, with what a viewer draws
// it with: at a paged node only the children it holds (the files its ranges name never are), at
// a level-of-detail node only the children meant for the farthest views, at a switch those
// switched on. Stops once capped, beyond `maxTriangles` triangles or a bound on nodes and depth.
WalkOutcome WalkInlineTriangles(const osg::Node& scene, std::size_t maxTriangles,
                                TriangleSink sink);

} // namespace brindle::summary_detail
