#pragma once

#include "export/overview/tile_summary.h"

#include <array>
#include <vector>

namespace brindle {

// An overview node's children's summaries by quadrant, as OverviewNode::children holds them
// (q = dx + 2 * dy, towards higher x and y); null where a quadrant has none.
using SummaryQuadrants = std::array<const TileSummary*, 4>;

// The summary over an extent made from summaries that lie in it, at the summary's own sizes.
// Colours are a box filter of the sources' pixels, weighted by how much of each is covered;
// heights are the sources' own at each sample point (interpolated where it falls between
// theirs), so that neighbouring nodes agree along a shared edge, or, where that has no data,
// the mean of the sources' samples with data nearer than one of its sample spacings. What no source
// covers stays without height and black, uncovered. Sources whose extents are not usable are left
// out. Normals are the mean of the sources' around each sample with a height, within one of
// its spacings. It is lit, drawn with normals or in colours of its own when at least half the
// sources are.
TileSummary MergeSummaries(const Extent& extent, const std::vector<const TileSummary*>& sources);

// The extent of the node that holds these children: theirs together, widened by a child's size
// over a side whose quadrants are empty, so that each child keeps its own quarter. Not usable
// when no child has a usable extent.
Extent MosaicExtent(const SummaryQuadrants& children);

// A node's summary from its children's: their mosaic at half their resolution, so each level is
// coarser than the one below it.
TileSummary MosaicSummaries(const SummaryQuadrants& children);

} // namespace brindle
