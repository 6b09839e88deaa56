#pragma once

#include "export/error/result.h"
#include "export/tiles3d/content_error.h"

#include <osg/BoundingBox>
#include <osg/Node>
#include <osg/Vec3d>

#include <array>
#include <cstddef>
#include <string>
#include <system_error>

namespace brindle {

struct ContentOptions {
    std::size_t maxTriangles = 4'000'000;
    int maxTextureEdge = 8192; // wider or higher textures are left out, the surface untextured
    int jpegQuality = 90;      // for textures encoded again from their pixels
    // KHR_mesh_quantization: 16-bit positions on a grid over the content's bounds (a step of
    // 1/65535 of its extent on each axis), normals and texture coordinates.
    bool quantize = false;
    // EXT_meshopt_compression: the vertex and index data compressed, with a fallback buffer
    // without data.
    bool meshopt = false;
};

// One tile file's own geometry as a binary glTF file, and what a tileset says of it.
struct TileContent {
    std::string glb;
    // The positions in the file are relative to this point of the scene's frame, and turned
    // from the scene's z up to glTF's y up: (x, y, z) is stored as (x, z, -y), which the
    // viewer turns back. The file's root node carries the centre, turned alike, as its
    // translation: drawn with the identity, the content lands in the scene's frame (a tile's
    // block offsets), so a tileset's transform holds no centre.
    osg::Vec3d centre;
    osg::BoundingBoxd bounds; // of the vertices, in the scene's frame
    // The bounds as a tileset's "box": its centre and three half-axes, in the scene's frame.
    std::array<double, 12> box{};
    std::size_t vertices = 0;
    std::size_t triangles = 0;        // those written
    std::size_t skippedTriangles = 0; // missing or non-finite corners, no area
    std::size_t images = 0;           // embedded, each once
    std::size_t keptImages = 0;       // of those, with the bytes they were read from
    std::size_t droppedTextures = 0;  // textures that could not be embedded
};

// The content of a tile file: the geometry it holds inline (at a paged node the children it
// holds, never the files its ranges name), every primitive as triangles, transforms applied,
// with its texture coordinates, normals where it has them (unlit where it has none), its
// textures embedded once each, its colours where it has no texture. Never throws: a scene
// without usable triangles, or beyond the limits, gives the reason.
Result<TileContent> MakeTileContent(const osg::Node& scene, const ContentOptions& options = {});

} // namespace brindle
