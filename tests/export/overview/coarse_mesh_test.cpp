#include "export/overview/coarse_mesh.h"
#include "export/overview/scene_summary.h"
#include "tests/export/overview/summary_fixtures.h"

#include <osg/Geometry>
#include <osg/Image>
#include <osg/Material>
#include <osg/Texture2D>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <set>
#include <tuple>

namespace brindle {
namespace {

constexpr int kSamples = kSummaryHeightSamples;

TileSummary HeightSummary(const Extent& extent,
                          const std::function<float(double, double)>& height) {
    TileSummary summary;
    summary.extent = extent;
    test::SampleHeights(summary, height);
    for (std::size_t p = 0; p < summary.colour.size(); ++p)
        summary.colour[p] = static_cast<std::uint8_t>(p * 7 % 251);
    return summary;
}

// A coarse mesh's parts, as a viewer would draw them.
struct Mesh {
    osg::ref_ptr<const osg::Geode> geode; // holds what the pointers below point to
    const osg::Geometry* geometry = nullptr;
    const osg::Vec3Array* vertices = nullptr;
    const osg::Vec2Array* uvs = nullptr;
    std::vector<unsigned> surface, skirts;
};

Mesh Parts(const osg::ref_ptr<osg::Geode>& built) {
    Mesh mesh;
    mesh.geode = built;
    const osg::Geode& geode = *built;
    EXPECT_EQ(geode.getNumDrawables(), 1u);
    if (geode.getNumDrawables() != 1)
        return mesh;
    mesh.geometry = geode.getDrawable(0)->asGeometry();
    EXPECT_NE(mesh.geometry, nullptr);
    mesh.vertices = dynamic_cast<const osg::Vec3Array*>(mesh.geometry->getVertexArray());
    mesh.uvs = dynamic_cast<const osg::Vec2Array*>(mesh.geometry->getTexCoordArray(0));
    EXPECT_NE(mesh.vertices, nullptr);
    EXPECT_NE(mesh.uvs, nullptr);
    EXPECT_EQ(mesh.geometry->getNumPrimitiveSets(), 2u);
    for (unsigned set : {kCoarseSurface, kCoarseSkirts}) {
        const auto* elements =
            dynamic_cast<const osg::DrawElementsUShort*>(mesh.geometry->getPrimitiveSet(set));
        EXPECT_NE(elements, nullptr);
        EXPECT_EQ(elements->getMode(), static_cast<GLenum>(GL_TRIANGLES));
        EXPECT_EQ(elements->size() % 3, 0u);
        for (const unsigned index : *elements)
            EXPECT_LT(index, mesh.vertices->size());
        (set == kCoarseSurface ? mesh.surface : mesh.skirts)
            .assign(elements->begin(), elements->end());
    }
    return mesh;
}

// The surface's height under (x, y), from the triangle that holds it seen from above.
std::optional<double> SurfaceHeight(const Mesh& mesh, double x, double y) {
    for (std::size_t t = 0; t + 2 < mesh.surface.size(); t += 3) {
        const osg::Vec3& a = (*mesh.vertices)[mesh.surface[t]];
        const osg::Vec3& b = (*mesh.vertices)[mesh.surface[t + 1]];
        const osg::Vec3& c = (*mesh.vertices)[mesh.surface[t + 2]];
        const double det = (b.y() - c.y()) * (a.x() - c.x()) + (c.x() - b.x()) * (a.y() - c.y());
        if (std::abs(det) < 1e-12)
            continue;
        const double wa = ((b.y() - c.y()) * (x - c.x()) + (c.x() - b.x()) * (y - c.y())) / det;
        const double wb = ((c.y() - a.y()) * (x - c.x()) + (a.x() - c.x()) * (y - c.y())) / det;
        const double wc = 1 - wa - wb;
        if (wa >= -1e-6 && wb >= -1e-6 && wc >= -1e-6)
            return wa * a.z() + wb * b.z() + wc * c.z();
    }
    return std::nullopt;
}

// Seen from above, the surface's triangles wind counter-clockwise, and none is folded over.
void ExpectUpward(const Mesh& mesh) {
    for (std::size_t t = 0; t + 2 < mesh.surface.size(); t += 3) {
        const osg::Vec3& a = (*mesh.vertices)[mesh.surface[t]];
        const osg::Vec3& b = (*mesh.vertices)[mesh.surface[t + 1]];
        const osg::Vec3& c = (*mesh.vertices)[mesh.surface[t + 2]];
        EXPECT_GT(((b - a) ^ (c - a)).z(), 0) << "triangle " << t / 3;
    }
}

TEST(CoarseMesh, FlatSummarySimplifiesToAFewTrianglesWithSkirts) {
    const Extent extent{1000, 2000, 1100, 2100};
    const osg::ref_ptr<osg::Geode> geode =
        BuildCoarseMesh(HeightSummary(extent, [](double, double) { return 5.0f; }));
    const Mesh mesh = Parts(geode);
    ASSERT_NE(mesh.vertices, nullptr);
    EXPECT_GE(mesh.surface.size() / 3, 2u);
    EXPECT_LE(mesh.surface.size() / 3, 8u);
    ExpectUpward(mesh);
    // Still the whole extent.
    for (const auto& [x, y] : {std::pair{1000.0, 2000.0}, {1100, 2100}, {1050, 2050}, {1000, 2099}})
        EXPECT_NEAR(SurfaceHeight(mesh, x, y).value_or(-1), 5, 1e-4) << x << " " << y;
    // The four sides hang down, out of sight from above.
    ASSERT_FALSE(mesh.skirts.empty());
    double skirtLength = 0;
    for (std::size_t t = 0; t + 2 < mesh.skirts.size(); t += 6) {
        const osg::Vec3& top0 = (*mesh.vertices)[mesh.skirts[t]];
        const osg::Vec3& low0 = (*mesh.vertices)[mesh.skirts[t + 1]];
        const osg::Vec3& low1 = (*mesh.vertices)[mesh.skirts[t + 2]];
        EXPECT_FLOAT_EQ(top0.z(), 5);
        EXPECT_NEAR(low0.z(), 5 - 100.0 / 128, 1e-4);
        EXPECT_NEAR(low1.z(), 5 - 100.0 / 128, 1e-4);
        EXPECT_FLOAT_EQ(low0.x(), top0.x());
        EXPECT_FLOAT_EQ(low0.y(), top0.y());
        // On the border, facing out.
        EXPECT_TRUE(top0.x() == 1000 || top0.x() == 1100 || top0.y() == 2000 || top0.y() == 2100);
        const osg::Vec3 normal = (low0 - top0) ^ (low1 - top0);
        const osg::Vec3 outward = top0 - osg::Vec3(1050, 2050, 5);
        EXPECT_GT(normal * outward, 0);
        skirtLength += (low1 - low0).length();
    }
    EXPECT_NEAR(skirtLength, 400, 1e-3);
}

// A mesh is drawn as its tiles are: unlit, it turns the lighting off; lit, it leaves the
// lighting to the viewer, with no normals where the tiles have none (so the viewer lights both
// by its default normal) and the summary's where they have them, its skirts as the edge they
// hang from. That it then shows as they do, a render compares (level_render_test).
TEST(CoarseMesh, AMeshHasNormalsAndLightingAsItsTilesHave) {
    const Extent extent{0, 0, 100, 100};
    TileSummary summary = HeightSummary(extent, [](double x, double) { return 0.5 * x; });
    const auto lighting = [](const osg::Geode& geode) {
        const osg::StateSet* state = geode.getDrawable(0)->getStateSet();
        return state ? state->getMode(GL_LIGHTING)
                     : osg::StateAttribute::GLModeValue{osg::StateAttribute::INHERIT};
    };
    const auto normalsOf = [](const osg::Geode& geode) {
        return dynamic_cast<const osg::Vec3Array*>(
            geode.getDrawable(0)->asGeometry()->getNormalArray());
    };
    summary.withNormals = true;
    const osg::ref_ptr<osg::Geode> unlit = BuildCoarseMesh(summary);
    ASSERT_EQ(unlit->getNumDrawables(), 1u);
    // Drawn from buffers, not compiled into a display list.
    EXPECT_FALSE(unlit->getDrawable(0)->getUseDisplayList());
    EXPECT_TRUE(unlit->getDrawable(0)->getUseVertexBufferObjects());
    EXPECT_EQ(lighting(*unlit), osg::StateAttribute::OFF);
    EXPECT_EQ(normalsOf(*unlit), nullptr);
    // A colour of its own would stay current for the tiles drawn after it.
    EXPECT_EQ(unlit->getDrawable(0)->asGeometry()->getColorArray(), nullptr);

    summary.lit = true;
    summary.withNormals = false;
    const osg::ref_ptr<osg::Geode> withoutNormals = BuildCoarseMesh(summary);
    EXPECT_EQ(lighting(*withoutNormals), osg::StateAttribute::INHERIT);
    EXPECT_EQ(normalsOf(*withoutNormals), nullptr);

    // The tiles' normals lean half-way back against the slope, shorter than one as rough
    // ground's mean is.
    for (int j = 0; j < kSummaryHeightSamples; ++j)
        for (int i = 0; i < kSummaryHeightSamples; ++i) {
            std::int8_t* n = summary.Normal(i, j);
            n[0] = -40, n[1] = 0, n[2] = 80;
        }
    summary.withNormals = true;
    const osg::ref_ptr<osg::Geode> lit = BuildCoarseMesh(summary);
    ASSERT_EQ(lit->getNumDrawables(), 1u);
    EXPECT_EQ(lighting(*lit), osg::StateAttribute::INHERIT);
    const osg::Vec3Array* normals = normalsOf(*lit);
    ASSERT_NE(normals, nullptr);
    ASSERT_EQ(normals->getBinding(), osg::Array::BIND_PER_VERTEX);
    const Mesh mesh = Parts(lit);
    ASSERT_EQ(normals->size(), mesh.vertices->size());
    for (const std::vector<unsigned>* part : {&mesh.surface, &mesh.skirts})
        for (const unsigned v : *part)
            EXPECT_NEAR(((*normals)[v] - osg::Vec3(-40, 0, 80) / 127).length(), 0, 1e-6) << v;
}

// The texture holds the colours the tiles are drawn in before the light: in the viewer's
// default material (0.8 grey), which multiplies them again, divided by its grey; in a white
// material of the mesh's own where the tiles have colours of their own.
TEST(CoarseMesh, ItsTextureAndMaterialGiveTheTilesColours) {
    const Extent extent{0, 0, 100, 100};
    TileSummary summary = HeightSummary(extent, [](double, double) { return 3.0f; });
    std::fill(summary.colour.begin(), summary.colour.end(), std::uint8_t{160});
    const auto material = [](const osg::Geode& geode) {
        return dynamic_cast<const osg::Material*>(
            geode.getDrawable(0)->getStateSet()->getAttribute(osg::StateAttribute::MATERIAL));
    };
    const osg::ref_ptr<osg::Geode> inDefault = BuildCoarseMesh(summary);
    EXPECT_EQ(test::FirstTextureImage(inDefault.get())->data()[0], 200);
    EXPECT_EQ(material(*inDefault), nullptr);
    summary.ownColours = true;
    const osg::ref_ptr<osg::Geode> inOwn = BuildCoarseMesh(summary);
    EXPECT_EQ(test::FirstTextureImage(inOwn.get())->data()[0], 160);
    const osg::Material* own = material(*inOwn);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->getColorMode(), osg::Material::AMBIENT_AND_DIFFUSE);
    EXPECT_EQ(own->getDiffuse(osg::Material::FRONT), osg::Vec4(1, 1, 1, 1));
}

TEST(CoarseMesh, BumpySummaryKeepsItsShapeWithinTheErrorBound) {
    const Extent extent{-100, -100, 100, 100};
    const auto height = [](double x, double y) {
        return static_cast<float>(40 + 6 * std::sin(x / 17) * std::cos(y / 23) + 0.02 * x);
    };
    const TileSummary summary = HeightSummary(extent, height);
    const CoarseMeshOptions options;
    const Mesh mesh = Parts(BuildCoarseMesh(summary, options));
    ASSERT_NE(mesh.vertices, nullptr);
    const std::size_t full = 64 * 64 * 2;
    EXPECT_LT(mesh.surface.size() / 3, full / 2);
    EXPECT_GT(mesh.surface.size() / 3, 50u);
    ExpectUpward(mesh);
    const double bound = options.relativeError * 200;
    double worst = 0;
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i) {
            const double x = -100 + i * 200.0 / 64, y = -100 + j * 200.0 / 64;
            const std::optional<double> z = SurfaceHeight(mesh, x, y);
            ASSERT_TRUE(z.has_value()) << x << " " << y;
            worst = std::max(worst, std::abs(*z - summary.Height(i, j)));
        }
    EXPECT_LE(worst, bound + 1e-4);
    RecordProperty("triangles", static_cast<int>(mesh.surface.size() / 3));

