#include "export/overview/summary_mosaic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

namespace brindle {
namespace {

constexpr int kHeightCells = kSummaryHeightSamples - 1;

// A sample point computed from another extent's corner may miss an edge by a rounding.
constexpr double kEdgeSlack = 1e-6;

bool CanResampleFrom(const TileSummary* source) {
    return source && HasArea(source->extent);
}

// A point's place on a source's height samples, in samples.
struct SamplePlace {
    double u, v;
};

SamplePlace PlaceOnSamples(const TileSummary& source, double x, double y) {
    const Extent& e = source.extent;
    return SamplePlace{(x - e.minX) / e.Width() * kHeightCells,
                       (y - e.minY) / e.Height() * kHeightCells};
}

// The source's height at a place inside it, interpolated between the samples around it; none
// if a sample it leans on has no data.
std::optional<double> InterpolatedHeight(const TileSummary& source, SamplePlace p) {
    if (p.u < -kEdgeSlack || p.v < -kEdgeSlack || p.u > kHeightCells + kEdgeSlack ||
        p.v > kHeightCells + kEdgeSlack)
        return std::nullopt;
    const double u = std::clamp(p.u, 0.0, double{kHeightCells});
    const double v = std::clamp(p.v, 0.0, double{kHeightCells});
    const int i = std::min(static_cast<int>(u), kHeightCells - 1);
    const int j = std::min(static_cast<int>(v), kHeightCells - 1);
    const double fu = u - i, fv = v - j;
    double sum = 0;
    for (int dj = 0; dj < 2; ++dj)
        for (int di = 0; di < 2; ++di) {
            const double weight = (di ? fu : 1 - fu) * (dj ? fv : 1 - fv);
            if (weight == 0)
                continue;
            const float h = source.Height(i + di, j + dj);
            if (!IsHeight(h))
                return std::nullopt;
            sum += weight * h;
        }
    return sum;
}

// A sample index, clamped one past either end so that a far point's index stays an int.
int SampleBound(double index) {
    return static_cast<int>(std::clamp(index, -1.0, double{kHeightCells + 1}));
}

// Adds the source's samples with data nearer than reach samples to a place to sum and count.
void AddNearbyHeights(const TileSummary& source, SamplePlace p, double reach, double& sum,
                      int& count) {
    const int iBegin = SampleBound(std::ceil(p.u - reach + kEdgeSlack));
    const int iEnd = SampleBound(std::floor(p.u + reach - kEdgeSlack));
    const int jBegin = SampleBound(std::ceil(p.v - reach + kEdgeSlack));
    const int jEnd = SampleBound(std::floor(p.v + reach - kEdgeSlack));
    for (int j = std::max(jBegin, 0); j <= std::min(jEnd, kHeightCells); ++j)
        for (int i = std::max(iBegin, 0); i <= std::min(iEnd, kHeightCells); ++i)
            if (IsHeight(source.Height(i, j))) {
                sum += source.Height(i, j);
                ++count;
            }
}

float HeightAt(const std::vector<const TileSummary*>& sources, double x, double y, double spacingX,
               double spacingY) {
    double sum = 0;
    int count = 0;
    for (const TileSummary* source : sources)
        if (const auto h = InterpolatedHeight(*source, PlaceOnSamples(*source, x, y))) {
            sum += *h;
            ++count;
        }
    if (count == 0)
        for (const TileSummary* source : sources) {
            const Extent& e = source->extent;
            // One of the result's sample spacings, in this source's samples, and never less
            // than one of its own.
            const double reach = std::max({1.0, spacingX / (e.Width() / kHeightCells),
                                           spacingY / (e.Height() / kHeightCells)});
            AddNearbyHeights(*source, PlaceOnSamples(*source, x, y), reach, sum, count);
        }
    return count ? static_cast<float>(sum / count) : kNoHeight;
}

void ResampleHeights(TileSummary& target, const std::vector<const TileSummary*>& sources) {
    const Extent& e = target.extent;
    const double spacingX = e.Width() / kHeightCells, spacingY = e.Height() / kHeightCells;
    for (int j = 0; j < kSummaryHeightSamples; ++j)
        for (int i = 0; i < kSummaryHeightSamples; ++i)
            target.Height(i, j) =
                HeightAt(sources, e.minX + i * spacingX, e.minY + j * spacingY, spacingX, spacingY);
}

// The source pixels that a target pixel overlaps along one axis, [from, to) in source pixels,
// and the part of the target pixel each one fills: a box filter by area, whatever the ratio of
// the two sizes.
struct PixelSpan {
    double from = 0, to = 0;
    int begin = 0, end = 0;

