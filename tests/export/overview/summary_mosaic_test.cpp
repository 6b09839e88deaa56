#include "export/overview/summary_mosaic.h"
#include "tests/export/overview/summary_fixtures.h"

#include <array>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace brindle {
namespace {

constexpr int kSamples = kSummaryHeightSamples;
constexpr int kPixels = kSummaryColourPixels;

struct Rgb {
    std::uint8_t r, g, b;
};

// A summary over extent whose heights and colours are functions of the frame's x and y, taken
// at each sample point and pixel centre; height may give kNoHeight, coverage 0.
TileSummary MakeSummary(
    const Extent& extent, const std::function<float(double, double)>& height,
    const std::function<Rgb(double, double)>& colour,
    const std::function<std::uint8_t(double, double)>& coverage = [](double, double) {
        return std::uint8_t{255};
    }) {
    TileSummary summary;
    summary.extent = extent;
    test::SampleHeights(summary, height);
    for (int j = 0; j < kPixels; ++j)
        for (int i = 0; i < kPixels; ++i) {
            const double x = extent.minX + (i + 0.5) * extent.Width() / kPixels;
            const double y = extent.minY + (j + 0.5) * extent.Height() / kPixels;
            const std::uint8_t covered = coverage(x, y);
            summary.Coverage(i, j) = covered;
            if (covered == 0)
                continue;
            const Rgb rgb = colour(x, y);
            summary.Colour(i, j)[0] = rgb.r;
            summary.Colour(i, j)[1] = rgb.g;
            summary.Colour(i, j)[2] = rgb.b;
        }
    return summary;
}

// The four 100 m quarters of (0, 0)-(200, 200), by quadrant.
Extent Quarter(int q) {
    const double x = (q & 1) ? 100 : 0, y = (q & 2) ? 100 : 0;
    return Extent{x, y, x + 100, y + 100};
}

double SampleX(const TileSummary& s, int i) {
    return s.extent.minX + i * s.extent.Width() / (kSamples - 1);
}
double SampleY(const TileSummary& s, int j) {
    return s.extent.minY + j * s.extent.Height() / (kSamples - 1);
}
double PixelX(const TileSummary& s, int i) {
    return s.extent.minX + (i + 0.5) * s.extent.Width() / kPixels;
}
double PixelY(const TileSummary& s, int j) {
    return s.extent.minY + (j + 0.5) * s.extent.Height() / kPixels;
}

std::uint8_t Ramp(double v) {
    return static_cast<std::uint8_t>(std::lround(v * 255 / 200));
}

TEST(SummaryMosaic, GradientsSurviveAtTheirPlaceAtHalfTheResolution) {
    const auto height = [](double x, double y) { return static_cast<float>(0.5 * x + 2 * y); };
    TileSummary children[4];
    for (int q = 0; q < 4; ++q) {
        const auto colour = [q](double x, double y) {
            return Rgb{Ramp(x), static_cast<std::uint8_t>(40 * q + 20), Ramp(y)};
        };
        children[q] = MakeSummary(Quarter(q), height, colour);
    }
    const TileSummary parent =
        MosaicSummaries({&children[0], &children[1], &children[2], &children[3]});
    EXPECT_DOUBLE_EQ(parent.extent.minX, 0);
    EXPECT_DOUBLE_EQ(parent.extent.minY, 0);
    EXPECT_DOUBLE_EQ(parent.extent.maxX, 200);
    EXPECT_DOUBLE_EQ(parent.extent.maxY, 200);
    ASSERT_EQ(parent.heights.size(), children[0].heights.size());
    ASSERT_EQ(parent.colour.size(), children[0].colour.size());
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i)
            ASSERT_NEAR(parent.Height(i, j), height(SampleX(parent, i), SampleY(parent, j)), 1e-3)
                << i << " " << j;
    for (int j = 0; j < kPixels; ++j)
        for (int i = 0; i < kPixels; ++i) {
            const double x = PixelX(parent, i), y = PixelY(parent, j);
            const int quadrant = (x > 100 ? 1 : 0) + (y > 100 ? 2 : 0);
            const std::uint8_t* rgb = parent.Colour(i, j);
            ASSERT_NEAR(rgb[0], Ramp(x), 1) << i << " " << j;
            ASSERT_EQ(rgb[1], 40 * quadrant + 20) << i << " " << j;
            ASSERT_NEAR(rgb[2], Ramp(y), 1) << i << " " << j;
            ASSERT_EQ(parent.Coverage(i, j), 255);
        }

    // A level further up, from one child: twice as coarse again, in its own quarter.
    const TileSummary grandparent = MosaicSummaries({&parent, nullptr, nullptr, nullptr});
    EXPECT_DOUBLE_EQ(grandparent.extent.Width(), 400);
    EXPECT_DOUBLE_EQ(grandparent.extent.Height(), 400);
    EXPECT_NEAR(grandparent.Height(16, 8), height(100, 50), 1e-3);
    EXPECT_NEAR(grandparent.Colour(100, 20)[0], Ramp(PixelX(grandparent, 100)), 1);
}

