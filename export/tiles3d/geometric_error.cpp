#include "export/tiles3d/geometric_error.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace brindle {
namespace {

// The viewers the errors are made for: a 1920x1080 screen (only its shape matters), at the
// two ends of the range of vertical fields of view.
constexpr double kScreenWidth = 1920.0;
constexpr double kScreenHeight = 1080.0;
constexpr double kFieldsOfView[] = {30.0, 60.0}; // degrees, vertical
// The web viewer's default maximum screen-space error, in pixels.
constexpr double kMaximumScreenSpaceError = 16.0;

double HalfAngleTangent(double degrees) {
    return std::tan(degrees * 3.14159265358979323846 / 360.0);
}

// The eye distance from a bound's centre at which the scene graph finds it `pixels` large:
// its pixel size is the radius over the distance times the length of the screen's two pixel
// scale vectors, sqrt(H^2 / tan^2 + (W^2 + H^2) / 2), not the screen's height alone.
double PixelSwitchDistance(double radius, double pixels, double tangent) {
    const double h = kScreenHeight;
    const double w = kScreenWidth;
    return radius / pixels * std::sqrt(h * h / (tangent * tangent) + (w * w + h * h) / 2.0);
}

// Metres of distance per metre of error at which the web viewer's error reaches its maximum.
double DistancePerError(double tangent) {
    return kScreenHeight / (2.0 * tangent * kMaximumScreenSpaceError);
}

// The error that puts the web viewer's switch, at the two fields of view, as far short of the
// scene graph's switch `switchAt(tangent)` at one as beyond it at the other: the web viewer
// refines at depth + error * DistancePerError from the centre.
template <typename SwitchDistance> double BalancedError(SwitchDistance switchAt, double depth) {
    double sumOfRatios = 0.0; // of 1/switch distance times DistancePerError
    double sumOfDepths = 0.0; // of depth/switch distance
    for (const double degrees : kFieldsOfView) {
        const double tangent = HalfAngleTangent(degrees);
        const double distance = switchAt(tangent);
        sumOfRatios += DistancePerError(tangent) / distance;
        sumOfDepths += depth / distance;
    }
    const double count = static_cast<double>(std::size(kFieldsOfView));
    return std::max(0.0, (count - sumOfDepths) / sumOfRatios);
}

bool Positive(double value) {
    return std::isfinite(value) && value > 0.0;
}

} // namespace

double GeometricErrorForPixelSize(double radius, double pixels, double depth) {
    if (!Positive(radius) || !Positive(pixels))
        return 0.0;
    depth = std::isfinite(depth) ? std::max(0.0, depth) : 0.0;
    return BalancedError(
        [&](double tangent) { return PixelSwitchDistance(radius, pixels, tangent); }, depth);
}

double GeometricErrorForDistance(double range, double depth) {
    if (!Positive(range))
        return 0.0;
    depth = std::isfinite(depth) ? std::max(0.0, depth) : 0.0;
    return BalancedError([&](double) { return range; }, depth);
}

void KeepErrorsFromGrowing(TilesetTile& root) {
    if (!std::isfinite(root.geometricError) || root.geometricError < 0.0)
        root.geometricError = 0.0;
    // Iterative: a tree of tile files may be deep and is the user's.
    std::vector<TilesetTile*> pending{&root};
    while (!pending.empty()) {
        TilesetTile* const parent = pending.back();
        pending.pop_back();
        for (TilesetTile& child : parent->children) {
            if (!std::isfinite(child.geometricError) || child.geometricError < 0.0)
                child.geometricError = 0.0;
            child.geometricError = std::min(child.geometricError, parent->geometricError);
            pending.push_back(&child);
        }
    }
}

} // namespace brindle
