#include "export/overview/top_picture.h"

#include <algorithm>
#include <cmath>

namespace brindle {
namespace {

// The pixels of the summary that anything covers, as a rectangle of pixel indices.
struct Covered {
    int minI = kSummaryColourPixels, minJ = kSummaryColourPixels, maxI = -1, maxJ = -1;
    bool IsEmpty() const { return maxI < minI || maxJ < minJ; }
};

Covered CoveredPixels(const TileSummary& summary) {
    Covered covered;
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i)
            if (summary.Coverage(i, j) > 0) {
                covered.minI = std::min(covered.minI, i);
                covered.maxI = std::max(covered.maxI, i);
                covered.minJ = std::min(covered.minJ, j);
                covered.maxJ = std::max(covered.maxJ, j);
            }
    return covered;
}

std::uint8_t OverWhite(std::uint8_t colour, std::uint8_t coverage) {
    return RoundedByte((colour * coverage + 255.0 * (255 - coverage)) / 255.0);
}

} // namespace

ReportImage PictureFromAbove(const TileSummary& top) {
    const Covered covered = CoveredPixels(top);
    if (covered.IsEmpty() || !top.extent.IsUsable())
        return {};
    const int columns = covered.maxI - covered.minI + 1;
    const int rows = covered.maxJ - covered.minJ + 1;
    // A summary's pixel is as wide as the extent's 256th part and as high as its height's: the
    // picture's sides follow the ground's, the longer keeping the summary's pixels.
    const double groundWidth = columns * top.extent.Width();
    const double groundHeight = rows * top.extent.Height();
    if (!(groundWidth > 0) || !(groundHeight > 0))
        return {};
    const int longer = std::max(columns, rows);
    ReportImage picture;
    picture.width =
        groundWidth >= groundHeight
            ? longer
            : std::max(1, static_cast<int>(std::lround(longer * groundWidth / groundHeight)));
    picture.height =
        groundHeight > groundWidth
            ? longer
            : std::max(1, static_cast<int>(std::lround(longer * groundHeight / groundWidth)));
    picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
    std::uint8_t* out = picture.rgb.data();
    for (int y = 0; y < picture.height; ++y) {
        // The picture's top row is the summary's northernmost.
        const int j = covered.maxJ - (y * rows + rows / 2) / picture.height;
        for (int x = 0; x < picture.width; ++x) {
            const int i = covered.minI + (x * columns + columns / 2) / picture.width;
            const std::uint8_t* colour = top.Colour(i, j);
            const std::uint8_t coverage = top.Coverage(i, j);
            for (int c = 0; c < 3; ++c)
                *out++ = OverWhite(colour[c], coverage);
        }
    }
    return picture;
}

} // namespace brindle
