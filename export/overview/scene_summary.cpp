#include "export/overview/scene_summary.h"

#include "export/overview/corner_spread.h"
#include "export/overview/inline_triangles.h"
#include "export/overview/top_down_raster.h"

#include <osg/BoundingBox>

#include <cstddef>
#include <optional>

namespace brindle {
namespace {

using namespace summary_detail;

// Why a walk gives no summary, if it does not.
std::optional<NoSummaryReason> FailureOf(const WalkOutcome& walk) {
    if (walk.capped)
        return NoSummaryReason::Capped;
    if (walk.triangles == 0)
        return NoSummaryReason::NoTriangles;
    if (walk.skipped == walk.triangles)
        return NoSummaryReason::AllDegenerate;
    return std::nullopt;
}

SceneSummary Failed(NoSummaryReason reason, const WalkOutcome& walk) {
    SceneSummary result;
    result.reason = reason;
    result.triangles = walk.triangles;
    result.skipped = walk.skipped;
    return result;
}

// The box of the corners that are the tile's: a walk of its own, since which those are is known
// only once every corner is.
Extent ExtentWithoutStrays(const osg::Node& scene, std::size_t maxTriangles,
                           const CornerSpread& spread) {
    if (!spread.strays())
        return ExtentOf(spread.box());
    osg::BoundingBoxd kept;
    WalkInlineTriangles(scene, maxTriangles, [&](const SceneTriangle& triangle) {
        for (const osg::Vec3d& corner : triangle.corners)
            if (spread.holds(corner))
                kept.expandBy(corner);
    });
    return ExtentOf(kept);
}

} // namespace

SceneSummary SummariseScene(const osg::Node& scene, const SceneSummaryOptions& options) {
    Extent extent;
    if (options.extent) {
        extent = *options.extent;
    } else {
        CornerSpread spread;
        const WalkOutcome measured =
            WalkInlineTriangles(scene, options.maxTriangles, [&](const SceneTriangle& triangle) {
                for (const osg::Vec3d& corner : triangle.corners)
                    spread.add(corner);
            });
        if (const std::optional<NoSummaryReason> failure = FailureOf(measured))
            return Failed(*failure, measured);
        extent = ExtentWithoutStrays(scene, options.maxTriangles, spread);
    }
    if (!HasArea(extent))
        return Failed(NoSummaryReason::UnusableExtent, WalkOutcome{});
    TopDownRaster raster(extent);
    const WalkOutcome drawn = WalkInlineTriangles(
        scene, options.maxTriangles, [&](const SceneTriangle& triangle) { raster.Draw(triangle); });
    if (const std::optional<NoSummaryReason> failure = FailureOf(drawn))
        return Failed(*failure, drawn);
    if (raster.overworked())
        return Failed(NoSummaryReason::Capped, drawn);
    SceneSummary result;
    result.summary = raster.Finish();
    result.triangles = drawn.triangles;
    result.skipped = drawn.skipped;
    return result;
}

} // namespace brindle
