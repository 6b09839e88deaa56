#pragma once
// The overview benchmark's figures and its verdict on each target.
#include "bench/overview_block.h"
#include "bench/overview_common.h"
#include "bench/overview_export.h"
#include "bench/overview_measure.h"

#include <vector>

namespace brindle::bench {

// One block of roots-only tiles and what was measured on it.
struct Scale {
    int tiles = 0;
    OverviewBlock block;
    IndexBuild paged, overview, rerun;
    BlockBytes bytes;
    OverviewWalk walk;
    Results far;
    bool viewed = false;
};

// The block whose finer levels are written: the builds and the pyramid's bytes.
struct LevelledRun {
    int tiles = 0;
    bool full = true; // of the size the targets are set for
    IndexBuild paged, overview;
    BlockBytes bytes;
};

struct Measurements {
    std::vector<Scale> scales; // smallest first
    int mainTiles = 0;         // the block the overview is compared with the proxy index on
    int largestFullTiles = 0;  // the largest block's size in a full run
    int mainFullTiles = 0;     // the main block's size in a full run
    Results proxy;             // the proxy index's view of the main block
    Results empty;             // an index of nothing viewed alike: the viewer's own share
    bool proxyViewed = false, emptyViewed = false;
    double psnr = 0, unlitPsnr = 0, blockShare = 0;
    bool psnrMeasured = false;
    LevelledRun levelled;
};

// Prints the figures measured, then a PASS or FAIL line per target; true when all pass.
bool ReportTargets(const Measurements& m);

} // namespace brindle::bench