    // A looser bound, fewer triangles.
    CoarseMeshOptions loose;
    loose.relativeError = options.relativeError * 8;
    EXPECT_LT(Parts(BuildCoarseMesh(summary, loose)).surface.size(), mesh.surface.size());
}

TEST(CoarseMesh, GroundTooRoughForTheBoundKeepsToTheTriangleBudgetAndStillCoversItsExtent) {
    const Extent extent{0, 0, 640, 640};
    // Hills a few samples across, ten metres high: no mesh in the budget keeps within 2.5 m.
    const auto height = [](double x, double y) {
        return static_cast<float>(10 * std::sin(x / 7.3) * std::cos(y / 5.1) +
                                  5 * std::sin(x / 3.1 + y / 4.7));
    };
    const TileSummary summary = HeightSummary(extent, height);
    CoarseMeshOptions unlimited;
    unlimited.mostTriangles = 64 * 64 * 2;
    const Mesh full = Parts(BuildCoarseMesh(summary, unlimited));
    ASSERT_GT(full.surface.size() / 3, 4096u) << "the ground must be too rough for the test";

    CoarseMeshOptions options;
    options.mostTriangles = 1000;
    const Mesh mesh = Parts(BuildCoarseMesh(summary, options));
    ASSERT_NE(mesh.vertices, nullptr);
    EXPECT_LE(mesh.surface.size() / 3, 1000u);
    EXPECT_GT(mesh.surface.size() / 3, 500u);
    ExpectUpward(mesh);
    // Every sample still lies under the surface, within the hills' height of it.
    for (int j = 0; j < kSamples; j += 3)
        for (int i = 0; i < kSamples; i += 3) {
            const double x = i * 640.0 / 64, y = j * 640.0 / 64;
            const std::optional<double> z = SurfaceHeight(mesh, x, y);
            ASSERT_TRUE(z.has_value()) << x << " " << y;
            EXPECT_LE(std::abs(*z - summary.Height(i, j)), 30.0) << x << " " << y;
        }
}

