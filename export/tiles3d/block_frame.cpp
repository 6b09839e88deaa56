#include "export/tiles3d/block_frame.h"

#include "export/origin/globe_transform.h"
#include "export/origin/spatial_reference.h"

#include <cmath>

namespace brindle {
namespace {

constexpr double kPi = 3.14159265358979323846;
// WGS 84, the globe the tileset's earth-centred frame is on.
constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;

Point3 Minus(const Point3& a, const Point3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

double Dot(const Point3& a, const Point3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Point3 Column(const ColumnMajor4x4& matrix, int column) {
    return {matrix[4 * column], matrix[4 * column + 1], matrix[4 * column + 2]};
}

} // namespace

ColumnMajor4x4 EastNorthUpToEarth(double latitude, double longitude, double height) {
    const double phi = latitude * kPi / 180.0;
    const double lambda = longitude * kPi / 180.0;
    const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
    const double sinLambda = std::sin(lambda), cosLambda = std::cos(lambda);
    const double e2 = kFlattening * (2.0 - kFlattening);
    const double primeVertical = kSemiMajorAxis / std::sqrt(1.0 - e2 * sinPhi * sinPhi);
    const Point3 centre = {(primeVertical + height) * cosPhi * cosLambda,
                           (primeVertical + height) * cosPhi * sinLambda,
                           (primeVertical * (1.0 - e2) + height) * sinPhi};
    const Point3 east = {-sinLambda, cosLambda, 0.0};
    const Point3 north = {-sinPhi * cosLambda, -sinPhi * sinLambda, cosPhi};
    const Point3 up = {cosPhi * cosLambda, cosPhi * sinLambda, sinPhi};
    return {east[0], east[1], east[2], 0.0, north[0],  north[1],  north[2],  0.0,
            up[0],   up[1],   up[2],   0.0, centre[0], centre[1], centre[2], 1.0};
}

BlockFrame::~BlockFrame() = default;

std::unique_ptr<BlockFrame> BlockFrame::Make(SpatialReferences& references, std::string_view srs,
                                             const Point3& origin, const Point3& centre) {
    std::unique_ptr<BlockFrame> frame(new BlockFrame);
    frame->origin_ = origin;
    if (const std::optional<EnuFrame> enu = ParseEnuFrame(srs)) {
        frame->frameToEarth_ = EastNorthUpToEarth(enu->latitude, enu->longitude, 0.0);
        return frame;
    }
    if (references.kindOf(srs) != SrsKind::Projected)
        return nullptr;
    frame->globe_ = references.globeTransform(srs);
    if (!frame->globe_)
        return nullptr;
    // The frame's origin where the library puts the centre, its axes from the centre's
    // latitude and longitude: up is the ellipsoid's normal there.
    Point3 geographic = {origin[0] + centre[0], origin[1] + centre[1], origin[2] + centre[2]};
    Point3 earthCentred = geographic;
    if (!frame->globe_->toGeographic(geographic.data(), 1) ||
        !frame->globe_->toEarthCentred(earthCentred.data(), 1))
        return nullptr;
    frame->frameToEarth_ = EastNorthUpToEarth(geographic[1], geographic[0], geographic[2]);
    for (int row = 0; row < 3; ++row)
        frame->frameToEarth_[12 + row] = earthCentred[row];
    return frame;
}

bool BlockFrame::toFrame(std::vector<Point3>& points) const {
    static_assert(sizeof(Point3) == 3 * sizeof(double), "points are handed over as one array");
    if (points.empty())
        return true;
    for (Point3& point : points)
        for (int axis = 0; axis < 3; ++axis)
            point[axis] += origin_[axis];
    if (!globe_)
        return true; // an ENU block's points are in its frame already
    if (!globe_->toEarthCentred(points.front().data(), points.size()))
        return false;
    const Point3 east = Column(frameToEarth_, 0);
    const Point3 north = Column(frameToEarth_, 1);
    const Point3 up = Column(frameToEarth_, 2);
    const Point3 centre = Column(frameToEarth_, 3);
    for (Point3& point : points) {
        const Point3 offset = Minus(point, centre);
        point = {Dot(offset, east), Dot(offset, north), Dot(offset, up)};
    }
    return true;
}

} // namespace brindle
