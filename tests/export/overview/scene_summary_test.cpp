#include "export/overview/scene_summary.h"

#include "export/overview/coarse_mesh.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/LOD>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osg/PositionAttitudeTransform>
#include <osg/Texture2D>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <string>

namespace brindle {
namespace {

namespace fs = std::filesystem;

constexpr int kPixels = kSummaryColourPixels;
constexpr int kSamples = kSummaryHeightSamples;
using Rgb = std::array<std::uint8_t, 3>;

// A texture whose texel (column, row) has the colour `colour` gives it, rows from the bottom
// as osg::Image keeps them.
osg::ref_ptr<osg::Texture2D> MakeTexture(int s, int t, const std::function<Rgb(int, int)>& colour,
                                         GLenum format = GL_RGB) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(s, t, 1, format, GL_UNSIGNED_BYTE);
    const int bytes = format == GL_RGBA ? 4 : 3;
    for (int row = 0; row < t; ++row)
        for (int column = 0; column < s; ++column) {
            const Rgb rgb = colour(column, row);
            std::uint8_t* texel = image->data(column, row);
            for (int k = 0; k < 3; ++k)
                texel[k] = rgb[k];
            if (bytes == 4)
                texel[3] = 255;
        }
    return new osg::Texture2D(image.get());
}

// A texel's colour as a summary keeps it: as a viewer draws it, times its default material's
// grey, 0.8.
Rgb Drawn(const Rgb& texel) {
    Rgb drawn{};
    for (int c = 0; c < 3; ++c)
        drawn[c] = static_cast<std::uint8_t>(std::lround(texel[c] * 0.8 + 1e-9));
    return drawn;
}

Rgb QuadrantColour(int column, int row) {
    return Rgb{static_cast<std::uint8_t>(40 + 60 * column),
               static_cast<std::uint8_t>(20 + 70 * row),
               static_cast<std::uint8_t>(column == row ? 200 : 10)};
}

// A flat quad over the extent at height z, as one triangle strip, its texture coordinates
// running from 0 to 1 over it.
osg::ref_ptr<osg::Geometry> Quad(const Extent& e, float z,
                                 const osg::ref_ptr<osg::Texture2D>& texture = nullptr) {
    osg::ref_ptr<osg::Geometry> quad = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec2Array> uvs = new osg::Vec2Array;
    for (const auto& [u, v] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
        vertices->push_back(osg::Vec3(static_cast<float>(u ? e.maxX : e.minX),
                                      static_cast<float>(v ? e.maxY : e.minY), z));
        uvs->push_back(osg::Vec2(static_cast<float>(u), static_cast<float>(v)));
    }
    quad->setVertexArray(vertices.get());
    quad->setTexCoordArray(0, uvs.get());
    quad->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLE_STRIP, 0, 4));
    if (texture)
        quad->getOrCreateStateSet()->setTextureAttributeAndModes(0, texture.get());
    return quad;
}

// A plane z = f(x, y) over the extent, as indexed triangles on a grid of n x n cells.
osg::ref_ptr<osg::Geometry> Plane(const Extent& e, int n,
                                  const std::function<double(double, double)>& f) {
    osg::ref_ptr<osg::Geometry> plane = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = e.minX + i * e.Width() / n, y = e.minY + j * e.Height() / n;
            vertices->push_back(osg::Vec3(x, y, f(x, y)));
        }
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const unsigned a = j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
            for (const unsigned v : {a, b, c, a, c, d})
                triangles->push_back(v);
        }
    plane->setVertexArray(vertices.get());
    plane->addPrimitiveSet(triangles.get());
    return plane;
}

Rgb ColourAt(const TileSummary& summary, int i, int j) {
    const std::uint8_t* c = summary.Colour(i, j);
    return Rgb{c[0], c[1], c[2]};
}

int Covered(const TileSummary& summary) {
    int covered = 0;
    for (const std::uint8_t c : summary.coverage)
        covered += c == 255;
    return covered;
}

void ExpectFlat(const TileSummary& summary, float z) {
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i)
            ASSERT_FLOAT_EQ(summary.Height(i, j), z) << i << " " << j;
}