TEST(CoarseMesh, TextureCoordinatesFollowTheExtentAndTheImageIsEmbedded) {
    const Extent extent{300, -50, 700, 150};
    const TileSummary summary = HeightSummary(
        extent, [](double x, double y) { return static_cast<float>(std::sin(x / 9) + y / 50); });
    const Mesh mesh = Parts(BuildCoarseMesh(summary));
    ASSERT_NE(mesh.uvs, nullptr);
    ASSERT_EQ(mesh.uvs->size(), mesh.vertices->size());
    std::set<std::tuple<float, float, float>> surfacePlaces;
    for (const unsigned index : mesh.surface) {
        const osg::Vec3& p = (*mesh.vertices)[index];
        surfacePlaces.emplace(p.x(), p.y(), p.z());
    }
    // Welded: no two surface vertices in one place.
    std::set<unsigned> surfaceVertices(mesh.surface.begin(), mesh.surface.end());
    EXPECT_EQ(surfacePlaces.size(), surfaceVertices.size());
    bool corner[4] = {};
    for (std::size_t v = 0; v < mesh.vertices->size(); ++v) {
        const osg::Vec3& p = (*mesh.vertices)[v];
        const osg::Vec2& uv = (*mesh.uvs)[v];
        ASSERT_GE(uv.x(), 0);
        ASSERT_LE(uv.x(), 1);
        ASSERT_GE(uv.y(), 0);
        ASSERT_LE(uv.y(), 1);
        // One function of the place over the whole mesh, skirts included: continuous.
        EXPECT_NEAR(uv.x(), (p.x() - 300) / 400, 1e-6);
        EXPECT_NEAR(uv.y(), (p.y() + 50) / 200, 1e-6);
        if ((uv.x() == 0 || uv.x() == 1) && (uv.y() == 0 || uv.y() == 1))
            corner[(uv.x() == 1) + 2 * (uv.y() == 1)] = true;
    }
    EXPECT_TRUE(corner[0] && corner[1] && corner[2] && corner[3]);

    const osg::StateSet* state = mesh.geometry->getStateSet();
    ASSERT_NE(state, nullptr);
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_NE(texture, nullptr);
    const osg::Image* image = texture->getImage();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->s(), kSummaryColourPixels);
    EXPECT_EQ(image->t(), kSummaryColourPixels);
    EXPECT_EQ(image->getPixelFormat(), static_cast<GLenum>(GL_RGB));
    EXPECT_TRUE(image->getFileName().empty());
    ASSERT_EQ(image->getTotalSizeInBytes(), summary.colour.size());
}