TEST(SummaryMosaic, NoDataPollutesNoAverage) {
    TileSummary children[4];
    // Heights only west of x = 30; colour only on the pixels west of x = 50.390625, an odd
    // number of them, so that one column of the parent's pixels is half covered.
    children[0] = MakeSummary(
        Quarter(0), [](double x, double) { return x < 30 ? 10.0f : kNoHeight; },
        [](double, double) {
            return Rgb{255, 255, 255};
        },
        [](double x, double) { return static_cast<std::uint8_t>(x < 50.390625 ? 255 : 0); });
    // Heights on every other sample: the parent's own sample points have none.
    children[1] = MakeSummary(
        Quarter(1),
        [](double x, double) {
            return std::lround((x - 100) / (100.0 / 64)) % 2 ? 7.0f : kNoHeight;
        },
        [](double, double) {
            return Rgb{0, 0, 200};
        });
    // No heights at all, however large its other values would be.
    children[2] = MakeSummary(
        Quarter(2), [](double, double) { return std::numeric_limits<float>::infinity(); },
        [](double, double) {
            return Rgb{0, 0, 0};
        },
        [](double, double) { return std::uint8_t{0}; });
    children[3] = MakeSummary(
        Quarter(3), [](double, double) { return kNoHeight; },
        [](double, double) {
            return Rgb{9, 9, 9};
        });
    const TileSummary parent =
        MosaicSummaries({&children[0], &children[1], &children[2], &children[3]});
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i) {
            const double x = SampleX(parent, i), y = SampleY(parent, j);
            const float h = parent.Height(i, j);
            if (x < 30 && y <= 100) {
                EXPECT_FLOAT_EQ(h, 10) << i << " " << j;
            } else if (x > 100 && y < 100) {
                EXPECT_FLOAT_EQ(h, 7) << i << " " << j;
            } else if (x > 40 && x < 95) {
                EXPECT_FALSE(IsHeight(h)) << i << " " << j << " " << h;
            }
            if (y > 101 && (x < 30 || x > 101)) {
                EXPECT_FALSE(IsHeight(h)) << i << " " << j << " " << h;
            }
        }
    for (int j = 0; j < kPixels / 2; ++j) {
        for (int i = 0; i < 64; ++i) {
            EXPECT_EQ(parent.Colour(i, j)[0], 255);
            EXPECT_EQ(parent.Coverage(i, j), 255);
        }
        // Half covered: still white, not grey, and half covered.
        EXPECT_EQ(parent.Colour(64, j)[0], 255);
        EXPECT_NEAR(parent.Coverage(64, j), 128, 1);
        EXPECT_EQ(parent.Coverage(65, j), 0);
        EXPECT_EQ(parent.Colour(65, j)[0], 0);
        EXPECT_EQ(parent.Colour(200, j)[2], 200);
    }
    for (int i = 0; i < kPixels / 2; ++i) {
        EXPECT_EQ(parent.Coverage(i, 200), 0);
        EXPECT_EQ(parent.Colour(i, 200)[0], 0);
    }
}

TEST(SummaryMosaic, MissingChildrenStayEmpty) {
    const auto height = [](double x, double y) { return static_cast<float>(x + y); };
    const auto white = [](double, double) { return Rgb{255, 255, 255}; };
    const TileSummary sw = MakeSummary(Quarter(0), height, white);
    const TileSummary ne = MakeSummary(Quarter(3), height, white);
    TileSummary damaged = MakeSummary(Quarter(1), height, white);
    damaged.extent.maxX = std::nan("");

    const TileSummary parent = MosaicSummaries({&sw, &damaged, nullptr, &ne});
    EXPECT_DOUBLE_EQ(parent.extent.Width(), 200);
    EXPECT_DOUBLE_EQ(parent.extent.Height(), 200);
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i) {
            const bool empty = (i > 32 && j < 32) || (i < 32 && j > 32);
            EXPECT_EQ(IsHeight(parent.Height(i, j)), !empty) << i << " " << j;
        }
    for (int j = 0; j < kPixels; ++j)
        for (int i = 0; i < kPixels; ++i) {
            const bool empty = (i >= 128) != (j >= 128);
            ASSERT_EQ(parent.Coverage(i, j), empty ? 0 : 255) << i << " " << j;
            ASSERT_EQ(parent.Colour(i, j)[1], empty ? 0 : 255) << i << " " << j;
        }

    // A lone child keeps its quarter of the extent, whichever quarter that is.
    const Extent alone = MosaicExtent({nullptr, nullptr, nullptr, &ne});
    EXPECT_DOUBLE_EQ(alone.minX, 0);
    EXPECT_DOUBLE_EQ(alone.minY, 0);
    EXPECT_DOUBLE_EQ(alone.maxX, 200);
    EXPECT_DOUBLE_EQ(alone.maxY, 200);

    const TileSummary none = MosaicSummaries({nullptr, &damaged, nullptr, nullptr});
    EXPECT_FALSE(none.extent.IsUsable());
    for (const float h : none.heights)
        ASSERT_FALSE(IsHeight(h));
    for (const std::uint8_t c : none.coverage)
        ASSERT_EQ(c, 0);
}

