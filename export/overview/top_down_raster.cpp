#include "export/overview/top_down_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace brindle::summary_detail {
namespace {

// The cells of a regular grid that a span may hold: points first + i * step, i in [0, count).
struct Span {
    int first = 0, last = -1; // inclusive
};

Span CellsWithin(double low, double high, double origin, double step, double offset, int count) {
    const double from = std::ceil((low - origin) / step - offset - 1e-9);
    const double to = std::floor((high - origin) / step - offset + 1e-9);
    Span span;
    span.first = static_cast<int>(std::max(from, 0.0));
    span.last = static_cast<int>(std::min(to, static_cast<double>(count - 1)));
    return span;
}

// A grid index as an int within [low, high]; one that is not a number is `otherwise`.
int IndexWithin(double index, int low, int high, int otherwise) {
    if (std::isnan(index))
        return otherwise;
    return static_cast<int>(std::clamp(index, static_cast<double>(low), static_cast<double>(high)));
}

} // namespace

// Where a triangle covers a point seen from above: the point's barycentric weights. Each is a
// linear function of the point's offset from the first corner, worked out once: a triangle is
// tested at many points.
class CoverTest {
public:
    explicit CoverTest(const SceneTriangle& triangle) : c_(triangle.corners) {
        const double det = AreaFromAbove(c_);
        alongX_[1] = (c_[2].y() - c_[0].y()) / det;
        alongY_[1] = -(c_[2].x() - c_[0].x()) / det;
        alongX_[2] = -(c_[1].y() - c_[0].y()) / det;
        alongY_[2] = (c_[1].x() - c_[0].x()) / det;
        alongX_[0] = -alongX_[1] - alongX_[2];
        alongY_[0] = -alongY_[1] - alongY_[2];
    }

    // False where the point lies outside; edges count as inside, so that the triangles of a
    // surface leave no sample between them.
    bool Weights(double x, double y, std::array<double, 3>& w) const {
        const double dx = x - c_[0].x(), dy = y - c_[0].y();
        w[1] = alongX_[1] * dx + alongY_[1] * dy;
        w[2] = alongX_[2] * dx + alongY_[2] * dy;
        w[0] = 1 - w[1] - w[2];
        return w[0] >= kOnEdge && w[1] >= kOnEdge && w[2] >= kOnEdge;
    }

    double Height(const std::array<double, 3>& w) const {
        return w[0] * c_[0].z() + w[1] * c_[1].z() + w[2] * c_[2].z();
    }

    // The part of `row`, a span of a grid's points at x = origin + (i + offset) * step, all at
    // this y, that may lie inside: between the edges' crossings of the row, with one point
    // more on either side against rounding. Those points still need their test.
    Span Narrowed(Span row, double y, double origin, double step, double offset) const {
        if (row.first > row.last)
            return row;
        const double dy = y - c_[0].y();
        // In offsets along x from the first corner.
        double from = -HUGE_VAL, to = HUGE_VAL;
        for (int k = 0; k < 3; ++k) {
            // Weight k is `at` + alongX_[k] * dx at offset dx.
            const double at = (k == 0 ? 1.0 : 0.0) + alongY_[k] * dy;
            if (alongX_[k] > 0)
                from = std::max(from, (kOnEdge - at) / alongX_[k]);
            else if (alongX_[k] < 0)
                to = std::min(to, (kOnEdge - at) / alongX_[k]);
            else if (!(at >= kOnEdge))
                return Span{};
        }
        const double base = (c_[0].x() - origin) / step - offset;
        const int low = row.first - 1, high = row.last + 1;
        Span narrowed;
        narrowed.first = std::max(
            row.first, IndexWithin(std::floor(base + from / step) - 1, low, high, row.first));
        narrowed.last =
            std::min(row.last, IndexWithin(std::ceil(base + to / step) + 1, low, high, row.last));
        return narrowed;
    }

private:
    static constexpr double kOnEdge = -1e-9;

    const std::array<osg::Vec3d, 3>& c_;
    // How each weight changes with a point's x, and with its y.
    double alongX_[3] = {}, alongY_[3] = {};
};

TopDownRaster::TopDownRaster(const Extent& extent)
    : extent_(extent), sampleX_(extent.Width() / (kSummaryHeightSamples - 1)),
      sampleY_(extent.Height() / (kSummaryHeightSamples - 1)),
      pixelX_(extent.Width() / kSummaryColourPixels),
      pixelY_(extent.Height() / kSummaryColourPixels),
      top_(std::size_t{kSummaryColourPixels} * kSummaryColourPixels,
           -std::numeric_limits<double>::infinity()),
      highest_(std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples,
               -std::numeric_limits<double>::infinity()) {
    summary_.extent = extent;
}