    double Share(int pixel) const {
        return (std::min(to, pixel + 1.0) - std::max(from, static_cast<double>(pixel))) /
               (to - from);
    }
};

PixelSpan SpanOf(double from, double to) {
    constexpr double kPixels = kSummaryColourPixels;
    PixelSpan span{from, to};
    span.begin = static_cast<int>(std::clamp(std::floor(from), 0.0, kPixels));
    span.end = static_cast<int>(std::clamp(std::ceil(to), 0.0, kPixels));
    return span;
}

// A box filter's sums over one target pixel.
struct ColourSum {
    double rgb[3] = {0, 0, 0};
    double covered = 0;
};

// Along one axis, for each target pixel, the source pixels it overlaps and their shares of it,
// worked out once for every row or column of the other axis.
struct AxisShares {
    std::vector<std::size_t> from; // for each target pixel, and one past the last: into these
    std::vector<int> pixels;
    std::vector<double> shares;

    bool Empty(int target) const {
        return from[static_cast<std::size_t>(target)] == from[static_cast<std::size_t>(target) + 1];
    }
};

// The shares for the target's pixels from `targetMin`, `pixel` wide, over a source's from
// `sourceMin`, `scale` pixels a unit.
AxisShares SharesAlong(double targetMin, double pixel, double sourceMin, double scale) {
    // Below this a share is a rounding of the pixels' edges, not an overlap: a target pixel
    // exactly two source pixels wide would otherwise reach into a third.
    constexpr double kNoShare = 1e-9;
    AxisShares axis;
    axis.from.reserve(kSummaryColourPixels + 1);
    for (int i = 0; i < kSummaryColourPixels; ++i) {
        const double from = targetMin + i * pixel, to = targetMin + (i + 1) * pixel;
        const PixelSpan span = SpanOf((from - sourceMin) * scale, (to - sourceMin) * scale);
        axis.from.push_back(axis.shares.size());
        for (int source = span.begin; source < span.end; ++source)
            if (const double share = span.Share(source); share > kNoShare) {
                axis.pixels.push_back(source);
                axis.shares.push_back(share);
            }
    }
    axis.from.push_back(axis.shares.size());
    return axis;
}

// Adds the source's pixels to the sums of the target pixels they fall in: source by source,
// so that a target pixel's spans are worked out once per source, and only where it overlaps.
void AddSourcePixels(const TileSummary& source, const Extent& target,
                     std::vector<ColourSum>& sums) {
    const Extent& e = source.extent;
    const double scaleX = kSummaryColourPixels / e.Width();
    const double scaleY = kSummaryColourPixels / e.Height();
    const AxisShares columns =
        SharesAlong(target.minX, target.Width() / kSummaryColourPixels, e.minX, scaleX);
    const AxisShares rows =
        SharesAlong(target.minY, target.Height() / kSummaryColourPixels, e.minY, scaleY);
    for (int tj = 0; tj < kSummaryColourPixels; ++tj) {
        if (rows.Empty(tj))
            continue;
        const auto tjIndex = static_cast<std::size_t>(tj);
        for (int ti = 0; ti < kSummaryColourPixels; ++ti) {
            if (columns.Empty(ti))
                continue;
            const auto tiIndex = static_cast<std::size_t>(ti);
            // Summed apart and added once, with coverage as the byte it is and divided once.
            ColourSum add;
            for (std::size_t y = rows.from[tjIndex]; y < rows.from[tjIndex + 1]; ++y) {
                const int j = rows.pixels[y];
                const double shareY = rows.shares[y];
                for (std::size_t x = columns.from[tiIndex]; x < columns.from[tiIndex + 1]; ++x) {
                    const int i = columns.pixels[x];
                    const std::uint8_t coverage = source.Coverage(i, j);
                    if (coverage == 0)
                        continue;
                    const double weight = columns.shares[x] * shareY * coverage;
                    const std::uint8_t* rgb = source.Colour(i, j);
                    for (int c = 0; c < 3; ++c)
                        add.rgb[c] += weight * rgb[c];
                    add.covered += weight;
                }
            }
            ColourSum& sum = sums[TileSummary::PixelIndex(ti, tj)];
            for (int c = 0; c < 3; ++c)
                sum.rgb[c] += add.rgb[c] / 255;
            sum.covered += add.covered / 255;
        }
    }
}

void ResampleColours(TileSummary& target, const std::vector<const TileSummary*>& sources) {
    std::vector<ColourSum> sums(target.coverage.size());
    for (const TileSummary* source : sources)
        AddSourcePixels(*source, target.extent, sums);
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i) {
            const ColourSum& sum = sums[TileSummary::PixelIndex(i, j)];
            if (sum.covered <= 0)
                continue;
            std::uint8_t* rgb = target.Colour(i, j);
            for (int c = 0; c < 3; ++c)
                rgb[c] = RoundedByte(sum.rgb[c] / sum.covered);
            target.Coverage(i, j) = RoundedByte(255 * std::min(1.0, sum.covered));
        }
}

// Adds a source's normals near a point to sum, each weighted by a tent as wide as one of the
// target's sample spacings either way: over a target twice as coarse, a quarter, a half and a
// quarter along each axis, so that each source sample counts as much in all as any other.
void AddNearbyNormals(const TileSummary& source, SamplePlace p, double reachU, double reachV,
                      osg::Vec3d& sum, double& weights) {
    const int iBegin = SampleBound(std::ceil(p.u - reachU + kEdgeSlack));
    const int iEnd = SampleBound(std::floor(p.u + reachU - kEdgeSlack));
    const int jBegin = SampleBound(std::ceil(p.v - reachV + kEdgeSlack));
    const int jEnd = SampleBound(std::floor(p.v + reachV - kEdgeSlack));
    for (int j = std::max(jBegin, 0); j <= std::min(jEnd, kHeightCells); ++j)
        for (int i = std::max(iBegin, 0); i <= std::min(iEnd, kHeightCells); ++i) {
            if (!IsHeight(source.Height(i, j)))
                continue;
            const double weight =
                (1 - std::abs(i - p.u) / reachU) * (1 - std::abs(j - p.v) / reachV);
            if (!(weight > 0))
                continue;
            const std::int8_t* n = source.Normal(i, j);
            sum += osg::Vec3d(n[0], n[1], n[2]) * weight;
            weights += weight;
        }
}

// Each of the target's normals: the mean of the sources' around it, where it has a height.
void ResampleNormals(TileSummary& target, const std::vector<const TileSummary*>& sources) {
    const Extent& e = target.extent;
    const double spacingX = e.Width() / kHeightCells, spacingY = e.Height() / kHeightCells;
    for (int j = 0; j < kSummaryHeightSamples; ++j)
        for (int i = 0; i < kSummaryHeightSamples; ++i) {
            if (!IsHeight(target.Height(i, j)))
                continue;
            const double x = e.minX + i * spacingX, y = e.minY + j * spacingY;
            osg::Vec3d sum;
            double weights = 0;
            for (const TileSummary* source : sources) {
                const Extent& s = source->extent;
                // One of the target's spacings in the source's samples, never less than one.
                const double reachU = std::max(1.0, spacingX / (s.Width() / kHeightCells));
                const double reachV = std::max(1.0, spacingY / (s.Height() / kHeightCells));
                AddNearbyNormals(*source, PlaceOnSamples(*source, x, y), reachU, reachV, sum,
                                 weights);
            }
            if (weights > 0)
                StoreNormal(sum / (weights * kNormalUnit), target.Normal(i, j));
        }
}

// Whether at least half the sources have the quality.
template <typename Quality>
bool MostSources(const std::vector<const TileSummary*>& sources, Quality quality) {
    const auto count = std::count_if(sources.begin(), sources.end(), quality);
    return !sources.empty() && 2 * static_cast<std::size_t>(count) >= sources.size();
}

} // namespace

