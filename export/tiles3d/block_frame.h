#pragma once

#include <array>
#include <memory>
#include <string_view>
#include <vector>

namespace brindle {

class GlobeTransform;
class SpatialReferences;

using Point3 = std::array<double, 3>;
// A 4x4 matrix as a tileset writes it: column after column.
using ColumnMajor4x4 = std::array<double, 16>;

// Where a block lies on the globe: an east-north-up frame at its centre, the tileset's root
// transform, and the way from the block's own coordinates (offsets from its origin, in its
// SRS's units) into that frame. A projected block's points go through the projection library
// one by one, so that they land where it puts them, grid convergence and scale factor
// included; an "ENU:lat,lon" block's points are in such a frame already and keep their place
// in it.
class BlockFrame {
public:
    // The frame of a block in `srs` (a CRS the projection library reads, or "ENU:lat,lon")
    // whose coordinates are offsets from `origin`, with the frame at `centre` (an offset too;
    // an ENU block's frame is its own, at its origin). Nothing for an SRS that cannot be
    // placed: none, one the library cannot read or take to WGS 84, or a geographic one whose
    // offsets would be degrees. `references` must outlive what is made.
    static std::unique_ptr<BlockFrame> Make(SpatialReferences& references, std::string_view srs,
                                            const Point3& origin, const Point3& centre);
    ~BlockFrame();
    BlockFrame(const BlockFrame&) = delete;
    BlockFrame& operator=(const BlockFrame&) = delete;

    // From the frame's east, north, up to earth-centred, earth-fixed (WGS 84): the root
    // transform.
    const ColumnMajor4x4& frameToEarth() const { return frameToEarth_; }
    // In place, the block's points (offsets from its origin) to the frame's east, north, up.
    // False when the library could not take every one; the points are then unspecified.
    bool toFrame(std::vector<Point3>& points) const;

private:
    BlockFrame() = default;

    std::unique_ptr<GlobeTransform> globe_; // none for an ENU block
    Point3 origin_{};
    ColumnMajor4x4 frameToEarth_{};
};

// The east-north-up frame at `latitude`, `longitude` (degrees) and ellipsoidal `height` on
// WGS 84, as a column-major matrix from the frame to earth-centred coordinates.
ColumnMajor4x4 EastNorthUpToEarth(double latitude, double longitude, double height);

} // namespace brindle