void ExpectSame(const TileSummary& a, const TileSummary& b) {
    EXPECT_EQ(a.extent.minX, b.extent.minX);
    EXPECT_EQ(a.extent.maxY, b.extent.maxY);
    EXPECT_EQ(a.colour, b.colour);
    EXPECT_EQ(a.coverage, b.coverage);
    for (std::size_t s = 0; s < a.heights.size(); ++s)
        ASSERT_TRUE(a.heights[s] == b.heights[s] ||
                    (!IsHeight(a.heights[s]) && !IsHeight(b.heights[s])))
            << s;
}

const Extent kQuadExtent{500, 3000, 564, 3032};

TEST(SceneSummary, ATexturedQuadCoversItsExtentWithItsTextureTheRightWayUp) {
    for (const GLenum format : {GL_RGB, GL_RGBA}) {
        SCOPED_TRACE(format == GL_RGB ? "RGB" : "RGBA");
        const SceneSummary made =
            SummariseScene(*Quad(kQuadExtent, 7.5f, MakeTexture(4, 4, QuadrantColour, format)));
        ASSERT_TRUE(made.summary.has_value());
        EXPECT_EQ(made.triangles, 2u);
        EXPECT_EQ(made.skipped, 0u);
        const TileSummary& summary = *made.summary;
        EXPECT_DOUBLE_EQ(summary.extent.minX, 500);
        EXPECT_DOUBLE_EQ(summary.extent.minY, 3000);
        EXPECT_DOUBLE_EQ(summary.extent.maxX, 564);
        EXPECT_DOUBLE_EQ(summary.extent.maxY, 3032);
        EXPECT_EQ(Covered(summary), kPixels * kPixels);
        ExpectFlat(summary, 7.5f);
        // Each texel spans 64 x 64 pixels; the first row of pixels lies at minY, as does the
        // image's first row.
        for (int j = 0; j < kPixels; ++j)
            for (int i = 0; i < kPixels; ++i)
                ASSERT_EQ(ColourAt(summary, i, j), Drawn(QuadrantColour(i / 64, j / 64)))
                    << i << " " << j;
    }
}

