// The block's picture for the report, from the overview's top summary: north up, cut to what
// is covered, as wide against high as the ground.
#include "export/overview/top_picture.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

// The picture's pixel (x, y), y from the top.
std::array<int, 3> PixelAt(const ReportImage& picture, int x, int y) {
    const std::size_t at = (static_cast<std::size_t>(y) * picture.width + x) * 3;
    return {picture.rgb[at], picture.rgb[at + 1], picture.rgb[at + 2]};
}

// Paints the summary's pixels [i0, i1) x [j0, j1), fully covered.
void Paint(TileSummary& summary, int i0, int i1, int j0, int j1, std::array<int, 3> rgb) {
    for (int j = j0; j < j1; ++j)
        for (int i = i0; i < i1; ++i) {
            for (int c = 0; c < 3; ++c)
                summary.Colour(i, j)[c] = static_cast<std::uint8_t>(rgb[c]);
            summary.Coverage(i, j) = 255;
        }
}

TEST(TopPicture, ShowsWhatIsCoveredNorthUpAtTheGroundsProportions) {
    // A node of 400 m x 400 m whose tiles cover 200 m east-west and 100 m north-south, south-west
    // of its middle: red in the south, blue in the north.
    TileSummary top;
    top.extent = {1000, 2000, 1400, 2400};
    Paint(top, 0, 128, 0, 32, {200, 0, 0});
    Paint(top, 0, 128, 32, 64, {0, 0, 200});
    const ReportImage picture = PictureFromAbove(top);
    ASSERT_FALSE(picture.empty());
    EXPECT_EQ(picture.width, 128);
    EXPECT_EQ(picture.height, 64);
    ASSERT_EQ(picture.rgb.size(), 128u * 64u * 3u);
    EXPECT_EQ(PixelAt(picture, 5, 2), (std::array<int, 3>{0, 0, 200}));    // north, at the top
    EXPECT_EQ(PixelAt(picture, 120, 61), (std::array<int, 3>{200, 0, 0})); // south, below
}

TEST(TopPicture, TallGroundMakesATallPictureAndUncoveredIsWhite) {
    // Pixels of a wide extent: 64 columns by 128 rows cover 64 * 8 m by 128 * 1 m, wider than
    // high on the ground though the pixels stand taller.
    TileSummary top;
    top.extent = {0, 0, 2048, 256};
    Paint(top, 0, 64, 0, 128, {10, 20, 30});
    Paint(top, 0, 8, 120, 128, {0, 0, 0}); // the north-west corner is nobody's:
    for (int j = 120; j < 128; ++j)
        for (int i = 0; i < 8; ++i)
            top.Coverage(i, j) = 0;
    const ReportImage picture = PictureFromAbove(top);
    EXPECT_EQ(picture.width, 128);
    EXPECT_EQ(picture.height, 32);
    EXPECT_EQ(PixelAt(picture, 0, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(PixelAt(picture, 64, 16), (std::array<int, 3>{10, 20, 30}));
    // Half covered: halfway to white.
    for (int j = 8; j < 16; ++j)
        for (int i = 8; i < 16; ++i) {
            top.Coverage(i, j) = 128;
            top.Colour(i, j)[0] = 0;
        }
    const ReportImage half = PictureFromAbove(top);
    bool halfway = false;
    for (int y = 0; y < half.height; ++y)
        for (int x = 0; x < half.width; ++x)
            halfway = halfway || PixelAt(half, x, y)[0] == 127;
    EXPECT_TRUE(halfway);
}

TEST(TopPicture, NothingCoveredIsNoPicture) {
    TileSummary top;
    top.extent = {0, 0, 100, 100};
    EXPECT_TRUE(PictureFromAbove(top).empty());
    Paint(top, 3, 4, 3, 4, {1, 2, 3});
    top.extent = {0, 0, -1, 100};
    EXPECT_TRUE(PictureFromAbove(top).empty());
}

} // namespace
} // namespace brindle