// A viewer draws a tile's texture times its colour, and the mesh above it is to show what the
// tile shows: drawn in the viewer's default material as the tile is, or in its own white one
// where the tile has colours of its own (here white vertex colours), the mesh's texture is the
// tile's own, within a step of rounding.
TEST(CoarseMesh, ItsTextureIsTheTilesOwnTextureAsAViewerShowsIt) {
    osg::ref_ptr<osg::Image> texture = new osg::Image;
    texture->allocateImage(kSummaryColourPixels, kSummaryColourPixels, 1, GL_RGB, GL_UNSIGNED_BYTE);
    const auto texel = [](int column, int row, int c) {
        return c == 0 ? column : c == 1 ? row : (column * 7 + row * 3) % 256;
    };
    for (int row = 0; row < kSummaryColourPixels; ++row)
        for (int column = 0; column < kSummaryColourPixels; ++column)
            for (int c = 0; c < 3; ++c)
                texture->data(column, row)[c] = static_cast<std::uint8_t>(texel(column, row, c));
    for (const bool vertexColours : {false, true}) {
        const osg::ref_ptr<osg::Geode> tile = test::TexturedQuad(texture.get());
        if (!vertexColours)
            tile->getDrawable(0)->asGeometry()->setColorArray(nullptr);
        SceneSummaryOptions options;
        options.extent = Extent{0, 0, 1, 1};
        const SceneSummary made = SummariseScene(*tile, options);
        ASSERT_TRUE(made.summary.has_value());
        EXPECT_EQ(made.summary->ownColours, vertexColours);
        const osg::ref_ptr<osg::Geode> mesh = BuildCoarseMesh(*made.summary);
        const osg::Image* image = test::FirstTextureImage(mesh.get());
        ASSERT_NE(image, nullptr);
        for (int j = 0; j < kSummaryColourPixels; ++j)
            for (int i = 0; i < kSummaryColourPixels; ++i)
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(image->data(i, j)[c], texel(i, j, c), 1)
                        << i << " " << j << " " << c << (vertexColours ? " coloured" : "");
    }
}

