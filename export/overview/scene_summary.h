#pragma once

#include "export/overview/extent.h"
#include "export/overview/tile_summary.h"

#include <osg/Node>

#include <cstddef>
#include <optional>

namespace brindle {

// Why a scene gave no summary.
enum class NoSummaryReason {
    NoTriangles,    // its inline content draws no triangle
    AllDegenerate,  // every triangle it draws has a vertex that is not finite, an index beyond
                    // its vertices, or no area seen from above
    Capped,         // it holds more triangles, nodes or nesting than a summary reads
    UnusableExtent, // the extent asked for is not finite, inverted or without area
};

struct SceneSummaryOptions {
    // The extent to summarise over, in the frame of the scene's root; by default the box of
    // the triangles' corners seen from above, less those that stray far from the rest
    // (CornerSpread).
    std::optional<Extent> extent;
    // Beyond this many triangles the scene gives no summary rather than part of one.
    std::size_t maxTriangles = 2'000'000;
};

struct SceneSummary {
    std::optional<TileSummary> summary;
    NoSummaryReason reason = NoSummaryReason::NoTriangles; // when there is no summary
    std::size_t triangles = 0;                             // the triangles the inline content draws
    std::size_t skipped = 0; // of those, the ones left out for the reasons AllDegenerate names
};

// A tile's summary from its parsed scene: the coarsest level it holds inline, seen from above.
// At a paged node only the children it holds are read (the files its ranges name never are);
// at a level-of-detail node only the children meant for the farthest views; transforms are
// applied. Each height sample is the highest surface over it, each colour pixel the texture
// of the topmost surface over its centre (a flat grey where that texture is not one of
// unsigned bytes in RGB or RGBA); it is lit when most triangles are drawn with the lighting
// on. Over a given extent, what no triangle covers is left without
// height, black and uncovered. Never throws; odd triangles are skipped.
SceneSummary SummariseScene(const osg::Node& scene, const SceneSummaryOptions& options = {});

} // namespace brindle
