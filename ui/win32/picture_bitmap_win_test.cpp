#include "picture_bitmap_win.h"

#include <gtest/gtest.h>

namespace brindle::win32 {
namespace {

// Three pixels a row, two rows: red, green, blue over white, grey, black.
ReportImage ThreeByTwo() {
    ReportImage picture;
    picture.width = 3;
    picture.height = 2;
    picture.rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 128, 128, 128, 0, 0, 0};
    return picture;
}

TEST(PictureBitmap, RowsArePaddedBlueFirstAndTopRowFirst) {
    const std::vector<std::uint8_t> pixels = DibPixels(ThreeByTwo());
    // Nine bytes a row, padded to twelve.
    const std::vector<std::uint8_t> expected = {0,   0,   255, 0,   255, 0,   255, 0, 0, 0, 0, 0,
                                                255, 255, 255, 128, 128, 128, 0,   0, 0, 0, 0, 0};
    EXPECT_EQ(pixels, expected);
}

TEST(PictureBitmap, APictureWithoutItsPixelsGivesNoBitmap) {
    ReportImage cut = ThreeByTwo();
    cut.rgb.pop_back();
    EXPECT_TRUE(DibPixels(cut).empty());
    EXPECT_EQ(BitmapOf(cut), nullptr);
    EXPECT_EQ(BitmapOf(ReportImage{}), nullptr);
}

// What the system draws from the bitmap, read back pixel by pixel through a device context.
TEST(PictureBitmap, TheSystemSeesEachPixelWhereThePictureHasIt) {
    const ReportImage picture = ThreeByTwo();
    HBITMAP bitmap = BitmapOf(picture);
    ASSERT_NE(bitmap, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HGDIOBJ before = SelectObject(dc, bitmap);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* rgb =
                &picture.rgb[static_cast<std::size_t>(y * picture.width + x) * 3];
            EXPECT_EQ(GetPixel(dc, x, y), RGB(rgb[0], rgb[1], rgb[2])) << x << "," << y;
        }
    SelectObject(dc, before);
    DeleteDC(dc);
    DeleteObject(bitmap);
}

TEST(PictureBitmap, AWidePictureFitsItsBoxByItsWidth) {
    ReportImage wide;
    wide.width = 256;
    wide.height = 128;
    const SIZE fitted = FittedSize(wide, 200);
    EXPECT_EQ(fitted.cx, 200);
    EXPECT_EQ(fitted.cy, 100);
    ReportImage tall;
    tall.width = 10;
    tall.height = 1000;
    const SIZE thin = FittedSize(tall, 200);
    EXPECT_EQ(thin.cx, 2);
    EXPECT_EQ(thin.cy, 200);
}

// A checkerboard of black and white pixels halved: every new pixel covers two of each, and is
// grey, where keeping one pixel of each two would give black or white.
TEST(PictureBitmap, AHalvedCheckerboardIsEvenGrey) {
    ReportImage board;
    board.width = board.height = 4;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c)
                board.rgb.push_back((x + y) % 2 ? 255 : 0);
    const ReportImage half = Resized(board, SIZE{2, 2});
    ASSERT_EQ(half.width, 2);
    ASSERT_EQ(half.height, 2);
    for (std::uint8_t value : half.rgb)
        EXPECT_EQ(value, 128); // (2 * 0 + 2 * 255) / 4, rounded
}

// Shrunk by a third: each new pixel covers one and a half old ones a side, so it takes the
// whole of one and half of the next: a red pixel beside two white ones shows how much.
TEST(PictureBitmap, AShrunkPictureWeighsEachPixelByHowMuchOfItIsCovered) {
    ReportImage strip;
    strip.width = 3;
    strip.height = 1;
    strip.rgb = {255, 0, 0, 255, 255, 255, 255, 255, 255};
    const ReportImage shrunk = Resized(strip, SIZE{2, 1});
    ASSERT_EQ(shrunk.rgb.size(), 6u);
    // The first new pixel: all of the red one and half a white one, over one and a half.
    EXPECT_EQ(shrunk.rgb[0], 255);
    EXPECT_EQ(shrunk.rgb[1], 85); // 0.5 * 255 / 1.5
    EXPECT_EQ(shrunk.rgb[3], 255);
    EXPECT_EQ(shrunk.rgb[4], 255);
}

} // namespace
} // namespace brindle::win32
