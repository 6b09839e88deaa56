#include "export/overview/coarse_mesh.h"

#include <meshoptimizer.h>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/Material>
#include <osg/Texture2D>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace brindle {
namespace {

constexpr int kCells = kSummaryHeightSamples - 1;
constexpr std::uint32_t kNoVertex = UINT32_MAX;
// Below this area seen from above, in grid cells, a triangle stands on edge.
constexpr double kNoArea = 1e-6;

// The surface before and after simplification: positions in the block's frame, and the same
// about the extent's centre, in floats small enough to keep the simplifier's precision.
struct Surface {
    std::vector<osg::Vec3d> positions;
    std::vector<float> local; // x, y, z for each position
    std::vector<std::uint32_t> indices;
    std::vector<osg::Vec3> normals; // for each position, when lit
};

Surface GridSurface(const TileSummary& summary) {
    const Extent& e = summary.extent;
    Surface surface;
    std::vector<std::uint32_t> vertexOf(summary.heights.size(), kNoVertex);
    for (int j = 0; j < kSummaryHeightSamples; ++j)
        for (int i = 0; i < kSummaryHeightSamples; ++i) {
            const float h = summary.Height(i, j);
            if (!IsHeight(h))
                continue;
            vertexOf[TileSummary::HeightIndex(i, j)] =
                static_cast<std::uint32_t>(surface.positions.size());
            const osg::Vec3d p(e.minX + i * e.Width() / kCells, e.minY + j * e.Height() / kCells,
                               h);
            surface.positions.push_back(p);
            for (const double v : {p.x() - e.CentreX(), p.y() - e.CentreY(), p.z()})
                surface.local.push_back(static_cast<float>(v));
        }
    // Two triangles for each cell with four heights, counter-clockwise seen from above.
    for (int j = 0; j < kCells; ++j)
        for (int i = 0; i < kCells; ++i) {
            const std::uint32_t a = vertexOf[TileSummary::HeightIndex(i, j)];
            const std::uint32_t b = vertexOf[TileSummary::HeightIndex(i + 1, j)];
            const std::uint32_t c = vertexOf[TileSummary::HeightIndex(i + 1, j + 1)];
            const std::uint32_t d = vertexOf[TileSummary::HeightIndex(i, j + 1)];
            if (a == kNoVertex || b == kNoVertex || c == kNoVertex || d == kNoVertex)
                continue;
            surface.indices.insert(surface.indices.end(), {a, b, c, a, c, d});
        }
    return surface;
}

// Whether simplified triangles still make the summary's height field within the bound: none
// folded over or standing on edge seen from above, every sample of a cell the grid drew still
// under one of them, and each such sample's height within the bound of the surface's. The
// simplifier's own error measures distances to planes, which on steep ground lets the height
// stray further than its bound: this is the measure that counts for a terrain's outline.
bool KeepsHeightField(const Surface& surface, const std::vector<std::uint32_t>& triangles,
                      const TileSummary& summary, const std::vector<bool>& drawn, double bound) {
    const Extent& e = summary.extent;
    const double toU = kCells / e.Width(), toV = kCells / e.Height();
    std::vector<bool> covered(drawn.size(), false);
    for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
        const osg::Vec3d& a = surface.positions[triangles[t]];
        const osg::Vec3d& b = surface.positions[triangles[t + 1]];
        const osg::Vec3d& c = surface.positions[triangles[t + 2]];
        // In sample units, where a grid cell's area is 1.
        const double au = (a.x() - e.minX) * toU, av = (a.y() - e.minY) * toV;
        const double bu = (b.x() - e.minX) * toU, bv = (b.y() - e.minY) * toV;
        const double cu = (c.x() - e.minX) * toU, cv = (c.y() - e.minY) * toV;
        const double area = (bu - au) * (cv - av) - (cu - au) * (bv - av);
        if (!(area > kNoArea))
            return false;
        const int iBegin = std::max(0, static_cast<int>(std::floor(std::min({au, bu, cu}))));
        const int iEnd = std::min(kCells, static_cast<int>(std::ceil(std::max({au, bu, cu}))));
        const int jBegin = std::max(0, static_cast<int>(std::floor(std::min({av, bv, cv}))));
        const int jEnd = std::min(kCells, static_cast<int>(std::ceil(std::max({av, bv, cv}))));
        for (int j = jBegin; j <= jEnd; ++j)
            for (int i = iBegin; i <= iEnd; ++i) {
                const double wa = ((bu - i) * (cv - j) - (cu - i) * (bv - j)) / area;
                const double wb = ((cu - i) * (av - j) - (au - i) * (cv - j)) / area;
                const double wc = 1 - wa - wb;
                constexpr double kOnEdge = -1e-6;
                if (wa < kOnEdge || wb < kOnEdge || wc < kOnEdge)
                    continue;
                const std::size_t sample = TileSummary::HeightIndex(i, j);
                const float h = summary.heights[sample];
                if (!IsHeight(h))
                    return false; // spans a hole or reaches past the surface's edge
                if (std::abs(wa * a.z() + wb * b.z() + wc * c.z() - h) > bound)
                    return false;
                covered[sample] = true;
            }
    }
    for (std::size_t sample = 0; sample < drawn.size(); ++sample)
        if (drawn[sample] && !covered[sample])
            return false;
    return true;
}