// A tile is lit unless its state turns the viewer's lighting off where most of it is drawn;
// an override above wins over what is set below, unless that is protected.
TEST(SceneSummary, ItIsLitAsMostOfItsTrianglesAreDrawn) {
    const auto group = [](std::initializer_list<osg::ref_ptr<osg::Node>> children) {
        osg::ref_ptr<osg::Group> made = new osg::Group;
        for (const osg::ref_ptr<osg::Node>& child : children)
            made->addChild(child.get());
        return made;
    };
    const auto setLighting = [](osg::Node& node, osg::StateAttribute::GLModeValue mode) {
        node.getOrCreateStateSet()->setMode(GL_LIGHTING, mode);
    };
    const auto lit = [](const osg::Node& scene) {
        const SceneSummary made = SummariseScene(scene);
        return made.summary.has_value() && made.summary->lit;
    };
    EXPECT_TRUE(lit(*Quad(kQuadExtent, 1)));

    osg::ref_ptr<osg::Geometry> off = Quad(kQuadExtent, 1);
    setLighting(*off, osg::StateAttribute::OFF);
    EXPECT_FALSE(lit(*group({off})));
    // One lit quad beside two unlit ones: most of it is unlit.
    EXPECT_FALSE(lit(*group({off, Quad(kQuadExtent, 2), off})));
    EXPECT_TRUE(lit(*group({off, Quad(kQuadExtent, 2)})));

    osg::ref_ptr<osg::Group> forcedOn = group({off});
    setLighting(*forcedOn, osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
    EXPECT_TRUE(lit(*forcedOn));
    osg::ref_ptr<osg::Geometry> protectedOff = Quad(kQuadExtent, 1);
    setLighting(*protectedOff, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    osg::ref_ptr<osg::Group> overridden = group({protectedOff});
    setLighting(*overridden, osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE);
    EXPECT_FALSE(lit(*overridden));
    // What a child sets is its own: the sibling after it is lit again.
    osg::ref_ptr<osg::Group> offGroup = group({Quad(kQuadExtent, 1)});
    setLighting(*offGroup, osg::StateAttribute::OFF);
    EXPECT_TRUE(lit(*group({offGroup, Quad(kQuadExtent, 2), Quad(kQuadExtent, 3)})));
}

// A texture whose image cannot be read shows as grey; a surface without a texture as its own
// colour, here the default material's.
TEST(SceneSummary, UnsupportedImagesAreGreyAndUntexturedSurfacesTheirOwnColour) {
    osg::ref_ptr<osg::Texture2D> floats = new osg::Texture2D;
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(2, 2, 1, GL_RGB, GL_FLOAT);
    floats->setImage(image.get());
    for (const osg::ref_ptr<osg::Texture2D>& texture : {floats, osg::ref_ptr<osg::Texture2D>()}) {
        const SceneSummary made = SummariseScene(*Quad(kQuadExtent, 0, texture));
        ASSERT_TRUE(made.summary.has_value());
        EXPECT_EQ(Covered(*made.summary), kPixels * kPixels);
        EXPECT_EQ(ColourAt(*made.summary, 100, 30),
                  Drawn(texture ? Rgb{128, 128, 128} : Rgb{255, 255, 255}));
    }
}

TEST(SceneSummary, ATiltedPlaneGivesItsHeightsAndTheTopmostSurfaceWins) {
    const Extent extent{-20, 10, 44, 74};
    const auto tilt = [](double x, double y) { return 0.25 * x - 0.5 * y + 100; };
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(Plane(extent, 7, tilt).get());
    // A red roof over the lower left quarter, above the plane everywhere, and a blue floor under
    // all of it, below the plane everywhere: neither height nor colour of the floor shows.
    geode->addDrawable(Quad(Extent{-20, 10, 12, 42}, 120,
                            MakeTexture(1, 1,
                                        [](int, int) {
                                            return Rgb{255, 0, 0};
                                        }))
                           .get());
    geode->addDrawable(Quad(extent, 0,
                            MakeTexture(1, 1,
                                        [](int, int) {
                                            return Rgb{0, 0, 255};
                                        }))
                           .get());
    const SceneSummary made = SummariseScene(*geode);
    ASSERT_TRUE(made.summary.has_value());
    const TileSummary& summary = *made.summary;
    EXPECT_EQ(made.triangles, 7u * 7 * 2 + 4);
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i) {
            const double x = -20 + i, y = 10 + j;
            const double expected = x <= 12 && y <= 42 ? 120 : tilt(x, y);
            ASSERT_NEAR(summary.Height(i, j), expected, 1e-4) << i << " " << j;
        }
    EXPECT_EQ(Covered(summary), kPixels * kPixels);
    EXPECT_EQ(ColourAt(summary, 10, 10), Drawn(Rgb{255, 0, 0}));
    // Untextured: the default material's grey.
    EXPECT_EQ(ColourAt(summary, 200, 10), Drawn(Rgb{255, 255, 255}));
    EXPECT_EQ(ColourAt(summary, 10, 200), Drawn(Rgb{255, 255, 255}));
}

// A summary's normals are those a viewer lights the tile with: its own, turned as its vertices
// are, or, where it has none, the viewer's default, straight up in the geometry's frame, whatever
// the slope of its faces.
TEST(SceneSummary, ItsNormalsAreThoseTheTileIsLitWith) {
    const Extent extent{0, 0, 40, 40};
    const auto summarise = [](const osg::Node& scene) {
        SceneSummary made = SummariseScene(scene);
        EXPECT_TRUE(made.summary.has_value());
        return made.summary.value_or(TileSummary{});
    };
    const auto normalAt = [](const TileSummary& summary, int i, int j) {
        const std::int8_t* n = summary.Normal(i, j);
        return std::array<int, 3>{n[0], n[1], n[2]};
    };
    const TileSummary slope = summarise(*Plane(extent, 4, [](double x, double) { return x; }));
    EXPECT_FALSE(slope.withNormals);
    EXPECT_EQ(normalAt(slope, 30, 30), (std::array<int, 3>{0, 0, 127}));

    // Level ground drawn leaning 37 degrees east.
    osg::ref_ptr<osg::Geometry> leaning = Quad(extent, 5);
    osg::ref_ptr<osg::Vec3Array> lean = new osg::Vec3Array(1);
    (*lean)[0] = osg::Vec3(0.6f, 0, 0.8f);
    leaning->setNormalArray(lean.get(), osg::Array::BIND_OVERALL);
    const TileSummary leant = summarise(*leaning);
    EXPECT_TRUE(leant.withNormals);
    EXPECT_EQ(normalAt(leant, 0, 0), (std::array<int, 3>{76, 0, 102}));
    EXPECT_EQ(normalAt(leant, 64, 64), (std::array<int, 3>{76, 0, 102}));

    // Half one way, half the other, along x: at the sample between them, the mean, shorter
    // than one, as rough ground's is.
    osg::ref_ptr<osg::Geometry> ridge = Plane(extent, 2, [](double, double) { return 0.0; });
    osg::ref_ptr<osg::Vec3Array> sides = new osg::Vec3Array;
    for (int j = 0; j <= 2; ++j)
        for (int i = 0; i <= 2; ++i)
            sides->push_back(i == 0 ? osg::Vec3(-0.6f, 0, 0.8f) : osg::Vec3(0.6f, 0, 0.8f));
    ridge->setNormalArray(sides.get(), osg::Array::BIND_PER_VERTEX);
    const TileSummary ridged = summarise(*ridge);
    // Normals run from -0.6 at x = 0 to 0.6 at x = 20 and stay there: a quarter of the way, x
    // is -0.3; past the middle, 0.6; the upward component 0.8 throughout.
    EXPECT_NEAR(normalAt(ridged, 8, 32)[0], -0.3 * 127, 2);
    EXPECT_EQ(normalAt(ridged, 48, 32), (std::array<int, 3>{76, 0, 102}));

    // Turned upside down by a transform, its normals point down.
    osg::ref_ptr<osg::MatrixTransform> flipped =
        new osg::MatrixTransform(osg::Matrixd::rotate(osg::PI, osg::Vec3d(1, 0, 0)));
    osg::ref_ptr<osg::Geometry> up = Quad(extent, 5);
    osg::ref_ptr<osg::Vec3Array> ups = new osg::Vec3Array(4);
    std::fill(ups->begin(), ups->end(), osg::Vec3(0, 0, 1));
    up->setNormalArray(ups.get(), osg::Array::BIND_PER_VERTEX);
    flipped->addChild(up.get());
    EXPECT_EQ(normalAt(summarise(*flipped), 32, 32), (std::array<int, 3>{0, 0, -127}));
    // Without normals, the default one turns with it.
    osg::ref_ptr<osg::MatrixTransform> flippedBare =
        new osg::MatrixTransform(osg::Matrixd::rotate(osg::PI, osg::Vec3d(1, 0, 0)));
    flippedBare->addChild(Quad(extent, 5).get());
    EXPECT_EQ(normalAt(summarise(*flippedBare), 32, 32), (std::array<int, 3>{0, 0, -127}));
}

// A summary's colours are those the tile is drawn in before the light: its texture's times its
// vertex colours, or its material's, or a viewer's default grey (0.8).
TEST(SceneSummary, ItsColoursAreThoseTheTileIsDrawnIn) {
    const auto summarise = [](const osg::Node& scene) {
        SceneSummary made = SummariseScene(scene);
        EXPECT_TRUE(made.summary.has_value());
        return made.summary.value_or(TileSummary{});
    };
    const TileSummary bare = summarise(*Quad(kQuadExtent, 0));
    EXPECT_EQ(ColourAt(bare, 100, 30), (Rgb{204, 204, 204}));
    EXPECT_FALSE(bare.ownColours);

    osg::ref_ptr<osg::Geometry> coloured = Quad(kQuadExtent, 0);
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(1);
    (*colours)[0] = osg::Vec4(1, 0.5f, 0.25f, 1);
    coloured->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    const TileSummary vertexColoured = summarise(*coloured);
    EXPECT_EQ(ColourAt(vertexColoured, 100, 30), (Rgb{255, 128, 64}));
    EXPECT_TRUE(vertexColoured.ownColours);

    // Textured too: the texel times the colour.
    osg::ref_ptr<osg::Geometry> both = Quad(kQuadExtent, 0, MakeTexture(1, 1, [](int, int) {
                                                return Rgb{200, 200, 100};
                                            }));
    both->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    EXPECT_EQ(ColourAt(summarise(*both), 100, 30), (Rgb{200, 100, 25}));

    // A material that does not follow vertex colours: lit, its own diffuse colour shows.
    osg::ref_ptr<osg::Geometry> painted = Quad(kQuadExtent, 0);
    painted->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.2f, 0.4f, 0.6f, 1));
    painted->getOrCreateStateSet()->setAttributeAndModes(material.get());
    const TileSummary inMaterial = summarise(*painted);
    EXPECT_EQ(ColourAt(inMaterial, 100, 30), (Rgb{51, 102, 153}));
    EXPECT_FALSE(inMaterial.ownColours);
    // Unlit, a viewer draws its vertex colours.
    painted->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    EXPECT_EQ(ColourAt(summarise(*painted), 100, 30), (Rgb{255, 128, 64}));
}

