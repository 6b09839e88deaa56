#pragma once

#include "export/overview/overview_manifest.h"
#include "export/overview/tile_summary.h"

#include <osg/BoundingBox>
#include <osg/BoundingSphere>

#include <array>

namespace brindle {

// Where an overview node stands in space: the box of what its tiles take up, as their summaries
// show them, never the square of its quadtree cell. A node of a block whose side is no power of
// two covers cells that hold no tile; a box over those would put the block's centre off its
// tiles' and open a viewer on the block small in a corner.

// A tile's summary: its extent, from its lowest height sample to its highest; invalid where it
// has no height or no area.
osg::BoundingBoxd TileBox(const TileSummary& summary);

// A node's box from its children's boxes together (`children`) and its own summary: the coarse
// mesh lies over the children, with skirts hanging `relativeSkirtDepth` of its extent's side
// below it. Across, the box is the children's: where the mesh reaches past their edge, it does
// so by less than one of its height samples, which the sphere around the box has room for
// everywhere but at its corners.
osg::BoundingBoxd NodeBox(const osg::BoundingBoxd& children, const TileSummary* summary,
                          double relativeSkirtDepth);

// The sphere a node stores around its box: centred as the file stores centres, its radius
// rounded up to hold every corner.
osg::BoundingSphere StoredSphere(const osg::BoundingBoxd& box);

std::array<double, 6> BoxArray(const osg::BoundingBoxd& box);
osg::BoundingBoxd BoxOf(const ManifestNode& node);

} // namespace brindle
