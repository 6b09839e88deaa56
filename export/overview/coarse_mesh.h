#pragma once

#include "export/overview/tile_summary.h"

#include <osg/Geode>
#include <osg/ref_ptr>

#include <cstddef>
#include <cstdint>

namespace brindle {

struct CoarseMeshOptions {
    // How far the simplified surface may stray from the summary's heights, as a part of the
    // extent's longer side: about one of its texels. Where a node gives way to its children a
    // texel covers about a pixel, so the stray stays within one.
    float relativeError = 1.0f / 256;
    // Where no mesh keeps within that bound in fewer, the mesh may stray further so as to keep
    // to this many triangles: what a view of the whole block draws, and a software renderer
    // holds, goes with the triangles, and from afar the heights show little.
    std::size_t mostTriangles = 4096;
    // How far the skirts hang below the surface's edges, as a part of the extent's longer side.
    float relativeSkirtDepth = 1.0f / 128;
};

// How a mesh is drawn from its summary, counted up each time that changes: levels an earlier
// way made are then not taken as they are.
constexpr std::uint64_t kCoarseMeshDrawing = 2;

// The order of a coarse mesh's primitive sets: its surface, then its skirts.
constexpr unsigned kCoarseSurface = 0;
constexpr unsigned kCoarseSkirts = 1;

// A summary's coarse mesh, in the block's frame: its height samples as one welded grid of
// triangles, cells without four heights left out, simplified within the error bound; skirts
// hang from every open edge, the outer ones and those around holes, so that the gaps between
// neighbouring meshes simplified apart do not show. Its texture is the summary's colour image,
// kept in the mesh (no file name), with coordinates running from 0 to 1 over the extent, the
// skirts taking those of the edge they hang from. Drawn as its tiles are: unlit where the
// summary is, as tiles that turn their lighting off; lit where it is lit, with the summary's
// normals where its tiles have normals and none where they have none (a viewer lights both by
// its default normal then); in the viewer's default material, or in a white one of its own
// where its tiles have colours of their own. A geode without drawables when no cell has four
// heights.
osg::ref_ptr<osg::Geode> BuildCoarseMesh(const TileSummary& summary,
                                         const CoarseMeshOptions& options = {});

} // namespace brindle
