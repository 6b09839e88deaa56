#include "export/overview/extent.h"

#include <gtest/gtest.h>

#include <limits>

namespace brindle {
namespace {

// Only an extent with an area can have a grid laid over it: a damaged tile's bound may be
// anything, and a grid over a line or a point divides by nothing.
TEST(Extent, OnlyAFiniteUninvertedExtentWithWidthAndDepthHasAnArea) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(HasArea(Extent{0, 0, 1, 1}));
    EXPECT_TRUE(HasArea(Extent{-5e6, 2e6, -4.99e6, 2.01e6}));
    EXPECT_TRUE(HasArea(Extent{0, 0, 1e-9, 1e-9}));
    EXPECT_FALSE(HasArea(Extent{}));
    EXPECT_FALSE(HasArea(Extent{0, 0, 1, 0})) << "a line";
    EXPECT_FALSE(HasArea(Extent{0, 0, 0, 1})) << "a line";
    EXPECT_FALSE(HasArea(Extent{1, 0, 0, 1})) << "inverted";
    EXPECT_FALSE(HasArea(Extent{0, 1, 1, 0})) << "inverted";
    EXPECT_FALSE(HasArea(Extent{0, 0, kNaN, 1}));
    EXPECT_FALSE(HasArea(Extent{kNaN, 0, 1, 1}));
    EXPECT_FALSE(HasArea(Extent{0, -kInf, 1, 1}));
    EXPECT_FALSE(HasArea(Extent{0, 0, 1, kInf}));
    EXPECT_FALSE(HasArea(ExtentOf(osg::BoundingBoxd()))) << "an empty box";
    EXPECT_TRUE(HasArea(ExtentOf(osg::BoundingBoxd(0, 0, 0, 2, 3, 0))));
}

} // namespace
} // namespace brindle