// The finer file a production tile's range names is a pipe with no writer: were it opened,
// the summary would wait on it forever. Windows has no pipes among its files: there it is a
// scene of its own, higher and of another colour, which would change the summary were it read.
TEST(SceneSummary, APagedTileGivesItsInlineChildAndNeverOpensTheFilesItsRangesName) {
    const fs::path dir = fs::temp_directory_path() /
                         ("brindle-scene-summary-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir / "Data");
    const fs::path finer = dir / "Data" / "Tile_L18.osgb";
#ifdef _WIN32
    const auto blue = [](int, int) { return Rgb{0, 0, 255}; };
    ASSERT_TRUE(
        osgDB::writeNodeFile(*Quad(kQuadExtent, 50, MakeTexture(4, 4, blue)), finer.string()));
#else
    ASSERT_EQ(mkfifo(finer.c_str(), 0600), 0);
#endif
    const osg::ref_ptr<osg::Geometry> quad =
        Quad(kQuadExtent, 3, MakeTexture(4, 4, QuadrantColour));
    osg::ref_ptr<osg::PagedLOD> root = new osg::PagedLOD;
    root->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    root->setDatabasePath(dir.string() + "/");
    root->addChild(quad.get(), 0, 400);
    root->setFileName(1, "Data/Tile_L18.osgb");
    root->setRange(1, 400, 1e30f);
    const SceneSummary paged = SummariseScene(*root);
    const SceneSummary alone = SummariseScene(*quad);
    fs::remove_all(dir);
    ASSERT_TRUE(paged.summary.has_value());
    ASSERT_TRUE(alone.summary.has_value());
    ExpectSame(*paged.summary, *alone.summary);
}

TEST(SceneSummary, NestedTransformsAreApplied) {
    // Scaled by 2 and turned a quarter about z, then moved: (x, y) -> (1000 - 2y, 2000 + 2x).
    osg::ref_ptr<osg::PositionAttitudeTransform> turn = new osg::PositionAttitudeTransform;
    turn->setScale(osg::Vec3d(2, 2, 2));
    turn->setAttitude(osg::Quat(osg::PI_2, osg::Vec3d(0, 0, 1)));
    turn->addChild(Quad(Extent{0, 0, 10, 20}, 4, MakeTexture(4, 4, QuadrantColour)).get());
    osg::ref_ptr<osg::MatrixTransform> move =
        new osg::MatrixTransform(osg::Matrixd::translate(1000, 2000, 50));
    move->addChild(turn.get());
    const SceneSummary made = SummariseScene(*move);
    ASSERT_TRUE(made.summary.has_value());
    const TileSummary& summary = *made.summary;
    EXPECT_NEAR(summary.extent.minX, 960, 1e-9);
    EXPECT_NEAR(summary.extent.maxX, 1000, 1e-9);
    EXPECT_NEAR(summary.extent.minY, 2000, 1e-9);
    EXPECT_NEAR(summary.extent.maxY, 2020, 1e-9);
    EXPECT_NEAR(summary.Height(30, 30), 58, 1e-6);
    EXPECT_EQ(Covered(summary), kPixels * kPixels);
    // The texture's u now runs up the block's y, its v down the block's x.
    EXPECT_EQ(ColourAt(summary, 255, 0), Drawn(QuadrantColour(0, 0)));
    EXPECT_EQ(ColourAt(summary, 255, 255), Drawn(QuadrantColour(3, 0)));
    EXPECT_EQ(ColourAt(summary, 0, 0), Drawn(QuadrantColour(0, 3)));
}

TEST(SceneSummary, ALevelOfDetailGivesItsCoarsestChild) {
    for (const auto mode : {osg::LOD::DISTANCE_FROM_EYE_POINT, osg::LOD::PIXEL_SIZE_ON_SCREEN}) {
        SCOPED_TRACE(mode);
        const bool bySize = mode == osg::LOD::PIXEL_SIZE_ON_SCREEN;
        osg::ref_ptr<osg::LOD> lod = new osg::LOD;
        lod->setRangeMode(mode);
        // The fine child first, the coarse one second: drawn near, or large on screen, the fine.
        lod->addChild(Quad(kQuadExtent, 10).get(), bySize ? 300.0f : 0.0f, bySize ? 1e30f : 100.0f);
        lod->addChild(Quad(kQuadExtent, 1).get(), bySize ? 0.0f : 100.0f, bySize ? 300.0f : 1e6f);
        const SceneSummary made = SummariseScene(*lod);
        ASSERT_TRUE(made.summary.has_value());
        EXPECT_EQ(made.triangles, 2u);
        ExpectFlat(*made.summary, 1);
    }
}

TEST(SceneSummary, TrianglesWithoutFiniteCornersOrBeyondTheirVerticesAreSkipped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const osg::ref_ptr<osg::Geometry> clean =
        Quad(kQuadExtent, 2, MakeTexture(4, 4, QuadrantColour));
    const osg::ref_ptr<osg::Geometry> odd = Quad(kQuadExtent, 2, MakeTexture(4, 4, QuadrantColour));
    auto* vertices = static_cast<osg::Vec3Array*>(odd->getVertexArray());
    vertices->push_back(osg::Vec3(520, 3010, nan));
    vertices->push_back(osg::Vec3(600, 3010, 2));
    vertices->push_back(osg::Vec3(600, 3100, 2));
    // One with a corner not a number, one past the vertices, one standing on edge, and a strip
    // reaching past them.
    osg::ref_ptr<osg::DrawElementsUShort> extra = new osg::DrawElementsUShort(GL_TRIANGLES);
    for (const unsigned short v : {4, 5, 6, 5, 6, 99, 0, 1, 1})
        extra->push_back(v);
    odd->addPrimitiveSet(extra.get());
    odd->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLE_STRIP, 6, 40));
    const SceneSummary made = SummariseScene(*odd);
    ASSERT_TRUE(made.summary.has_value());
    EXPECT_EQ(made.triangles, 2u + 3 + 38);
    EXPECT_EQ(made.skipped, 3u + 38);
    ExpectSame(*made.summary, *SummariseScene(*clean).summary);

    // Nothing but those: triangles, none to draw.
    osg::ref_ptr<osg::Geometry> onlyOdd = new osg::Geometry;
    onlyOdd->setVertexArray(vertices);
    onlyOdd->addPrimitiveSet(extra.get());
    const SceneSummary none = SummariseScene(*onlyOdd);
    EXPECT_FALSE(none.summary.has_value());
    EXPECT_EQ(none.reason, NoSummaryReason::AllDegenerate);
    EXPECT_EQ(none.triangles, 3u);

    // Empty arrays, or none.
    osg::ref_ptr<osg::Geometry> empty = new osg::Geometry;
    empty->setVertexArray(new osg::Vec3Array);
    empty->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, 3));
    EXPECT_EQ(SummariseScene(*empty).reason, NoSummaryReason::AllDegenerate);
    empty->setVertexArray(nullptr);
    EXPECT_EQ(SummariseScene(*empty).reason, NoSummaryReason::AllDegenerate);
}

