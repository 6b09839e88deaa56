// A tile's extent less the corners that stray far from it, as the worker finds it.
#include "export/overview/corner_spread.h"

#include <gtest/gtest.h>

#include <vector>

namespace brindle {
namespace {

// The corners of a grid of `cells` x `cells` squares over [x0, x0 + side] x [y0, y0 + side], two
// triangles a square, as a mesh hands them over: each inner vertex the corner of six triangles.
std::vector<osg::Vec3d> GridCorners(double x0, double y0, double side, int cells) {
    std::vector<osg::Vec3d> corners;
    const double step = side / cells;
    for (int j = 0; j < cells; ++j)
        for (int i = 0; i < cells; ++i) {
            const osg::Vec3d a(x0 + i * step, y0 + j * step, 10), b = a + osg::Vec3d(step, 0, 0),
                                                                  c = a + osg::Vec3d(0, step, 0),
                                                                  d = a + osg::Vec3d(step, step, 0);
            for (const osg::Vec3d& corner : {a, b, d, a, d, c})
                corners.push_back(corner);
        }
    return corners;
}

Extent ExtentKept(const std::vector<osg::Vec3d>& corners) {
    CornerSpread spread;
    for (const osg::Vec3d& corner : corners)
        spread.add(corner);
    if (!spread.strays())
        return ExtentOf(spread.box());
    osg::BoundingBoxd kept;
    for (const osg::Vec3d& corner : corners)
        if (spread.holds(corner))
            kept.expandBy(corner);
    return ExtentOf(kept);
}

void ExpectExtent(const Extent& got, const Extent& want) {
    EXPECT_DOUBLE_EQ(got.minX, want.minX);
    EXPECT_DOUBLE_EQ(got.minY, want.minY);
    EXPECT_DOUBLE_EQ(got.maxX, want.maxX);
    EXPECT_DOUBLE_EQ(got.maxY, want.maxY);
}

// A vertex moved 50 km out, with all six triangles it is a corner of, is no part of the tile's
// extent, in either direction, whether the tile's corners are few, many, or more than are kept.
TEST(CornerSpread, AVertexFiftyKilometresOutIsNoPartOfTheExtent) {
    for (const int cells : {4, 16, 120}) {
        for (const osg::Vec3d& out : {osg::Vec3d(50'000, 0, 0), osg::Vec3d(-30'000, -40'000, 0)}) {
            std::vector<osg::Vec3d> corners = GridCorners(500'000, 3'400'000, 100, cells);
            const osg::Vec3d inner(500'000 + 100.0 / cells, 3'400'000 + 100.0 / cells, 10);
            int moved = 0;
            for (osg::Vec3d& corner : corners)
                if (corner == inner) {
                    corner += out;
                    ++moved;
                }
            ASSERT_EQ(moved, 6);
            ExpectExtent(ExtentKept(corners), Extent{500'000, 3'400'000, 500'100, 3'400'100});
        }
    }
}

// A surface that thins out keeps all of itself: a dense bank beside a lake drawn as two large
// triangles three times as wide, and a tile of a few triangles, which tells no bulk from strays.
TEST(CornerSpread, ASurfaceThatThinsOutKeepsAllOfItself) {
    std::vector<osg::Vec3d> bank = GridCorners(0, 0, 25, 20);
    for (const osg::Vec3d& corner :
         {osg::Vec3d(25, 0, 0), osg::Vec3d(100, 0, 0), osg::Vec3d(100, 25, 0), osg::Vec3d(25, 0, 0),
          osg::Vec3d(100, 25, 0), osg::Vec3d(25, 25, 0)})
        bank.push_back(corner);
    ExpectExtent(ExtentKept(bank), Extent{0, 0, 100, 25});

    std::vector<osg::Vec3d> few = GridCorners(0, 0, 10, 3);
    few.push_back(osg::Vec3d(50'000, 0, 0));
    ExpectExtent(ExtentKept(few), Extent{0, 0, 50'000, 10});
}

} // namespace
} // namespace brindle