// Hands `visit` each point of a grid over the extent (points at its low corner plus
// (i + offset, j + offset) steps, `count` a side) that the triangle covers, with its
// weights, within `box`, the triangle's own. Each row and each point tested is work, whether
// or not any lies inside.
template <typename Visit>
void TopDownRaster::ForEachCovered(const CoverTest& cover, const Extent& box, double stepX,
                                   double stepY, double offset, int count, Visit&& visit) {
    const Span columns = CellsWithin(box.minX, box.maxX, extent_.minX, stepX, offset, count);
    const Span rows = CellsWithin(box.minY, box.maxY, extent_.minY, stepY, offset, count);
    std::array<double, 3> w{};
    for (int j = rows.first; j <= rows.last; ++j) {
        ++work_;
        const double y = extent_.minY + (j + offset) * stepY;
        const Span row = cover.Narrowed(columns, y, extent_.minX, stepX, offset);
        for (int i = row.first; i <= row.last; ++i) {
            ++work_;
            if (cover.Weights(extent_.minX + (i + offset) * stepX, y, w))
                visit(i, j, w);
        }
    }
}

void TopDownRaster::Draw(const SceneTriangle& triangle) {
    if (overworked())
        return;
    ++drawn_;
    lit_ += triangle.lit ? 1 : 0;
    const CoverTest cover(triangle);
    const double x = triangle.corners[0].x(), y = triangle.corners[0].y();
    Extent box{x, y, x, y};
    for (const osg::Vec3d& c : triangle.corners) {
        box.minX = std::min(box.minX, c.x()), box.maxX = std::max(box.maxX, c.x());
        box.minY = std::min(box.minY, c.y()), box.maxY = std::max(box.maxY, c.y());
    }
    ForEachCovered(cover, box, sampleX_, sampleY_, 0, kSummaryHeightSamples,
                   [&](int i, int j, const std::array<double, 3>& w) {
                       double& highest = highest_[TileSummary::HeightIndex(i, j)];
                       highest = std::max(highest, cover.Height(w));
                   });
    ForEachCovered(cover, box, pixelX_, pixelY_, 0.5, kSummaryColourPixels,
                   [&](int i, int j, const std::array<double, 3>& w) {
                       const double z = cover.Height(w);
                       double& top = top_[TileSummary::PixelIndex(i, j)];
                       if (!(z > top))
                           return;
                       top = z;
                       const osg::Vec2d uv =
                           triangle.uvs[0] * w[0] + triangle.uvs[1] * w[1] + triangle.uvs[2] * w[2];
                       TakePixel(triangle, w, uv, i, j);
                   });
}

TileSummary TopDownRaster::Finish() {
    for (std::size_t s = 0; s < highest_.size(); ++s)
        if (std::isfinite(highest_[s]))
            summary_.heights[s] = static_cast<float>(highest_[s]);
    summary_.lit = drawn_ > 0 && 2 * lit_ >= drawn_;
    std::size_t covered = 0, withNormals = 0, ownColours = 0;
    for (std::size_t p = 0; p < pixels_.size(); ++p)
        if (summary_.coverage[p] != 0) {
            ++covered;
            withNormals += pixels_[p].withNormals ? 1 : 0;
            ownColours += pixels_[p].ownColours ? 1 : 0;
        }
    summary_.withNormals = covered > 0 && 2 * withNormals >= covered;
    summary_.ownColours = covered > 0 && 2 * ownColours >= covered;
    MeanNormals();
    return std::move(summary_);
}

void TopDownRaster::TakePixel(const SceneTriangle& triangle, const std::array<double, 3>& w,
                              const osg::Vec2d& uv, int i, int j) {
    std::uint8_t texel[3];
    triangle.texture->Sample(uv, texel);
    const osg::Vec3d colour =
        triangle.colours[0] * w[0] + triangle.colours[1] * w[1] + triangle.colours[2] * w[2];
    std::uint8_t* rgb = summary_.Colour(i, j);
    for (int c = 0; c < 3; ++c)
        rgb[c] = RoundedByte(texel[c] * colour[c]);
    summary_.Coverage(i, j) = 255;
    PixelSurface& pixel = pixels_[TileSummary::PixelIndex(i, j)];
    pixel.normal = osg::Vec3f(triangle.normals[0] * w[0] + triangle.normals[1] * w[1] +
                              triangle.normals[2] * w[2]);
    pixel.withNormals = triangle.withNormals;
    pixel.ownColours = triangle.ownColours;
}

// Each height sample's normal: the mean of those of the covered pixels nearest it (the
// pixels whose centres lie within half a sample spacing), unnormalised, so that a viewer
// gives the mesh there the light the pixels take on the whole.
void TopDownRaster::MeanNormals() {
    constexpr int kPixelsPerCell = kSummaryColourPixels / (kSummaryHeightSamples - 1);
    for (int j = 0; j < kSummaryHeightSamples; ++j)
        for (int i = 0; i < kSummaryHeightSamples; ++i) {
            osg::Vec3d sum;
            int count = 0;
            for (int y = std::max(0, j * kPixelsPerCell - kPixelsPerCell / 2);
                 y < std::min(kSummaryColourPixels, j * kPixelsPerCell + kPixelsPerCell / 2); ++y)
                for (int x = std::max(0, i * kPixelsPerCell - kPixelsPerCell / 2);
                     x < std::min(kSummaryColourPixels, i * kPixelsPerCell + kPixelsPerCell / 2);
                     ++x)
                    if (summary_.Coverage(x, y) != 0) {
                        sum += osg::Vec3d(pixels_[TileSummary::PixelIndex(x, y)].normal);
                        ++count;
                    }
            if (count > 0)
                StoreNormal(sum / count, summary_.Normal(i, j));
        }
}

} // namespace brindle::summary_detail
