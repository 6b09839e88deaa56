// Scenes a damaged or odd tile gives: no content with its reason, or the odd parts left out,
// never a crash.
#include "content_scenes.h"
#include "content_truth.h"

#include "export/tiles3d/tile_content.h"

#include <gtest/gtest.h>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/PagedLOD>
#include <osg/Texture2D>

#include <limits>

namespace brindle {
namespace {

osg::ref_ptr<osg::Geode> GeodeOf(osg::Geometry* geometry) {
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    return geode;
}

// A strip of `count` unit squares along x, two triangles each, as indexed triangles.
osg::ref_ptr<osg::Geometry> Squares(int count) {
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int i = 0; i <= count; ++i) {
        vertices->push_back(osg::Vec3(i, 0, 0));
        vertices->push_back(osg::Vec3(i, 1, 0));
    }
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (unsigned i = 0; i < static_cast<unsigned>(count); ++i)
        for (const unsigned v : {2 * i, 2 * i + 2, 2 * i + 3, 2 * i, 2 * i + 3, 2 * i + 1})
            triangles->push_back(v);
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices);
    geometry->addPrimitiveSet(triangles);
    return geometry;
}

std::error_code ErrorOf(const osg::Node& scene, const ContentOptions& options = {}) {
    const Result<TileContent> content = MakeTileContent(scene, options);
    return content.ok() ? std::error_code() : content.error();
}

TEST(HostileContent, SceneWithoutTrianglesHasNoContent) {
    EXPECT_EQ(ErrorOf(*osg::ref_ptr<osg::Group>(new osg::Group)), ContentError::NoTriangles);
    // Its geometry only in the finer file its range names, none of it held.
    osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD;
    paged->setFileName(0, "finer.osgb");
    paged->setRange(0, 0.0f, 1e30f);
    EXPECT_EQ(ErrorOf(*paged), ContentError::NoTriangles);
    // Lines and points, and a geometry without vertices.
    osg::ref_ptr<osg::Geometry> lines = Squares(2);
    lines->setPrimitiveSetList({new osg::DrawArrays(GL_LINES, 0, 4)});
    EXPECT_EQ(ErrorOf(*GeodeOf(lines)), ContentError::NoTriangles);
    osg::ref_ptr<osg::Geometry> empty = new osg::Geometry;
    empty->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, 30));
    EXPECT_EQ(ErrorOf(*GeodeOf(empty)), ContentError::NoTriangles);
    // Only triangles without area.
    osg::ref_ptr<osg::Geometry> flat = Squares(3);
    for (auto& v : *static_cast<osg::Vec3Array*>(flat->getVertexArray()))
        v.y() = 0.0f;
    EXPECT_EQ(ErrorOf(*GeodeOf(flat)), ContentError::NoTriangles);
}

TEST(HostileContent, TrianglesWithBadCornersAreLeftOutAndCounted) {
    osg::ref_ptr<osg::Geometry> geometry = Squares(4); // 8 triangles
    auto& vertices = *static_cast<osg::Vec3Array*>(geometry->getVertexArray());
    vertices[0].x() = std::numeric_limits<float>::quiet_NaN(); // in 2 triangles
    auto& indices = *static_cast<osg::DrawElementsUInt*>(geometry->getPrimitiveSet(0));
    indices[7] = 1000000;     // one triangle names a vertex beyond the array
    indices[9] = indices[10]; // one has two corners the same
    // An array drawn past its end.
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLE_STRIP, 6, 1000));
    const Result<TileContent> content = MakeTileContent(*GeodeOf(geometry));
    ASSERT_TRUE(content.ok()) << content.error().message();
    // The strip's first triangles use vertices 6 to 9, which exist: 2 triangles.
    EXPECT_EQ(content->triangles, 4u + 2u);
    EXPECT_EQ(content->skippedTriangles, 4u + 996u);
    const test::ReadGlb glb = test::ReadBack(content->glb);
    ASSERT_TRUE(glb.loaded) << glb.error;
    EXPECT_EQ(glb.triangles.size(), 6u);
    for (const test::WorldTriangle& triangle : glb.triangles)
        for (const osg::Vec3d& p : triangle.corners)
            EXPECT_TRUE(p.valid());
}

TEST(HostileContent, BeyondTheLimitsGivesNoContentWithItsReason) {
    ContentOptions few;
    few.maxTriangles = 10;
    EXPECT_EQ(ErrorOf(*GeodeOf(Squares(5)), few), std::error_code());
    EXPECT_EQ(ErrorOf(*GeodeOf(Squares(6)), few), ContentError::Capped);
    // A count far beyond the vertices does not make the walk run.
    osg::ref_ptr<osg::Geometry> huge = Squares(1);
    huge->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLES, 0, 2'000'000'000));
    EXPECT_EQ(ErrorOf(*GeodeOf(huge)), ContentError::Capped);
    // Nesting deeper than any tile's.
    osg::ref_ptr<osg::Group> top = new osg::Group;
    osg::Group* group = top.get();
    for (int i = 0; i < 1000; ++i) {
        osg::ref_ptr<osg::Group> child = new osg::Group;
        group->addChild(child);
        group = child.get();
    }
    group->addChild(GeodeOf(Squares(1)));
    EXPECT_EQ(ErrorOf(*top), ContentError::Capped);
}

TEST(HostileContent, TexturesThatCannotBeEmbeddedLeaveTheSurfaceUntextured) {
    // Too large for the limit, pixels of a kind not encoded, a size without pixels.
    const osg::ref_ptr<osg::Image> large = test::TestImage(64, false);
    osg::ref_ptr<osg::Image> floats = new osg::Image;
    floats->allocateImage(8, 8, 1, GL_RGB, GL_FLOAT);
    osg::ref_ptr<osg::Image> hollow = new osg::Image;
    hollow->setImage(100000, 100000, 1, GL_RGB, GL_RGB, GL_UNSIGNED_BYTE, nullptr,
                     osg::Image::NO_DELETE);
    osg::ref_ptr<osg::Image> hollowSmall = new osg::Image;
    hollowSmall->setImage(16, 16, 1, GL_RGB, GL_RGB, GL_UNSIGNED_BYTE, nullptr,
                          osg::Image::NO_DELETE);
    ContentOptions options;
    options.maxTextureEdge = 32;
    for (osg::Image* image : {large.get(), floats.get(), hollow.get(), hollowSmall.get()}) {
        const Result<TileContent> content =
            MakeTileContent(*test::TwoTexturedQuads(image, image), options);
        ASSERT_TRUE(content.ok()) << content.error().message();
        EXPECT_EQ(content->images, 0u);
        EXPECT_EQ(content->droppedTextures, 1u);
        const test::ReadGlb glb = test::ReadBack(content->glb);
        ASSERT_TRUE(glb.loaded) << glb.error;
        EXPECT_EQ(glb.triangles.size(), 4u);
        for (const bool textured : glb.primitiveTextured)
            EXPECT_FALSE(textured);
    }
}

} // namespace
} // namespace brindle
