// A tile file's own level as binary glTF, read back with the glTF library and compared with the
// scene as the scene-graph library's own triangle functor draws it.
#include "content_scenes.h"
#include "content_truth.h"

#include "export/tiles3d/kept_image_bytes.h"
#include "export/tiles3d/tile_content.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Material>
#include <osgDB/ReadFile>

#include <cmath>

namespace brindle {
namespace {

using test::ReadBack;
using test::ReadGlb;
using test::SceneTriangles;
using test::WorldTriangle;

osg::ref_ptr<osg::Node> ReadTile(const std::filesystem::path& file) {
    // As a converting worker reads them: the embedded images keep their bytes.
    EXPECT_TRUE(KeepEmbeddedImageBytes());
    osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(file.string());
    EXPECT_TRUE(scene) << file;
    return scene;
}

// Every triangle of the content is the scene's, in order, each corner within 0.1 mm.
void ExpectSameTriangles(const std::vector<WorldTriangle>& scene,
                         const std::vector<WorldTriangle>& content) {
    ASSERT_EQ(content.size(), scene.size());
    double worst = 0.0;
    for (std::size_t t = 0; t < scene.size(); ++t)
        for (int k = 0; k < 3; ++k)
            worst = std::max(worst, (content[t].corners[k] - scene[t].corners[k]).length());
    EXPECT_LT(worst, 1e-4);
}

Result<TileContent> ContentOf(const osg::Node& scene, const ContentOptions& options = {}) {
    Result<TileContent> content = MakeTileContent(scene, options);
    EXPECT_TRUE(content.ok()) << content.error().message();
    return content;
}

TEST(TileContent, EachFileOfAPagedTileGivesItsOwnLevelWithItsJpegAsWritten) {
    test::TempDir dir;
    const std::filesystem::path root = test::WritePagedSampleTile(dir / "tile");
    std::size_t coarser = 0;
    for (const char* name : {"root.osgb", "root_L1.osgb", "root_L2.osgb"}) {
        SCOPED_TRACE(name);
        const std::filesystem::path file = root.parent_path() / name;
        const osg::ref_ptr<osg::Node> scene = ReadTile(file);
        ASSERT_TRUE(scene);
        const Result<TileContent> content = ContentOf(*scene);
        ASSERT_TRUE(content.ok());
        const std::vector<WorldTriangle> truth = SceneTriangles(*scene);
        const ReadGlb glb = ReadBack(content->glb);
        ASSERT_TRUE(glb.loaded) << glb.error;
        ExpectSameTriangles(truth, glb.triangles);
        EXPECT_EQ(content->triangles, truth.size());
        // Each level four times the triangles of the one above: none of a finer file's.
        if (coarser != 0) {
            EXPECT_EQ(content->triangles, 4 * coarser);
        }
        coarser = content->triangles;

        // The light is in the texture: no normals, shown unlit.
        EXPECT_TRUE(glb.extensionsUsed.count("KHR_materials_unlit"));
        for (std::size_t p = 0; p < glb.primitiveUnlit.size(); ++p) {
            EXPECT_TRUE(glb.primitiveUnlit[p]);
            EXPECT_TRUE(glb.primitiveTextured[p]);
        }
        for (const WorldTriangle& triangle : glb.triangles)
            EXPECT_TRUE(triangle.normals.empty());

        // The JPEG the tile embeds, byte for byte as the file holds it.
        ASSERT_EQ(glb.images.size(), 1u);
        EXPECT_EQ(glb.mimeTypes[0], "image/jpeg");
        EXPECT_EQ(content->keptImages, 1u);
        ASSERT_GT(glb.images[0].size(), 100u);
        EXPECT_NE(test::ReadBytes(file).find(glb.images[0]), std::string::npos);
    }
}

TEST(TileContent, PlainTileKeepsNormalsAndTextureCoordinatesAndEncodesRawPixels) {
    test::TempDir dir;
    const std::filesystem::path file = test::WritePlainSampleTile(dir / "tile");
    const osg::ref_ptr<osg::Node> scene = ReadTile(file);
    ASSERT_TRUE(scene);
    const Result<TileContent> content = ContentOf(*scene);
    ASSERT_TRUE(content.ok());
    const std::vector<WorldTriangle> truth = SceneTriangles(*scene);
    const ReadGlb glb = ReadBack(content->glb);
    ASSERT_TRUE(glb.loaded) << glb.error;
    ExpectSameTriangles(truth, glb.triangles);
    EXPECT_FALSE(glb.extensionsUsed.count("KHR_materials_unlit"));
    ASSERT_EQ(glb.images.size(), 1u);
    EXPECT_EQ(glb.mimeTypes[0], "image/jpeg");
    EXPECT_EQ(content->keptImages, 0u);
    EXPECT_EQ(content->vertices, 21u * 21u);

    // The sample's texture spans its square: s and t run with x and y from corner to corner.
    const osg::BoundingBoxd& box = content->bounds;
    double worstTexCoord = 0.0;
    for (const WorldTriangle& triangle : glb.triangles) {
        ASSERT_EQ(triangle.normals.size(), 3u);
        ASSERT_EQ(triangle.texCoords.size(), 3u);
        const osg::Vec3d face = (triangle.corners[1] - triangle.corners[0]) ^
                                (triangle.corners[2] - triangle.corners[0]);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(triangle.normals[k].length(), 1.0, 1e-5);
            // The terrain's smoothed normals lean the face's way.
            EXPECT_GT(triangle.normals[k] * face, 0.0);
            const osg::Vec3d& p = triangle.corners[k];
            worstTexCoord = std::max({worstTexCoord,
                                      std::abs(triangle.texCoords[k].x() -
                                               (p.x() - box.xMin()) / (box.xMax() - box.xMin())),
                                      std::abs(triangle.texCoords[k].y() -
                                               (p.y() - box.yMin()) / (box.yMax() - box.yMin()))});
        }
    }
    EXPECT_LT(worstTexCoord, 1e-5);
}

TEST(TileContent, EveryPrimitiveKindBecomesTrianglesUnderItsTransform) {
    const osg::ref_ptr<osg::Node> scene = test::EveryPrimitiveKind();
    const Result<TileContent> content = ContentOf(*scene);
    ASSERT_TRUE(content.ok());
    const std::vector<WorldTriangle> truth = SceneTriangles(*scene);
    ASSERT_EQ(truth.size(), test::kEveryPrimitiveKindTriangles);
    const ReadGlb glb = ReadBack(content->glb);
    ASSERT_TRUE(glb.loaded) << glb.error;
    ExpectSameTriangles(truth, glb.triangles);
    // Far from the origin, as projected coordinates are: the centre holds the magnitude.
    EXPECT_NEAR(content->centre.x(), 512345.678, 20.0);
    EXPECT_NEAR(content->centre.y(), 3400000.3, 20.0);
    ASSERT_EQ(glb.primitiveColoured.size(), 1u);
    EXPECT_TRUE(glb.primitiveColoured[0]);
    EXPECT_FALSE(glb.primitiveTextured[0]);
    EXPECT_TRUE(glb.primitiveUnlit[0]); // no normals
    // The box holds every corner.
    const auto& b = content->box;
    for (const WorldTriangle& triangle : truth)
        for (const osg::Vec3d& p : triangle.corners) {
            EXPECT_LE(std::abs(p.x() - b[0]), b[3] + 1e-6);
            EXPECT_LE(std::abs(p.y() - b[1]), b[7] + 1e-6);
            EXPECT_LE(std::abs(p.z() - b[2]), b[11] + 1e-6);
        }
}

TEST(TileContent, ImagesAreEmbeddedOnceAndPngWhereSeeThrough) {
    const osg::ref_ptr<osg::Image> image = test::TestImage(32, false);
    {
        const Result<TileContent> content =
            ContentOf(*test::TwoTexturedQuads(image.get(), image.get()));
        ASSERT_TRUE(content.ok());
        EXPECT_EQ(ReadBack(content->glb).images.size(), 1u);
    }
    {
        // The same pixels in two images encode to the same bytes.
        const osg::ref_ptr<osg::Image> copy = test::TestImage(32, false);
        const Result<TileContent> content =
            ContentOf(*test::TwoTexturedQuads(image.get(), copy.get()));
        ASSERT_TRUE(content.ok());
        EXPECT_EQ(ReadBack(content->glb).images.size(), 1u);
    }
    {
        const osg::ref_ptr<osg::Image> seeThrough = test::TestImage(32, true);
        const Result<TileContent> content =
            ContentOf(*test::TwoTexturedQuads(image.get(), seeThrough.get()));
        ASSERT_TRUE(content.ok());
        const ReadGlb glb = ReadBack(content->glb);
        ASSERT_EQ(glb.mimeTypes.size(), 2u);
        EXPECT_EQ(glb.mimeTypes[0], "image/jpeg");
        EXPECT_EQ(glb.mimeTypes[1], "image/png");
    }
}

TEST(TileContent, QuantisedPositionsLandWithinAStepOfTheGrid) {
    test::TempDir dir;
    const std::filesystem::path file = test::WritePlainSampleTile(dir / "tile");
    const osg::ref_ptr<osg::Node> scene = ReadTile(file);
    ASSERT_TRUE(scene);
    ContentOptions options;
    options.quantize = true;
    const Result<TileContent> plain = ContentOf(*scene);
    const Result<TileContent> content = ContentOf(*scene, options);
    ASSERT_TRUE(plain.ok() && content.ok());
    EXPECT_LT(content->glb.size(), plain->glb.size());
    const ReadGlb glb = ReadBack(content->glb);
    ASSERT_TRUE(glb.loaded) << glb.error;
    EXPECT_TRUE(glb.extensionsUsed.count("KHR_mesh_quantization"));
    const std::vector<WorldTriangle> truth = SceneTriangles(*scene);
    ASSERT_EQ(glb.triangles.size(), truth.size());
    // Half a step of 1/65535 of the tile's extent on each axis, and float rounding.
    const osg::Vec3d extent = content->bounds._max - content->bounds._min;
    const double tolerance = 0.5 * extent.length() / 65535.0 + 1e-4;
    const ReadGlb unquantised = ReadBack(plain->glb);
    for (std::size_t t = 0; t < truth.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            EXPECT_LT((glb.triangles[t].corners[k] - truth[t].corners[k]).length(), tolerance);
            EXPECT_LT((glb.triangles[t].normals[k] - unquantised.triangles[t].normals[k]).length(),
                      1e-4);
            EXPECT_LT(
                (glb.triangles[t].texCoords[k] - unquantised.triangles[t].texCoords[k]).length(),
                1e-4);
        }
}

TEST(TileContent, ATextureWithoutCoordinatesIsNotEmbeddedAndByteColoursAreKept) {
    const osg::ref_ptr<osg::Image> image = test::TestImage(16, false);
    const osg::ref_ptr<osg::Node> scene = test::TwoTexturedQuads(image.get(), image.get());
    osg::Geode* geode = scene->asGeode();
    ASSERT_NE(geode, nullptr);
    for (unsigned i = 0; i < geode->getNumDrawables(); ++i) {
        osg::Geometry* quad = geode->getDrawable(i)->asGeometry();
        quad->setTexCoordArray(0, nullptr);
        osg::ref_ptr<osg::Vec4ubArray> colours = new osg::Vec4ubArray(4);
        for (osg::Vec4ub& colour : *colours)
            colour.set(255, 0, 51, 255);
        quad->setColorArray(colours, osg::Array::BIND_PER_VERTEX);
    }
    const Result<TileContent> content = ContentOf(*scene);
    ASSERT_TRUE(content.ok());
    EXPECT_EQ(content->images, 0u);
    const ReadGlb glb = ReadBack(content->glb);
    ASSERT_TRUE(glb.loaded) << glb.error;
    EXPECT_TRUE(glb.images.empty());
    for (std::size_t p = 0; p < glb.primitiveColoured.size(); ++p) {
        EXPECT_TRUE(glb.primitiveColoured[p]);
        EXPECT_FALSE(glb.primitiveTextured[p]);
    }
}

TEST(TileContent, UntexturedSurfacesTakeTheirMaterialAndLightingFromTheirStateSets) {
    // A lit quad with normals and a red material, and the same quad with the lighting off.
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    for (const bool lit : {true, false}) {
        osg::ref_ptr<osg::Geometry> quad = osg::createTexturedQuadGeometry(
            osg::Vec3(lit ? 0.0f : 20.0f, 0, 0), osg::Vec3(10, 0, 0), osg::Vec3(0, 10, 0));
        quad->setTexCoordArray(0, nullptr);
        quad->setColorArray(nullptr);
        osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array(4);
        for (osg::Vec3& n : *normals)
            n.set(0, 0, 1);
        quad->setNormalArray(normals, osg::Array::BIND_PER_VERTEX);
        osg::ref_ptr<osg::Material> material = new osg::Material;
        material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.8f, 0.1f, 0.2f, 1.0f));
        quad->getOrCreateStateSet()->setAttribute(material);
        if (!lit)
            quad->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
        geode->addDrawable(quad);
    }
    const Result<TileContent> content = ContentOf(*geode);
    ASSERT_TRUE(content.ok());
    const ReadGlb glb = ReadBack(content->glb);
    ASSERT_TRUE(glb.loaded) << glb.error;
    ASSERT_EQ(glb.primitiveUnlit.size(), 2u);
    EXPECT_FALSE(glb.primitiveUnlit[0]);
    EXPECT_TRUE(glb.primitiveUnlit[1]);
    EXPECT_TRUE(glb.extensionsUsed.count("KHR_materials_unlit"));
    const std::vector<double> red{0.8, 0.1, 0.2, 1.0};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(glb.primitiveBaseColour[0].at(i), red[i], 1e-6);
    for (const WorldTriangle& triangle : glb.triangles) {
        if (triangle.corners[0].x() > 15.0)
            continue;
        ASSERT_EQ(triangle.normals.size(), 3u);
        for (const osg::Vec3d& n : triangle.normals)
            EXPECT_NEAR((n - osg::Vec3d(0, 0, 1)).length(), 0.0, 1e-6);
    }
}

} // namespace
} // namespace brindle