TEST(SceneSummary, ASceneWithoutTrianglesTooManyOrABadExtentGivesItsReason) {
    osg::ref_ptr<osg::Group> group = new osg::Group;
    group->addChild(new osg::Geode);
    osg::ref_ptr<osg::Geometry> lines = new osg::Geometry;
    lines->setVertexArray(new osg::Vec3Array(4));
    lines->addPrimitiveSet(new osg::DrawArrays(GL_LINES, 0, 4));
    group->addChild(lines.get());
    const SceneSummary none = SummariseScene(*group);
    EXPECT_FALSE(none.summary.has_value());
    EXPECT_EQ(none.reason, NoSummaryReason::NoTriangles);
    EXPECT_EQ(none.triangles, 0u);

    SceneSummaryOptions few;
    few.maxTriangles = 1;
    const SceneSummary capped = SummariseScene(*Quad(kQuadExtent, 0), few);
    EXPECT_FALSE(capped.summary.has_value());
    EXPECT_EQ(capped.reason, NoSummaryReason::Capped);
    few.maxTriangles = 2;
    EXPECT_TRUE(SummariseScene(*Quad(kQuadExtent, 0), few).summary.has_value());

    for (const Extent& bad : {Extent{1, 1, 0, 0}, Extent{0, 0, 0, 5},
                              Extent{0, 0, std::numeric_limits<double>::infinity(), 5}}) {
        SceneSummaryOptions options;
        options.extent = bad;
        EXPECT_EQ(SummariseScene(*Quad(kQuadExtent, 0), options).reason,
                  NoSummaryReason::UnusableExtent);
    }
}

