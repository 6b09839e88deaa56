// A held tile's summary, compressed for the wait in scratch: at most 30 KB a tile, its heights
// and coverage as they were, its colours close to them.
#include "export/overview/held_summary_codec.h"
#include "export/overview/scene_summary.h"
#include "tools/sample_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace brindle {
namespace {

// The PSNR of the covered pixels' colours.
double CoveredPsnr(const TileSummary& a, const TileSummary& b) {
    double squares = 0;
    std::size_t count = 0;
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i) {
            if (a.Coverage(i, j) == 0)
                continue;
            for (int c = 0; c < 3; ++c) {
                const double d = double(a.Colour(i, j)[c]) - double(b.Colour(i, j)[c]);
                squares += d * d;
                ++count;
            }
        }
    const double mean = count ? squares / static_cast<double>(count) : 0;
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// Its coverage within `coverageOff` of what it was, and never uncovered where it was covered.
void ExpectHeldAsIs(const TileSummary& summary, double minPsnr, const std::string& what,
                    int coverageOff = 0) {
    const std::optional<std::string> bytes = EncodeHeldSummary(summary);
    ASSERT_TRUE(bytes) << what;
    EXPECT_LE(bytes->size(), kHeldSummaryMaxBytes) << what;
    const std::optional<TileSummary> back = DecodeHeldSummary(*bytes);
    ASSERT_TRUE(back) << what;
    // Bit for bit, the holes' NaNs included.
    EXPECT_EQ(std::memcmp(back->heights.data(), summary.heights.data(),
                          summary.heights.size() * sizeof(float)),
              0)
        << what;
    for (std::size_t k = 0; k < summary.coverage.size(); ++k) {
        ASSERT_LE(std::abs(back->coverage[k] - summary.coverage[k]), coverageOff)
            << what << " at " << k;
        ASSERT_EQ(back->coverage[k] == 0, summary.coverage[k] == 0) << what << " at " << k;
    }
    EXPECT_EQ(back->extent.minX, summary.extent.minX) << what;
    EXPECT_EQ(back->extent.maxY, summary.extent.maxY) << what;
    EXPECT_EQ(back->lit, summary.lit) << what;
    EXPECT_EQ(back->withNormals, summary.withNormals) << what;
    EXPECT_EQ(back->ownColours, summary.ownColours) << what;
    EXPECT_EQ(back->normals, summary.normals) << what;
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i)
            if (summary.Coverage(i, j) == 0) {
                ASSERT_EQ(back->Colour(i, j)[0] | back->Colour(i, j)[1] | back->Colour(i, j)[2], 0)
                    << what;
            }
    EXPECT_GE(CoveredPsnr(summary, *back), minPsnr) << what;
}

// The summary a worker makes of a textured tile, its texture of 256 pixels with a grain in
// every pixel; every other one over part of a larger extent, its edge within the colours.
SceneSummary TexturedTileSummary(unsigned seed) {
    SampleTileParams params;
    params.texturePx = 256;
    params.gridCells = 32;
    params.sizeMetres = 100;
    params.seed = seed;
    SceneSummaryOptions options;
    if (seed % 2 == 0)
        options.extent = Extent{-30, -10, 100, 110};
    return SummariseScene(*MakeSampleTile(params), options);
}

// Summaries of textured tiles as the workers make them, their textures of 256 pixels with a
// grain in every pixel, some under a tile that covers only part of its extent: each fits in
// 30 KB (the protocol's 279 KB), heights and coverage exact, colours within a JPEG's loss.
TEST(HeldSummaryCodec, TexturedTilesFitIn30KilobytesWithHeightsAndCoverageExact) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        const SceneSummary made = TexturedTileSummary(seed);
        ASSERT_TRUE(made.summary);
        ExpectHeldAsIs(*made.summary, 30.0, "tile " + std::to_string(seed));
    }
}

