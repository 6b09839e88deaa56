#pragma once

#include "export/overview/extent.h"

#include <osg/Vec3d>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace brindle {

// What became of a summary asked for. A summary that cannot be made never changes the tile's
// verdict: the worker answers with the verdict whatever happens while it summarises.
enum class SummaryState : std::uint8_t {
    NotMade = 0,     // not asked for, or the tile does not load
    Made = 1,        // it follows the reply
    NoSurface = 2,   // the inline content draws no triangle seen from above
    TooLarge = 3,    // the inline content holds more than a summary reads
    OutOfMemory = 4, // the memory ceiling was reached while summarising
    Crashed = 5,     // the summary crashed the worker, which then ended
};

// Height samples on each side of a summary: 64 cells, a sample on each of their corners, so
// that neighbouring summaries share their edge samples.
constexpr int kSummaryHeightSamples = 65;
// Colour pixels on each side of a summary's image.
constexpr int kSummaryColourPixels = 256;
// A summary's normal component of one, as it keeps them: in signed bytes.
constexpr std::int8_t kNormalUnit = 127;
// The colour a viewer draws a surface in that has neither colours nor a material of its own:
// a scene graph's default material's diffuse grey.
constexpr double kDefaultMaterialGrey = 0.8;

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

// A normal as a summary keeps it, each component in 127ths within -127 to 127; one longer than
// a unit is kept at unit length, as no mean of the normals a viewer lights with is longer.
inline void StoreNormal(const osg::Vec3d& normal, std::int8_t* out) {
    const double length = normal.length();
    const double scale = length > 1 ? kNormalUnit / length : kNormalUnit;
    for (int c = 0; c < 3; ++c) {
        const double value = std::isfinite(normal[c]) ? normal[c] * scale : 0.0;
        out[c] = static_cast<std::int8_t>(std::lround(std::clamp(value, -127.0, 127.0)));
    }
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
    // Red, green and blue bytes for each pixel: the colour the surface is drawn in before the
    // light falls on it, its texture's times its own colour (its vertex colours, its
    // material's, or a viewer's default grey); black where nothing covers it.
    std::vector<std::uint8_t> colour =
        std::vector<std::uint8_t>(std::size_t{kSummaryColourPixels} * kSummaryColourPixels * 3);
    // How much of each pixel the tile covers: 0, nothing, to 255, all of it.
    std::vector<std::uint8_t> coverage =
        std::vector<std::uint8_t>(std::size_t{kSummaryColourPixels} * kSummaryColourPixels);
    // Drawn lit: most of its triangles leave the viewer's lighting on, as a tile does unless
    // its state turns it off. A lit summary's mesh is lit too, so that it shows as its tiles do.
    bool lit = false;
    // Drawn with normals of its own: most of what covers it has them. Without, a viewer lights
    // a surface with its default normal, and a mesh without normals is lit alike.
    bool withNormals = false;
    // Drawn in colours of its own (vertex colours, or a material of its own) which the light
    // falls on, rather than in a viewer's default material.
    bool ownColours = false;
    // At each height sample, the mean of the normals the surface is drawn with around it (its
    // default normal where it has none), in the block's frame, in 127ths: rough ground's mean
    // is shorter than one, and so takes as little light on the whole as its finer normals do.
    // Straight up where nothing covers it.
    std::vector<std::int8_t> normals = UpNormals();

    static std::vector<std::int8_t> UpNormals() {
        std::vector<std::int8_t> up(std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples * 3,
                                    0);
        for (std::size_t s = 2; s < up.size(); s += 3)
            up[s] = kNormalUnit;
        return up;
    }

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
    // The first of a height sample's three normal components.
    std::int8_t* Normal(int i, int j) { return &normals[HeightIndex(i, j) * 3]; }
    const std::int8_t* Normal(int i, int j) const { return &normals[HeightIndex(i, j) * 3]; }
    std::uint8_t& Coverage(int i, int j) { return coverage[PixelIndex(i, j)]; }
    std::uint8_t Coverage(int i, int j) const { return coverage[PixelIndex(i, j)]; }
};

} // namespace brindle
