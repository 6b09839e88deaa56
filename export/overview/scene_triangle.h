#pragma once

#include "export/overview/texture_sampler.h"

#include <osg/Vec2d>
#include <osg/Vec3d>

#include <array>
#include <cmath>

// What a scene's summary is drawn from: its triangles, each with what a viewer draws it with.
namespace brindle::summary_detail {

// A triangle in the frame of the scene's root, with finite corners and an area seen from above.
struct SceneTriangle {
    std::array<osg::Vec3d, 3> corners;
    std::array<osg::Vec2d, 3> uvs;
    const TextureSampler* texture = &kUntextured;
    bool lit = true; // the viewer's lighting is on where it falls
    // At each corner, the normal it is drawn with in the root's frame, as a viewer lights it:
    // the geometry's own, or the default normal, straight up in the geometry's frame.
    std::array<osg::Vec3d, 3> normals{};
    bool withNormals = false;
    // At each corner, the colour its texture is multiplied by: its own (vertex colours or its
    // material's), or the default material's grey.
    std::array<osg::Vec3d, 3> colours{};
    bool ownColours = false;
};

// Twice the triangle's area seen from above, signed; zero where it stands on edge.
inline double AreaFromAbove(const std::array<osg::Vec3d, 3>& c) {
    const double det = (c[1].x() - c[0].x()) * (c[2].y() - c[0].y()) -
                       (c[2].x() - c[0].x()) * (c[1].y() - c[0].y());
    const osg::Vec2d ab(c[1].x() - c[0].x(), c[1].y() - c[0].y());
    const osg::Vec2d ac(c[2].x() - c[0].x(), c[2].y() - c[0].y());
    // Rounding leaves a wall a sliver of area; relative to its sides it has none.
    return std::abs(det) > 1e-12 * (ab.length2() + ac.length2()) ? det : 0.0;
}

} // namespace brindle::summary_detail