// The samples at the corners of the grid's triangles.
std::vector<bool> DrawnSamples(const Surface& surface, const TileSummary& summary) {
    const Extent& e = summary.extent;
    std::vector<bool> drawn(summary.heights.size(), false);
    for (const std::uint32_t index : surface.indices) {
        const osg::Vec3d& p = surface.positions[index];
        const int i = static_cast<int>(std::lround((p.x() - e.minX) / e.Width() * kCells));
        const int j = static_cast<int>(std::lround((p.y() - e.minY) / e.Height() * kCells));
        drawn[TileSummary::HeightIndex(i, j)] = true;
    }
    return drawn;
}

// A triangle's area seen from above, in grid cells: positive when counter-clockwise.
double CellArea(const Surface& surface, const std::uint32_t* triangle, const Extent& e) {
    const osg::Vec3d& a = surface.positions[triangle[0]];
    const osg::Vec3d& b = surface.positions[triangle[1]];
    const osg::Vec3d& c = surface.positions[triangle[2]];
    return ((b.x() - a.x()) * (c.y() - a.y()) - (c.x() - a.x()) * (b.y() - a.y())) /
           (e.Width() * e.Height()) * kCells * kCells;
}

// The simplifier, collapsing a vertex along the border, may leave a triangle standing on edge
// there, three vertices in a line seen from above: it covers nothing, so it goes, and the skirt
// hangs from the edge beside it.
void DropTrianglesOnEdge(const Surface& surface, std::vector<std::uint32_t>& triangles,
                         const Extent& e) {
    std::size_t kept = 0;
    for (std::size_t t = 0; t + 2 < triangles.size(); t += 3) {
        if (std::abs(CellArea(surface, &triangles[t], e)) <= kNoArea)
            continue;
        for (std::size_t k = 0; k < 3; ++k)
            triangles[kept + k] = triangles[t + k];
        kept += 3;
    }
    triangles.resize(kept);
}

// How many times the simplifier is asked again, each time with less error, before the grid is
// kept as it is; and the error it is asked for first, as a part of the bound. Its error is a
// distance to planes, which lets heights stray further: on rough ground a mesh is rarely kept
// above a third of the bound (of the nodes of a 1,000-tile block of hills none at 0.45 of it,
// where each such try cost as much as the rest of the node), so the first try starts there.
constexpr int kSimplifyAttempts = 5;
constexpr double kFirstError = 0.315;
constexpr double kErrorStep = 0.7;

// The surface's triangles simplified over `positions` (its own, or flattened) to `target`
// indices or `error`, whichever comes first, less those standing on the extent's edge.
void SimplifyInto(std::vector<std::uint32_t>& simplified, const Surface& surface,
                  const std::vector<float>& positions, std::size_t target, float error,
                  const Extent& extent) {
    simplified.resize(surface.indices.size());
    simplified.resize(meshopt_simplify(
        simplified.data(), surface.indices.data(), surface.indices.size(), positions.data(),
        surface.positions.size(), sizeof(float) * 3, target, error, 0, nullptr));
    DropTrianglesOnEdge(surface, simplified, extent);
}

void Simplify(Surface& surface, const TileSummary& summary, const CoarseMeshOptions& options) {
    const std::size_t vertexCount = surface.positions.size();
    const float scale = meshopt_simplifyScale(surface.local.data(), vertexCount, sizeof(float) * 3);
    const double bound =
        options.relativeError * std::max(summary.extent.Width(), summary.extent.Height());
    if (!(scale > 0) || !(bound > 0))
        return;
    const std::vector<bool> drawn = DrawnSamples(surface, summary);
    // The simplifier's error is relative to the mesh's own size, which the heights can make
    // larger than the extent.
    double error = kFirstError * bound / scale;
    const std::size_t budget = std::size_t{3} * options.mostTriangles;
    std::vector<std::uint32_t> simplified(surface.indices.size());
    for (int attempt = 0; attempt < kSimplifyAttempts; ++attempt, error *= kErrorStep) {
        // No target count: as few triangles as the error allows.
        SimplifyInto(simplified, surface, surface.local, 0, static_cast<float>(error),
                     summary.extent);
        if (simplified.size() > budget)
            break; // less error only keeps more
        if (KeepsHeightField(surface, simplified, summary, drawn, bound)) {
            surface.indices = std::move(simplified);
            return;
        }
    }
    // Ground too rough for the bound at this size: the mesh that strays least in its budget,
    // neither folded nor holed seen from above. The simplifier keeps from folding what it sees
    // in three dimensions, so when steep ground folds, it is shown the ground ever flatter.
    if (surface.indices.size() <= budget)
        return;
    constexpr double kNoBound = std::numeric_limits<double>::infinity();
    for (const float flattening : {1.0f, 0.25f, 0.0f}) {
        std::vector<float> flattened = surface.local;
        for (std::size_t z = 2; z < flattened.size(); z += 3)
            flattened[z] *= flattening;
        SimplifyInto(simplified, surface, flattened, budget, 1.0f, summary.extent);
        if (KeepsHeightField(surface, simplified, summary, drawn, kNoBound)) {
            surface.indices = std::move(simplified);
            return;
        }
    }
}