// The worst for every part, noise in every byte, which no raster of a surface gives: still within
// 30 KB, the heights still exact, covered where it was covered.
TEST(HeldSummaryCodec, NoiseStillFitsAndAnythingElseIsNoSummary) {
    TileSummary noise;
    noise.extent = Extent{0, 0, 1, 1};
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (float& h : noise.heights)
        h = static_cast<float>(next()) / 1000.0f;
    for (std::uint8_t& c : noise.colour)
        c = static_cast<std::uint8_t>(next());
    for (std::uint8_t& c : noise.coverage)
        c = static_cast<std::uint8_t>(next() % 3 == 0 ? 0 : next());
    noise.lit = true;
    noise.withNormals = true;
    noise.ownColours = true;
    ExpectHeldAsIs(noise, 0, "noise", 255);

    const std::optional<std::string> bytes = EncodeHeldSummary(noise);
    ASSERT_TRUE(bytes);
    EXPECT_FALSE(DecodeHeldSummary(bytes->substr(0, bytes->size() - 1)));
    EXPECT_FALSE(DecodeHeldSummary(*bytes + "x"));
    EXPECT_FALSE(DecodeHeldSummary(std::string(bytes->size(), 'B')));
    std::string damaged = *bytes;
    damaged[60] = static_cast<char>(damaged[60] ^ 0x55);
    EXPECT_FALSE(DecodeHeldSummary(damaged));
}

// A node's summary kept on disk: everything exact but the colours, which come back at half
// their resolution, each the mean of its four, as the node above takes them. No picture codec
// reads them back, so a damaged file can only fail to decode.
TEST(KeptSummaryCodec, ColoursComeBackAsTheMeansOfTheirFourAndTheRestExact) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const SceneSummary made = TexturedTileSummary(seed);
        ASSERT_TRUE(made.summary);
        const TileSummary& summary = *made.summary;
        const std::optional<std::string> bytes = EncodeKeptSummary(summary);
        ASSERT_TRUE(bytes);
        EXPECT_LE(bytes->size(), 100u * 1024) << seed;
        const std::optional<TileSummary> back = DecodeKeptSummary(*bytes);
        ASSERT_TRUE(back) << seed;
        EXPECT_EQ(std::memcmp(back->heights.data(), summary.heights.data(),
                              summary.heights.size() * sizeof(float)),
                  0);
        EXPECT_EQ(back->coverage, summary.coverage);
        EXPECT_EQ(back->normals, summary.normals);
        EXPECT_EQ(back->lit, summary.lit);
        EXPECT_EQ(back->extent.maxX, summary.extent.maxX);
        std::size_t blocks = 0;
        for (int j = 0; j < kSummaryColourPixels; j += 2)
            for (int i = 0; i < kSummaryColourPixels; i += 2) {
                bool whole = true;
                for (int d = 0; d < 4; ++d)
                    whole = whole && summary.Coverage(i + d % 2, j + d / 2) > 0;
                if (!whole)
                    continue;
                ++blocks;
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int d = 0; d < 4; ++d)
                        sum += summary.Colour(i + d % 2, j + d / 2)[c];
                    for (int d = 0; d < 4; ++d)
                        ASSERT_EQ(back->Colour(i + d % 2, j + d / 2)[c], (sum + 2) / 4)
                            << seed << " at " << i << ", " << j;
                }
            }
        EXPECT_GT(blocks, 4000u);
        for (std::size_t k = 0; k < summary.coverage.size(); ++k)
            if (summary.coverage[k] == 0) {
                ASSERT_EQ(back->colour[3 * k] | back->colour[3 * k + 1] | back->colour[3 * k + 2],
                          0);
            }

        EXPECT_FALSE(DecodeKeptSummary(bytes->substr(0, bytes->size() - 1)));
        EXPECT_FALSE(DecodeKeptSummary(*bytes + "x"));
        EXPECT_FALSE(DecodeHeldSummary(*bytes)) << "each codec reads its own";
        std::string damaged = *bytes;
        damaged[bytes->size() - 100] = static_cast<char>(damaged[bytes->size() - 100] ^ 0x55);
        EXPECT_FALSE(DecodeKeptSummary(damaged));
    }
}

} // namespace
} // namespace brindle