// A surface drawn a few times over is summarised; one drawn hundreds of times over, as a
// damaged or hostile tile may be, costs its worker a bounded amount of work and gives no
// summary.
TEST(SceneSummary, LayersUponLayersAreCappedByTheirWork) {
    const auto layers = [](int count) {
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        for (int layer = 0; layer < count; ++layer)
            geode->addDrawable(Quad(kQuadExtent, static_cast<float>(layer)).get());
        return geode;
    };
    const SceneSummary some = SummariseScene(*layers(300));
    ASSERT_TRUE(some.summary.has_value());
    ExpectFlat(*some.summary, 299);
    const SceneSummary many = SummariseScene(*layers(600));
    EXPECT_FALSE(many.summary.has_value());
    EXPECT_EQ(many.reason, NoSummaryReason::Capped);
}

TEST(SceneSummary, AGivenExtentIsSummarisedAsItLies) {
    // The quad's right half and as much again beyond it.
    SceneSummaryOptions options;
    options.extent = Extent{532, 3000, 596, 3032};
    const SceneSummary made =
        SummariseScene(*Quad(kQuadExtent, 6, MakeTexture(4, 4, QuadrantColour)), options);
    ASSERT_TRUE(made.summary.has_value());
    const TileSummary& summary = *made.summary;
    EXPECT_EQ(summary.extent.minX, 532);
    EXPECT_EQ(summary.extent.maxX, 596);
    EXPECT_EQ(Covered(summary), kPixels * kPixels / 2);
    for (int j = 0; j < kPixels; ++j)
        for (int i = 0; i < kPixels; ++i) {
            ASSERT_EQ(summary.Coverage(i, j), i < 128 ? 255 : 0) << i << " " << j;
            const Rgb expected = i < 128 ? Drawn(QuadrantColour(2 + i / 64, j / 64)) : Rgb{0, 0, 0};
            ASSERT_EQ(ColourAt(summary, i, j), expected) << i << " " << j;
        }
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i)
            ASSERT_EQ(IsHeight(summary.Height(i, j)), i <= 32) << i << " " << j;
}

