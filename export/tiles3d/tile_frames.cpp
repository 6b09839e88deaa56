#include "export/tiles3d/tile_frames.h"

#include <cmath>
#include <vector>

namespace brindle {

std::optional<ColumnMajor4x4> FitFrame(const BlockFrame& frame, const Point3& centre, double size) {
    if (!std::isfinite(size) || size <= 0.0)
        size = 1.0;
    std::vector<Point3> points = {centre};
    for (int axis = 0; axis < 3; ++axis)
        for (const double side : {-1.0, 1.0}) {
            Point3 point = centre;
            point[axis] += side * size;
            points.push_back(point);
        }
    if (!frame.toFrame(points))
        return std::nullopt;
    ColumnMajor4x4 map = IdentityMap();
    for (int axis = 0; axis < 3; ++axis)
        for (int row = 0; row < 3; ++row)
            map[4 * axis + row] =
                (points[2 + 2 * axis][row] - points[1 + 2 * axis][row]) / (2.0 * size);
    // The centre goes where the library puts it.
    for (int row = 0; row < 3; ++row) {
        double moved = 0.0;
        for (int axis = 0; axis < 3; ++axis)
            moved += map[4 * axis + row] * centre[axis];
        map[12 + row] = points[0][row] - moved;
    }
    for (const double value : map)
        if (!std::isfinite(value))
            return std::nullopt;
    return map;
}

ColumnMajor4x4 Compose(const ColumnMajor4x4& a, const ColumnMajor4x4& b) {
    ColumnMajor4x4 product{};
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += a[4 * k + row] * b[4 * column + k];
            product[4 * column + row] = sum;
        }
    return product;
}

std::optional<ColumnMajor4x4> InverseAffine(const ColumnMajor4x4& m) {
    // The linear part's inverse by its adjugate, then the translation taken back through it.
    const double a = m[0], b = m[4], c = m[8];
    const double d = m[1], e = m[5], f = m[9];
    const double g = m[2], h = m[6], i = m[10];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (!std::isfinite(det) || std::abs(det) < 1e-300)
        return std::nullopt;
    ColumnMajor4x4 inverse = IdentityMap();
    const double rows[3][3] = {
        {(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det},
        {(f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det},
        {(d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det}};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            inverse[4 * column + row] = rows[row][column];
    for (int row = 0; row < 3; ++row)
        inverse[12 + row] = -(rows[row][0] * m[12] + rows[row][1] * m[13] + rows[row][2] * m[14]);
    return inverse;
}

ColumnMajor4x4 IdentityMap() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Point3 MapPoint(const ColumnMajor4x4& m, const Point3& p) {
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
            m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

} // namespace brindle
