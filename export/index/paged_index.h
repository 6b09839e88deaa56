#pragma once

#include "export/protocol/tile_check_protocol.h"

#include <osg/Group>
#include <osg/ref_ptr>

#include <string>
#include <vector>

namespace brindle {

// One tile of a paged index: its entry name and the bound of what its file holds.
struct PagedEntry {
    std::string name;
    TileBound bound;
};

// The most children a group of the paged tree holds.
constexpr std::size_t kPagedFanOut = 32;
// How many pixels a tile's bound must cover on screen before a viewer loads it.
constexpr float kPagedLoadPixels = 4.0f;

// A tree of groups over one leaf per entry: a paged node that a viewer loads only while the
// tile is in view and large enough, or, for a tile whose bound is unknown, a proxy node that
// loads it at once. Leaves are grouped by where their tiles lie, at most kPagedFanOut to a
// group, level by level (a sort-tile-recursive packing of the bounds' centres in the
// horizontal plane): each group covers a compact patch of the block whatever the tiles'
// names, so culling a view costs about the logarithm of the block's size. Equal places are
// ordered by entry, so the same entries always give the same tree. Proxy leaves, which have
// no place, keep their entry order in a branch of their own beside the paged ones. Each group of
// placed leaves stores its own sphere, centred on the box of its tiles' spheres (a group left to
// compute it would end up beside the block), so a viewer opens on the block's middle.
osg::ref_ptr<osg::Group> BuildPagedTree(const std::vector<PagedEntry>& entries);

} // namespace brindle
