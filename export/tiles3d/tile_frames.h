#pragma once

#include "export/tiles3d/block_frame.h"

#include <optional>

namespace brindle {

// The affine map from a block's offsets to its frame's east, north and up that the
// projection library's own map comes closest to about `centre`, within `size` of it: its
// value at the centre, and its slope along each axis from the points `size` either side
// (central differences, so the curvature of the map leaves the slope as it is). Across a tile
// of a few hundred metres it stays within a millimetre or two of the library's map; the
// earth's curvature is what it cannot follow, about size^2 / 2R. Nothing when the library
// fails on a point.
std::optional<ColumnMajor4x4> FitFrame(const BlockFrame& frame, const Point3& centre, double size);

// The product a * b of two affine maps: b first.
ColumnMajor4x4 Compose(const ColumnMajor4x4& a, const ColumnMajor4x4& b);
// The inverse of an affine map; nothing when it has none.
std::optional<ColumnMajor4x4> InverseAffine(const ColumnMajor4x4& map);
ColumnMajor4x4 IdentityMap();
// The map applied to a point.
Point3 MapPoint(const ColumnMajor4x4& map, const Point3& point);

} // namespace brindle