// Four level grey children, one a quadrant.
std::array<TileSummary, 4> LevelGreyQuarters() {
    const auto flat = [](double, double) { return 1.0f; };
    const auto grey = [](double, double) { return Rgb{90, 90, 90}; };
    std::array<TileSummary, 4> children;
    for (int q = 0; q < 4; ++q)
        children[static_cast<std::size_t>(q)] = MakeSummary(Quarter(q), flat, grey);
    return children;
}

// A node is lit, drawn with normals and in colours of its own as at least half the children it
// is made from are; a damaged one has no say.
TEST(SummaryMosaic, ANodeIsDrawnAsMostOfItsChildrenAre) {
    for (bool TileSummary::*flag :
         {&TileSummary::lit, &TileSummary::withNormals, &TileSummary::ownColours}) {
        std::array<TileSummary, 4> children = LevelGreyQuarters();
        const auto mosaic = [&] {
            return MosaicSummaries({&children[0], &children[1], &children[2], &children[3]});
        };
        EXPECT_FALSE(mosaic().*flag);
        children[0].*flag = true;
        EXPECT_FALSE(mosaic().*flag);
        children[3].*flag = true;
        EXPECT_TRUE(mosaic().*flag);
        children[1].extent.maxX = std::nan("");
        children[2].extent.maxX = std::nan("");
        children[3].*flag = false;
        EXPECT_TRUE(mosaic().*flag);
    }
}

// A node's normals are its children's where one child lies, and their mean along the edge two
// share: a viewer then gives the node the light the children take on the whole.
TEST(SummaryMosaic, ANodesNormalsAreItsChildrensMean) {
    std::array<TileSummary, 4> children = LevelGreyQuarters();
    // Child 0 (south-west) leans 37 degrees to the east; the others face straight up.
    for (int j = 0; j < kSummaryHeightSamples; ++j)
        for (int i = 0; i < kSummaryHeightSamples; ++i) {
            std::int8_t* n = children[0].Normal(i, j);
            n[0] = 76, n[1] = 0, n[2] = 102; // (0.6, 0, 0.8) in 127ths
        }
    const TileSummary node =
        MosaicSummaries({&children[0], &children[1], &children[2], &children[3]});
    const auto normal = [&](int i, int j) {
        const std::int8_t* n = node.Normal(i, j);
        return std::array<int, 3>{n[0], n[1], n[2]};
    };
    EXPECT_EQ(normal(10, 10), (std::array<int, 3>{76, 0, 102}));
    EXPECT_EQ(normal(50, 10), (std::array<int, 3>{0, 0, 127}));
    EXPECT_EQ(normal(10, 50), (std::array<int, 3>{0, 0, 127}));
    // On the edge between child 0 and child 1, half of each.
    const std::array<int, 3> edge = normal(32, 10);
    EXPECT_EQ(edge[0], 38);
    EXPECT_EQ(edge[1], 0);
    EXPECT_NEAR(edge[2], (102 + 127) / 2.0, 1);
    // Where the four meet, a quarter of child 0.
    EXPECT_EQ(normal(32, 32)[0], 19);
}

// Two tiles in one cell, offset and finer than it: each lands where it lies.
TEST(SummaryMosaic, MergesSourcesOfAnyPlaceAndSize) {
    const TileSummary west = MakeSummary(
        Extent{0, 0, 40, 100}, [](double, double) { return 1.0f; },
        [](double, double) {
            return Rgb{200, 0, 0};
        });
    const TileSummary east = MakeSummary(
        Extent{60, 0, 100, 100}, [](double, double) { return 3.0f; },
        [](double, double) {
            return Rgb{0, 200, 0};
        });
    const TileSummary merged = MergeSummaries(Extent{0, 0, 100, 100}, {&west, &east});
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i) {
            const double x = SampleX(merged, i);
            const float h = merged.Height(i, j);
            if (x <= 40) {
                EXPECT_FLOAT_EQ(h, 1) << i;
            } else if (x >= 60) {
                EXPECT_FLOAT_EQ(h, 3) << i;
            } else if (x > 42 && x < 58) {
                EXPECT_FALSE(IsHeight(h)) << i;
            }
        }
    EXPECT_EQ(merged.Colour(10, 5)[0], 200);
    EXPECT_EQ(merged.Coverage(10, 5), 255);
    EXPECT_EQ(merged.Coverage(128, 5), 0);
    EXPECT_EQ(merged.Colour(250, 5)[1], 200);
}

TEST(RoundedByte, RoundsHalvesUpAndKeepsWithinAByte) {
    EXPECT_EQ(RoundedByte(0.5), 1);
    EXPECT_EQ(RoundedByte(0.49999999999999994), 0);
    EXPECT_EQ(RoundedByte(127.5), 128);
    EXPECT_EQ(RoundedByte(254.4999), 254);
    EXPECT_EQ(RoundedByte(254.5), 255);
    EXPECT_EQ(RoundedByte(1e9), 255);
    EXPECT_EQ(RoundedByte(-0.4), 0);
    EXPECT_EQ(RoundedByte(std::nan("")), 0);
}

} // namespace
} // namespace brindle