// The vertices the simplified triangles still use, renumbered in their first use's order.
void DropUnusedVertices(Surface& surface) {
    std::vector<std::uint32_t> renumbered(surface.positions.size(), kNoVertex);
    std::vector<osg::Vec3d> positions;
    for (std::uint32_t& index : surface.indices) {
        if (renumbered[index] == kNoVertex) {
            renumbered[index] = static_cast<std::uint32_t>(positions.size());
            positions.push_back(surface.positions[index]);
        }
        index = renumbered[index];
    }
    surface.positions = std::move(positions);
    surface.local.clear();
}

// The surface's open edges, each in the direction of its triangle: those no other triangle
// shares, along the outer border and around holes. Found by sorting the edges by their ends,
// which a mesh of some thousands of triangles does far sooner than a map.
std::vector<std::pair<std::uint32_t, std::uint32_t>> OpenEdges(const Surface& surface) {
    struct Edge {
        std::pair<std::uint32_t, std::uint32_t> ends; // the lower first
        std::uint32_t a, b;                           // as its triangle runs
    };
    std::vector<Edge> edges;
    edges.reserve(surface.indices.size());
    for (std::size_t t = 0; t + 2 < surface.indices.size(); t += 3)
        for (int k = 0; k < 3; ++k) {
            const std::uint32_t a = surface.indices[t + k], b = surface.indices[t + (k + 1) % 3];
            edges.push_back(Edge{std::minmax(a, b), a, b});
        }
    // Only an edge alone at its ends is kept, so the order among equal ends does not matter.
    std::sort(edges.begin(), edges.end(),
              [](const Edge& x, const Edge& y) { return x.ends < y.ends; });
    std::vector<std::pair<std::uint32_t, std::uint32_t>> open;
    for (std::size_t e = 0; e < edges.size();) {
        std::size_t same = e + 1;
        while (same < edges.size() && edges[same].ends == edges[e].ends)
            ++same;
        if (same == e + 1)
            open.emplace_back(edges[e].a, edges[e].b);
        e = same;
    }
    return open;
}

// A skirt quad below each open edge, facing out: its lower vertices are added to positions,
// one below each edge vertex.
std::vector<std::uint32_t> Skirts(Surface& surface, double depth) {
    std::vector<std::uint32_t> below(surface.positions.size(), kNoVertex);
    const auto lower = [&](std::uint32_t top) {
        if (below[top] == kNoVertex) {
            below[top] = static_cast<std::uint32_t>(surface.positions.size());
            surface.positions.push_back(surface.positions[top] - osg::Vec3d(0, 0, depth));
            // Lit as the edge it hangs from, so that it shades as the surface beside it.
            if (!surface.normals.empty())
                surface.normals.push_back(surface.normals[top]);
        }
        return below[top];
    };
    std::vector<std::uint32_t> skirts;
    for (const auto& [a, b] : OpenEdges(surface)) {
        const std::uint32_t lowA = lower(a), lowB = lower(b);
        skirts.insert(skirts.end(), {a, lowA, lowB, a, lowB, b});
    }
    return skirts;
}

// Each vertex's normal: the summary's at the sample it stands on, the mean of the tiles' there.
std::vector<osg::Vec3> SummaryNormals(const Surface& surface, const TileSummary& summary) {
    const Extent& e = summary.extent;
    std::vector<osg::Vec3> normals;
    normals.reserve(surface.positions.size());
    for (const osg::Vec3d& p : surface.positions) {
        const int i = static_cast<int>(std::lround((p.x() - e.minX) / e.Width() * kCells));
        const int j = static_cast<int>(std::lround((p.y() - e.minY) / e.Height() * kCells));
        const std::int8_t* n = summary.Normal(std::clamp(i, 0, kCells), std::clamp(j, 0, kCells));
        normals.push_back(osg::Vec3(n[0], n[1], n[2]) / kNormalUnit);
    }
    return normals;
}

