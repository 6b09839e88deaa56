#pragma once

#include "export/overview/extent.h"
#include "export/overview/scene_triangle.h"
#include "export/overview/tile_summary.h"

#include <osg/Vec2d>
#include <osg/Vec3f>

#include <array>
#include <cstddef>
#include <vector>

// Triangles drawn from above into a summary.
namespace brindle::summary_detail {

// How many times over, on average, the triangles may cover each height sample and colour
// pixel: a real surface covers most of its extent once and some of it a few times.
constexpr std::size_t kMaxCoverDepth = 512;

class CoverTest;

// Draws triangles into a summary from above: the highest at each height sample, the topmost
// at each colour pixel's centre. A point on a triangle's edge is covered by it, so the
// triangles of a surface leave no sample between them.
class TopDownRaster {
public:
    // `extent` has an area.
    explicit TopDownRaster(const Extent& extent);

    // Once the triangles drawn have cost more than a surface's few covers of the extent, the
    // rest are passed over and the summary is not to be taken.
    bool overworked() const { return work_ > kMaxWork; }

    void Draw(const SceneTriangle& triangle);
    // The summary drawn: each height sample the highest surface over it, none where no
    // triangle covers it; lit, with normals and in colours of its own as most of it is.
    TileSummary Finish();

private:
    // What the topmost surface over a colour pixel's centre is drawn with, besides its colour.
    struct PixelSurface {
        osg::Vec3f normal{0, 0, 1};
        bool withNormals = false, ownColours = false;
    };

    void TakePixel(const SceneTriangle& triangle, const std::array<double, 3>& w,
                   const osg::Vec2d& uv, int i, int j);
    void MeanNormals();
    template <typename Visit>
    void ForEachCovered(const CoverTest& cover, const Extent& box, double stepX, double stepY,
                        double offset, int count, Visit&& visit);

    static constexpr std::size_t kMaxWork =
        kMaxCoverDepth * (std::size_t{kSummaryColourPixels} * kSummaryColourPixels +
                          std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples);

    Extent extent_;
    double sampleX_, sampleY_, pixelX_, pixelY_;
    std::vector<double> top_, highest_;
    std::vector<PixelSurface> pixels_ =
        std::vector<PixelSurface>(std::size_t{kSummaryColourPixels} * kSummaryColourPixels);
    std::size_t work_ = 0;
    std::size_t drawn_ = 0, lit_ = 0; // triangles
    TileSummary summary_;
};

} // namespace brindle::summary_detail