// Slivers at every angle and winding, some reaching past the extent: every pixel centre and
// height sample clearly inside a triangle takes the highest one there, and every point clearly
// outside all of them stays empty. Points within a hair of an edge may go either way.
TEST(SceneSummary, ThinTrianglesCoverExactlyThePointsInsideThem) {
    const Extent extent{1000, 2000, 1064, 2032};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> x(990, 1074), y(1990, 2042), z(0, 50), nudge(-3, 3);
    struct Corners {
        osg::Vec3d a, b, c;
    };
    std::vector<Corners> triangles;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int t = 0; t < 60; ++t) {
        const osg::Vec3d a(x(random), y(random), z(random));
        const osg::Vec3d b(x(random), y(random), a.z());
        // The third corner near the line through the other two: long, thin, either winding.
        const double along = std::uniform_real_distribution<double>(0, 1)(random);
        const osg::Vec3d c(a.x() + along * (b.x() - a.x()) + nudge(random),
                           a.y() + along * (b.y() - a.y()) + nudge(random), a.z());
        triangles.push_back({a, b, c});
        for (const osg::Vec3d& corner : {a, b, c})
            vertices->push_back(osg::Vec3(corner));
    }
    osg::ref_ptr<osg::Geometry> soup = new osg::Geometry;
    soup->setVertexArray(vertices.get());
    soup->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, 180));
    // The corners as the scene holds them, in floats.
    for (std::size_t t = 0; t < triangles.size(); ++t)
        triangles[t] = {osg::Vec3d((*vertices)[3 * t]), osg::Vec3d((*vertices)[3 * t + 1]),
                        osg::Vec3d((*vertices)[3 * t + 2])};

    SceneSummaryOptions options;
    options.extent = extent;
    const SceneSummary made = SummariseScene(*soup, options);
    ASSERT_TRUE(made.summary.has_value());
    const TileSummary& summary = *made.summary;

    // The highest triangle clearly over a point, and whether any touches it at all.
    constexpr double kHair = 1e-6;
    const auto over = [&](double px, double py, double& highest, bool& touched) {
        highest = -HUGE_VAL;
        touched = false;
        for (const Corners& t : triangles) {
            const double det = (t.b.x() - t.a.x()) * (t.c.y() - t.a.y()) -
                               (t.c.x() - t.a.x()) * (t.b.y() - t.a.y());
            if (std::abs(det) < 1e-3)
                continue;
            const double wb =
                ((px - t.a.x()) * (t.c.y() - t.a.y()) - (t.c.x() - t.a.x()) * (py - t.a.y())) / det;
            const double wc =
                ((t.b.x() - t.a.x()) * (py - t.a.y()) - (px - t.a.x()) * (t.b.y() - t.a.y())) / det;
            const double least = std::min({1 - wb - wc, wb, wc});
            if (least > -kHair)
                touched = true;
            if (least > kHair)
                highest = std::max(highest, t.a.z());
        }
    };
    int inside = 0;
    for (int j = 0; j < kPixels; ++j)
        for (int i = 0; i < kPixels; ++i) {
            double highest = 0;
            bool touched = false;
            over(extent.minX + (i + 0.5) * extent.Width() / kPixels,
                 extent.minY + (j + 0.5) * extent.Height() / kPixels, highest, touched);
            if (std::isfinite(highest)) {
                ++inside;
                ASSERT_EQ(summary.Coverage(i, j), 255) << i << " " << j;
            } else if (!touched) {
                ASSERT_EQ(summary.Coverage(i, j), 0) << i << " " << j;
            }
        }
    EXPECT_GT(inside, 1000);
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i) {
            double highest = 0;
            bool touched = false;
            over(extent.minX + i * extent.Width() / (kSamples - 1),
                 extent.minY + j * extent.Height() / (kSamples - 1), highest, touched);
            if (std::isfinite(highest)) {
                ASSERT_FLOAT_EQ(summary.Height(i, j), static_cast<float>(highest)) << i << " " << j;
            } else if (!touched) {
                ASSERT_FALSE(IsHeight(summary.Height(i, j))) << i << " " << j;
            }
        }
}

