#pragma once

#include "export/export_report.h"
#include "export/overview/tile_summary.h"

namespace brindle {

// The block as the overview's top node sees it from above: its colours, north up, cut to what
// the tiles cover and as wide against high as that is on the ground, at no more pixels than the
// summary has. What no tile covers is white. Empty when nothing is covered.
ReportImage PictureFromAbove(const TileSummary& top);

} // namespace brindle
