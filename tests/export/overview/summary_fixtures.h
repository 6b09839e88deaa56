#pragma once

#include "export/overview/tile_summary.h"

#include <functional>

namespace brindle::test {

// Sets each of the summary's height samples to `height` at its point in the block's frame,
// the samples spanning the summary's extent from edge to edge.
inline void SampleHeights(TileSummary& summary,
                          const std::function<float(double, double)>& height) {
    const Extent& extent = summary.extent;
    constexpr int kSamples = kSummaryHeightSamples;
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i)
            summary.Height(i, j) = height(extent.minX + i * extent.Width() / (kSamples - 1),
                                          extent.minY + j * extent.Height() / (kSamples - 1));
}

} // namespace brindle::test