TEST(SceneSummary, ASceneSummaryMakesACoarseMesh) {
    const Extent extent{100, 200, 164, 264};
    const auto tilt = [](double x, double y) { return 0.1 * x + 0.3 * y; };
    const osg::ref_ptr<osg::Geometry> plane = Plane(extent, 16, tilt);
    plane->getOrCreateStateSet()->setTextureAttributeAndModes(
        0, MakeTexture(4, 4, QuadrantColour).get());
    osg::ref_ptr<osg::Vec2Array> uvs = new osg::Vec2Array;
    for (const osg::Vec3& v : *static_cast<osg::Vec3Array*>(plane->getVertexArray()))
        uvs->push_back(osg::Vec2((v.x() - 100) / 64, (v.y() - 200) / 64));
    plane->setTexCoordArray(0, uvs.get());
    const SceneSummary made = SummariseScene(*plane);
    ASSERT_TRUE(made.summary.has_value());
    const osg::ref_ptr<osg::Geode> mesh = BuildCoarseMesh(*made.summary);
    ASSERT_EQ(mesh->getNumDrawables(), 1u);
    const osg::Geometry* geometry = mesh->getDrawable(0)->asGeometry();
    ASSERT_NE(geometry, nullptr);
    const auto* vertices = dynamic_cast<const osg::Vec3Array*>(geometry->getVertexArray());
    ASSERT_NE(vertices, nullptr);
    const osg::PrimitiveSet* surface = geometry->getPrimitiveSet(kCoarseSurface);
    ASSERT_NE(surface, nullptr);
    // A plane simplifies to a handful of the grid's 8192 triangles, each corner on the plane.
    EXPECT_GE(surface->getNumIndices(), 6u);
    EXPECT_LE(surface->getNumIndices(), 3u * 32);
    for (unsigned k = 0; k < surface->getNumIndices(); ++k) {
        const osg::Vec3& v = (*vertices)[surface->index(k)];
        EXPECT_NEAR(v.z(), tilt(v.x(), v.y()), 1e-3);
    }
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        geometry->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_NE(texture, nullptr);
    const osg::Image* image = texture->getImage();
    ASSERT_NE(image, nullptr);
    const std::uint8_t* corner = image->data(kPixels - 1, 0);
    EXPECT_EQ((Rgb{corner[0], corner[1], corner[2]}), QuadrantColour(3, 0));
}

} // namespace
} // namespace brindle
