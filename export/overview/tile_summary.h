#pragma once

#include "export/overview/extent.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace brindle {

// Height samples on each side of a summary: 64 cells, a sample on each of their corners, so
// that neighbouring summaries share their edge samples.
constexpr int kSummaryHeightSamples = 65;
// Colour pixels on each side of a summary's image.
constexpr int kSummaryColourPixels = 256;

// A height sample where the tile has no surface. Any value that is not finite counts as none.
constexpr float kNoHeight = std::numeric_limits<float>::quiet_NaN();
inline bool IsHeight(float height) {
    return std::isfinite(height);
}

// A colour or coverage value as the nearest byte, halves rounded up, within 0 to 255; a value
// that is not a number gives 0. The C library's rounding is slow enough to show in the time a
// node takes, and it is asked for every pixel.
inline std::uint8_t RoundedByte(double value) {
    if (!(value > 0))
        return 0;
    if (value >= 255)
        return 255;
    const int whole = static_cast<int>(value);
    // Exact: the fraction of a value under 256 loses nothing.
    return static_cast<std::uint8_t>(whole + (value - whole >= 0.5 ? 1 : 0));
}

// A tile, or an overview node, seen from above over its extent in the block's frame: what the
// overview is built from, so that no tile is read twice. Rows run from minY up, as an
// osg::Image keeps them; each row from minX. Height sample (i, j) lies at
// (minX + i * width / 64, minY + j * height / 64); colour pixel (i, j) covers the 256th part
// of the extent from (minX + i * width / 256, minY + j * height / 256).
struct TileSummary {
    Extent extent;
    std::vector<float> heights =
        std::vector<float>(std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples, kNoHeight);
    // Red, green and blue bytes for each pixel; black where nothing covers it.
    std::vector<std::uint8_t> colour =
        std::vector<std::uint8_t>(std::size_t{kSummaryColourPixels} * kSummaryColourPixels * 3);
    // How much of each pixel the tile covers: 0, nothing, to 255, all of it.
    std::vector<std::uint8_t> coverage =
        std::vector<std::uint8_t>(std::size_t{kSummaryColourPixels} * kSummaryColourPixels);
    // Drawn lit: most of its triangles leave the viewer's lighting on, as a tile does unless
    // its state turns it off. A lit summary's mesh is lit too, so that it shows as bright as
    // the tiles it stands for.
    bool lit = false;
    // How much of a light from straight above its surface takes, on average over what covers
    // it: the mean upward part of the normals it is drawn with, 1 for level ground. A viewer's
    // headlight lights a tile so, seen from above; a coarse mesh, smoother than the tile, would
    // take more and show brighter.
    float shade = 1.0f;

    static std::size_t HeightIndex(int i, int j) {
        return static_cast<std::size_t>(j) * kSummaryHeightSamples + static_cast<std::size_t>(i);
    }
    static std::size_t PixelIndex(int i, int j) {
        return static_cast<std::size_t>(j) * kSummaryColourPixels + static_cast<std::size_t>(i);
    }
    float& Height(int i, int j) { return heights[HeightIndex(i, j)]; }
    float Height(int i, int j) const { return heights[HeightIndex(i, j)]; }
    // The first of a pixel's three colour bytes.
    std::uint8_t* Colour(int i, int j) { return &colour[PixelIndex(i, j) * 3]; }
    const std::uint8_t* Colour(int i, int j) const { return &colour[PixelIndex(i, j) * 3]; }
    std::uint8_t& Coverage(int i, int j) { return coverage[PixelIndex(i, j)]; }
    std::uint8_t Coverage(int i, int j) const { return coverage[PixelIndex(i, j)]; }
};

} // namespace brindle