TEST(CoarseMesh, CellsWithoutHeightsHaveNoTrianglesAndHolesHaveSkirts) {
    const Extent extent{0, 0, 64, 64};
    // A hole from x 20 to 30 and y 10 to 40, and nothing west of x = 5; bumps elsewhere so that
    // the simplifier keeps some detail.
    const auto height = [](double x, double y) {
        if (x < 5 || (x >= 20 && x <= 30 && y >= 10 && y <= 40))
            return kNoHeight;
        return static_cast<float>(std::sin(x / 3) * std::cos(y / 4));
    };
    const TileSummary summary = HeightSummary(extent, height);
    const Mesh mesh = Parts(BuildCoarseMesh(summary));
    ASSERT_FALSE(mesh.surface.empty());
    ExpectUpward(mesh);
    for (std::size_t t = 0; t + 2 < mesh.surface.size(); t += 3) {
        osg::Vec3 centre;
        for (int k = 0; k < 3; ++k)
            centre += (*mesh.vertices)[mesh.surface[t + k]] / 3;
        EXPECT_FALSE(centre.x() < 5) << centre.x();
        EXPECT_FALSE(centre.x() > 19 && centre.x() < 31 && centre.y() > 9 && centre.y() < 41)
            << centre.x() << " " << centre.y();
    }
    for (const osg::Vec3& p : *mesh.vertices)
        EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z()));
    // Skirts around the hole as well as along the outer edges.
    bool aroundHole = false;
    for (const unsigned index : mesh.skirts) {
        const osg::Vec3& p = (*mesh.vertices)[index];
        aroundHole = aroundHole || (p.x() > 18 && p.x() < 32 && p.y() > 12 && p.y() < 38);
    }
    EXPECT_TRUE(aroundHole);

    // No cell with four heights: no drawables; one sample alone makes none either.
    TileSummary empty;
    empty.extent = extent;
    EXPECT_EQ(BuildCoarseMesh(empty)->getNumDrawables(), 0u);
    empty.Height(3, 3) = 1;
    EXPECT_EQ(BuildCoarseMesh(empty)->getNumDrawables(), 0u);
    TileSummary damaged = summary;
    damaged.extent.minX = std::nan("");
    EXPECT_EQ(BuildCoarseMesh(damaged)->getNumDrawables(), 0u);
}

} // namespace
} // namespace brindle
