#pragma once

#include <osg/BoundingBox>
#include <osg/Image>
#include <osg/Texture>
#include <osg/Vec2f>
#include <osg/Vec3d>
#include <osg/Vec3f>
#include <osg/Vec4f>
#include <osg/ref_ptr>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brindle {

// How a part of a tile is coloured: its texture (unit 0), else its vertex colours, else one
// colour; lit by the viewer or with the light already in its colours.
struct MeshLook {
    osg::ref_ptr<const osg::Image> image; // none when the part has no usable texture
    osg::Texture::WrapMode wrapS = osg::Texture::CLAMP_TO_EDGE;
    osg::Texture::WrapMode wrapT = osg::Texture::CLAMP_TO_EDGE;
    osg::Vec4f colour{1.0f, 1.0f, 1.0f, 1.0f}; // multiplies the texture and vertex colours
    bool lit = true;                           // false: the colours are shown as they are
};

// One geometry of a tile as triangles: its vertices in the scene's frame (transforms applied),
// only those a kept triangle uses, with the attributes it has for each of them.
struct MeshPart {
    std::vector<osg::Vec3d> positions;
    std::vector<osg::Vec3f> normals;      // unit length, as many as positions, or none
    std::vector<osg::Vec2f> texCoords;    // OSG's (s, t), as many as positions, or none
    std::vector<osg::Vec4f> colours;      // as many as positions, or none
    std::vector<std::uint32_t> triangles; // three indices into positions a triangle
    MeshLook look;
};

struct SceneMeshesOptions {
    // Beyond this many triangles the scene gives no meshes rather than part of them.
    std::size_t maxTriangles = 4'000'000;
};

struct SceneMeshes {
    std::vector<MeshPart> parts;      // those with at least one triangle
    std::size_t drawnTriangles = 0;   // the triangles the inline content draws
    std::size_t skippedTriangles = 0; // of those, left out: a vertex that is missing or not
                                      // finite, or no area
    bool capped = false;              // more triangles, nodes or nesting than are read
    osg::BoundingBoxd bounds;         // of the kept vertices, in the scene's frame
};

// The triangles a tile file holds inline, at its own level: at a paged node the children it
// holds (never the files its ranges name), at a level-of-detail node the children drawn from
// farthest away, at a switch those switched on; transforms applied. Every primitive kind is
// taken as the triangles it draws. Never throws.
SceneMeshes CollectSceneMeshes(const osg::Node& scene, const SceneMeshesOptions& options = {});

} // namespace brindle