TileSummary MergeSummaries(const Extent& extent, const std::vector<const TileSummary*>& sources) {
    TileSummary target;
    target.extent = extent;
    if (!HasArea(extent))
        return target;
    std::vector<const TileSummary*> usable;
    std::copy_if(sources.begin(), sources.end(), std::back_inserter(usable), CanResampleFrom);
    ResampleHeights(target, usable);
    ResampleColours(target, usable);
    ResampleNormals(target, usable);
    target.lit = MostSources(usable, [](const TileSummary* source) { return source->lit; });
    target.withNormals =
        MostSources(usable, [](const TileSummary* source) { return source->withNormals; });
    target.ownColours =
        MostSources(usable, [](const TileSummary* source) { return source->ownColours; });
    return target;
}

Extent MosaicExtent(const SummaryQuadrants& children) {
    // Per axis: the low side from the low children, the high side from the high ones, either
    // from the other side's children when its own are missing.
    double low[2] = {HUGE_VAL, HUGE_VAL}, high[2] = {-HUGE_VAL, -HUGE_VAL};
    double lowFromHigh[2] = {HUGE_VAL, HUGE_VAL}, highFromLow[2] = {-HUGE_VAL, -HUGE_VAL};
    for (std::size_t q = 0; q < children.size(); ++q) {
        if (!CanResampleFrom(children[q]))
            continue;
        const Extent& e = children[q]->extent;
        const double mins[2] = {e.minX, e.minY}, maxs[2] = {e.maxX, e.maxY};
        const bool upper[2] = {(q & 1) != 0, (q & 2) != 0};
        for (int axis = 0; axis < 2; ++axis) {
            const double size = maxs[axis] - mins[axis];
            if (upper[axis]) {
                high[axis] = std::max(high[axis], maxs[axis]);
                lowFromHigh[axis] = std::min(lowFromHigh[axis], mins[axis] - size);
            } else {
                low[axis] = std::min(low[axis], mins[axis]);
                highFromLow[axis] = std::max(highFromLow[axis], maxs[axis] + size);
            }
        }
    }
    for (int axis = 0; axis < 2; ++axis) {
        if (low[axis] == HUGE_VAL)
            low[axis] = lowFromHigh[axis];
        if (high[axis] == -HUGE_VAL)
            high[axis] = highFromLow[axis];
    }
    return Extent{low[0], low[1], high[0], high[1]};
}

TileSummary MosaicSummaries(const SummaryQuadrants& children) {
    return MergeSummaries(MosaicExtent(children),
                          std::vector<const TileSummary*>(children.begin(), children.end()));
}

} // namespace brindle
