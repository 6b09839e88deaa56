#include "export/overview/top_down_raster.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace brindle {
namespace {

using summary_detail::SceneTriangle;
using summary_detail::TopDownRaster;

SceneTriangle Triangle(osg::Vec3d a, osg::Vec3d b, osg::Vec3d c, osg::Vec3d colour) {
    SceneTriangle triangle;
    triangle.corners = {a, b, c};
    triangle.colours = {colour, colour, colour};
    return triangle;
}

// Over an extent of 256 x 256 units, colour pixel (i, j) has its centre at (i + 0.5, j + 0.5)
// and height sample (i, j) lies at (4i, 4j): the lower left half of the extent, below the line
// x + y = 256, covers the pixels with i + j <= 255 and the samples with i + j <= 64 (those on
// the line too: an edge covers what lies on it).
TEST(TopDownRaster, ATriangleCoversThePixelsAndSamplesUnderIt) {
    TopDownRaster raster(Extent{0, 0, 256, 256});
    // Sloping up to the east: z = x / 2.
    raster.Draw(Triangle({0, 0, 0}, {256, 0, 128}, {0, 256, 0}, {1, 0.4, 0}));
    ASSERT_FALSE(raster.overworked());
    const TileSummary summary = raster.Finish();

    int covered = 0;
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i) {
            const bool under = i + j <= 255;
            covered += summary.Coverage(i, j) != 0 ? 1 : 0;
            ASSERT_EQ(summary.Coverage(i, j), under ? 255 : 0) << i << " " << j;
            const std::uint8_t* rgb = summary.Colour(i, j);
            ASSERT_EQ(rgb[0], under ? 255 : 0) << i << " " << j;
            ASSERT_EQ(rgb[1], under ? 102 : 0) << i << " " << j;
            ASSERT_EQ(rgb[2], 0) << i << " " << j;
        }
    EXPECT_EQ(covered, 256 * 257 / 2);

    int sampled = 0;
    for (int j = 0; j < kSummaryHeightSamples; ++j)
        for (int i = 0; i < kSummaryHeightSamples; ++i) {
            if (i + j <= 64) {
                ++sampled;
                ASSERT_FLOAT_EQ(summary.Height(i, j), 2.0f * i) << i << " " << j;
            } else {
                ASSERT_FALSE(IsHeight(summary.Height(i, j))) << i << " " << j;
            }
        }
    EXPECT_EQ(sampled, 65 * 66 / 2);
    EXPECT_TRUE(summary.lit);
    EXPECT_FALSE(summary.withNormals);
}

// Where triangles overlap, a height sample takes the highest and a pixel the colour of the
// topmost, whichever is drawn first.
TEST(TopDownRaster, TheTopmostSurfaceIsWhatIsSeen) {
    const osg::Vec3d red(1, 0, 0), blue(0, 0, 1);
    for (const bool highFirst : {true, false}) {
        TopDownRaster raster(Extent{0, 0, 256, 256});
        // A whole square at height 10 (blue), and its lower right half at 20 (red) rising to 30.
        const SceneTriangle low1 = Triangle({0, 0, 10}, {256, 0, 10}, {256, 256, 10}, blue);
        const SceneTriangle low2 = Triangle({0, 0, 10}, {256, 256, 10}, {0, 256, 10}, blue);
        const SceneTriangle high = Triangle({0, 0, 20}, {256, 0, 20}, {256, 256, 30}, red);
        if (highFirst)
            raster.Draw(high);
        raster.Draw(low1);
        raster.Draw(low2);
        if (!highFirst)
            raster.Draw(high);
        const TileSummary summary = raster.Finish();
        // Pixel (200, 10) is under the red one (x > y), pixel (10, 200) only under blue.
        EXPECT_EQ(summary.Colour(200, 10)[0], 255);
        EXPECT_EQ(summary.Colour(200, 10)[2], 0);
        EXPECT_EQ(summary.Colour(10, 200)[0], 0);
        EXPECT_EQ(summary.Colour(10, 200)[2], 255);
        // Sample (64, 32) at (256, 128): on the red one's east edge, z = 20 + 10 * 128 / 256.
        EXPECT_FLOAT_EQ(summary.Height(64, 32), 25.0f);
        EXPECT_FLOAT_EQ(summary.Height(0, 64), 10.0f);
        EXPECT_FLOAT_EQ(summary.Height(0, 0), 20.0f);
    }
}

// Lit as most of its triangles are.
TEST(TopDownRaster, ItIsLitAsMostTrianglesAre) {
    TopDownRaster raster(Extent{0, 0, 256, 256});
    SceneTriangle unlit = Triangle({0, 0, 0}, {256, 0, 0}, {0, 256, 0}, {1, 1, 1});
    unlit.lit = false;
    raster.Draw(unlit);
    raster.Draw(unlit);
    raster.Draw(Triangle({0, 0, 0}, {256, 0, 0}, {0, 256, 0}, {1, 1, 1}));
    EXPECT_FALSE(raster.Finish().lit);

    TopDownRaster mostlyLit(Extent{0, 0, 256, 256});
    mostlyLit.Draw(unlit);
    mostlyLit.Draw(Triangle({0, 0, 0}, {256, 0, 0}, {0, 256, 0}, {1, 1, 1}));
    mostlyLit.Draw(Triangle({0, 0, 0}, {256, 0, 0}, {0, 256, 0}, {1, 1, 1}));
    EXPECT_TRUE(mostlyLit.Finish().lit);
}

} // namespace
} // namespace brindle
