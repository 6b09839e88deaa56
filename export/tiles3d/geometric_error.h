#pragma once

#include "export/tiles3d/tileset_tile.h"

namespace brindle {

// A tile's geometric error from the switch of the paged level of detail it was read from, so
// that a web viewer at its default screen-space error of 16 pixels refines where the scene
// graph's viewer would show the finer files. One error serves every viewer, where the switch
// depends on the screen's shape and field of view: the errors are made for 16:9 screens with a
// vertical field of view from 30 to 60 degrees, and are nearest for the middle of that range.
// docs/design.md derives them.

// The error of a tile whose finer files are shown once its bound (a sphere of `radius` about
// the level's centre) covers `pixels` or more on screen. `depth`: the tile's box's smallest
// half axis, by which the web viewer, measuring to the box where the scene graph measures to
// the centre, is nearer the tile. Never negative.
double GeometricErrorForPixelSize(double radius, double pixels, double depth);

// The error of a tile whose finer files are shown once the eye is nearer than `range` to the
// level's centre. A range is in metres where the web viewer's error is in pixels, so the two
// agree only for one field of view: within about 37% across the range above. Never negative.
double GeometricErrorForDistance(double range, double depth);

// Lowers each tile's error to its parent's where it is larger, from the root down: a viewer
// that refined a tile must not find its children coarser than it.
void KeepErrorsFromGrowing(TilesetTile& root);

} // namespace brindle
