#pragma once

#include <osg/Node>
#include <osg/Vec2d>
#include <osg/Vec3d>

#include <array>
#include <set>
#include <string>
#include <vector>

namespace brindle::test {

// A triangle as the tests compare them: its corners in the scene's frame, with what each
// corner has of normals and texture coordinates (OSG's s and t).
struct WorldTriangle {
    std::array<osg::Vec3d, 3> corners;
    std::vector<osg::Vec3d> normals;   // three or none
    std::vector<osg::Vec2d> texCoords; // three or none
};

// The triangles the scene itself draws, as the scene-graph library's own triangle functor
// hands them out: the children a paged node holds, every transform applied.
std::vector<WorldTriangle> SceneTriangles(const osg::Node& scene);

// A binary glTF file read back with the glTF library, its images undecoded.
struct ReadGlb {
    bool loaded = false;
    std::string error;
    std::vector<WorldTriangle> triangles; // every primitive's, in the scene's frame
    std::vector<std::string> images;      // each embedded image's bytes
    std::vector<std::string> mimeTypes;
    std::set<std::string> extensionsUsed;
    std::vector<bool> primitiveUnlit; // per primitive, whether its material is unlit
    std::vector<bool> primitiveTextured;
    std::vector<bool> primitiveColoured;                  // has COLOR_0
    std::vector<std::vector<double>> primitiveBaseColour; // its material's base colour factor
};

// Reads `glb`, its positions placed by its root node's scale and translation and turned back
// from y up to the scene's z up, as a viewer drawing it with the identity places them; its v
// turned back to OSG's t.
ReadGlb ReadBack(const std::string& glb);

} // namespace brindle::test