// The texture's colours: a summary's are those its surface is drawn in before the light; a
// mesh in the viewer's default material has them divided by that material's grey, which the
// viewer multiplies them by again.
osg::ref_ptr<osg::Texture2D> ColourTexture(const TileSummary& summary) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(kSummaryColourPixels, kSummaryColourPixels, 1, GL_RGB, GL_UNSIGNED_BYTE);
    if (summary.ownColours)
        std::copy(summary.colour.begin(), summary.colour.end(), image->data());
    else
        std::transform(summary.colour.begin(), summary.colour.end(), image->data(),
                       [](std::uint8_t c) { return RoundedByte(c / kDefaultMaterialGrey); });
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image.get());
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR_MIPMAP_LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    return texture;
}

// A material that takes its colour from a white the viewer makes current, lit or not, as the
// default one takes a tile's vertex colours: the texture alone then gives the colour.
osg::ref_ptr<osg::Material> WhiteMaterial() {
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setColorMode(osg::Material::AMBIENT_AND_DIFFUSE);
    material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(1, 1, 1, 1));
    material->setAmbient(osg::Material::FRONT_AND_BACK, osg::Vec4(1, 1, 1, 1));
    return material;
}

osg::ref_ptr<osg::Geometry> MeshGeometry(const Surface& surface,
                                         const std::vector<std::uint32_t>& skirts,
                                         const Extent& extent) {
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec2Array> uvs = new osg::Vec2Array;
    for (const osg::Vec3d& p : surface.positions) {
        vertices->push_back(osg::Vec3(p));
        uvs->push_back(osg::Vec2(static_cast<float>((p.x() - extent.minX) / extent.Width()),
                                 static_cast<float>((p.y() - extent.minY) / extent.Height())));
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    // Drawn from buffers, which hold the vertices once: a display list of the same mesh holds
    // each triangle's corners apart, several times the memory in a viewer.
    geometry->setUseDisplayList(false);
    geometry->setUseVertexBufferObjects(true);
    geometry->setVertexArray(vertices.get());
    geometry->setTexCoordArray(0, uvs.get(), osg::Array::BIND_PER_VERTEX);
    // No colours of its own: like a tile, which mostly has none, it takes the colour a viewer
    // gives such geometry (a scene graph's default material, 0.8 grey), or the white of its own
    // material. A colour set here would also stay current for the tiles drawn after it.
    if (!surface.normals.empty()) {
        osg::ref_ptr<osg::Vec3Array> normals =
            new osg::Vec3Array(surface.normals.begin(), surface.normals.end());
        geometry->setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
    }
    // A summary's grid and skirts stay far below 65,536 vertices: two bytes an index halve
    // what the indices cost a node file.
    for (const std::vector<std::uint32_t>* indices : {&surface.indices, &skirts}) {
        osg::ref_ptr<osg::DrawElementsUShort> triangles = new osg::DrawElementsUShort(GL_TRIANGLES);
        triangles->reserve(indices->size());
        for (const std::uint32_t index : *indices)
            triangles->push_back(static_cast<GLushort>(index));
        geometry->addPrimitiveSet(triangles.get());
    }
    return geometry;
}

} // namespace

osg::ref_ptr<osg::Geode> BuildCoarseMesh(const TileSummary& summary,
                                         const CoarseMeshOptions& options) {
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    const Extent& extent = summary.extent;
    if (!HasArea(extent))
        return geode;
    Surface surface = GridSurface(summary);
    if (surface.indices.empty())
        return geode;
    Simplify(surface, summary, options);
    DropUnusedVertices(surface);
    // Normals only where the tiles have them: a viewer lights those without by its default
    // normal, and lights a mesh without them alike.
    if (summary.lit && summary.withNormals)
        surface.normals = SummaryNormals(surface, summary);
    const double depth = options.relativeSkirtDepth * std::max(extent.Width(), extent.Height());
    const std::vector<std::uint32_t> skirts = Skirts(surface, depth);
    osg::ref_ptr<osg::Geometry> geometry = MeshGeometry(surface, skirts, extent);
    osg::StateSet* state = geometry->getOrCreateStateSet();
    state->setTextureAttributeAndModes(0, ColourTexture(summary).get(), osg::StateAttribute::ON);
    if (summary.ownColours)
        state->setAttributeAndModes(WhiteMaterial().get(), osg::StateAttribute::ON);
    // Lit or not as the tiles below are; lighting is the viewer's to turn on.
    if (!summary.lit)
        state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    geode->addDrawable(geometry.get());
    return geode;
}

} // namespace brindle
