#pragma once

#include "export/protocol/tile_check_protocol.h"

#include <osg/Node>

namespace brindle {

// The bound of what a loaded tile holds, as far as its own file tells: its drawables, and
// the user-defined centre and radius of its paged and proxy nodes. A reference to another
// file without such a centre leaves the bound unknown, since only that file could tell.
TileBound BoundOfTile(osg::Node& scene);

} // namespace brindle
