#include "export/tiles3d/block_frame.h"

#include "export/origin/spatial_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace brindle {
namespace {

constexpr double kPi = 3.14159265358979323846;

// What one of the projection library's own programs, `program` (cs2cs or cct from proj-bin),
// makes of `points`: the first three numbers of each line of its output.
std::vector<Point3> ProjProgram(const std::string& program, const std::vector<Point3>& points) {
    std::ostringstream input;
    input.precision(17);
    for (const Point3& point : points)
        input << point[0] << ' ' << point[1] << ' ' << point[2] << '\n';
    const std::string command = "printf '%s' '" + input.str() + "' | " + program;
    std::vector<Point3> result;
    FILE* const pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "could not run " << command;
        return result;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        Point3 point{};
        if (std::sscanf(line, "%lf %lf %lf", &point[0], &point[1], &point[2]) == 3)
            result.push_back(point);
    }
    EXPECT_EQ(pclose(pipe), 0) << "failed (is proj-bin installed?): " << command;
    EXPECT_EQ(result.size(), points.size()) << command;
    return result;
}

// `points`, each in the CRS's own axis order, taken from `from` to `to` by cs2cs.
std::vector<Point3> Cs2cs(const std::string& from, const std::string& to,
                          const std::vector<Point3>& points) {
    return ProjProgram("cs2cs -f %.10f " + from + ' ' + to, points);
}

Point3 Times(const ColumnMajor4x4& m, const Point3& p) {
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
            m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

double Distance(const Point3& a, const Point3& b) {
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// The corners and the centre of a 2 km block, as offsets from its origin.
const std::vector<Point3> kBlockPoints = {
    {-1000, -1000, 12}, {1000, -1000, 40}, {1000, 1000, -5}, {-1000, 1000, 80}, {0, 0, 25}};
const Point3 kBlockCentre = {0, 0, 20};

struct Block {
    const char* srs;
    Point3 origin;   // easting, northing, height
    bool northFirst; // the CRS's own axes: what cs2cs takes
};

const Block kBlocks[] = {
    {"EPSG:4547", {440000.0, 3380000.0, 30.0}, true},   // CGCS2000 3-degree zone, 0.6 deg off
    {"EPSG:32650", {400000.0, 4400000.0, 50.0}, false}, // UTM 50N, 1.2 deg off its meridian
    // Heights above the geoid (EGM96), which the library applies from its own grid.
    {"EPSG:32650+5773", {400000.0, 4400000.0, 50.0}, false},
};

TEST(BlockFrame, EveryCornerLandsWithinACentimetreOfTheProjectionLibrary) {
    for (const Block& block : kBlocks) {
        SpatialReferences references;
        const auto frame = BlockFrame::Make(references, block.srs, block.origin, kBlockCentre);
        ASSERT_TRUE(frame) << block.srs;
        std::vector<Point3> inFrame = kBlockPoints;
        ASSERT_TRUE(frame->toFrame(inFrame));

        std::vector<Point3> projected;
        for (const Point3& p : kBlockPoints) {
            const double east = block.origin[0] + p[0], north = block.origin[1] + p[1];
            projected.push_back({block.northFirst ? north : east, block.northFirst ? east : north,
                                 block.origin[2] + p[2]});
        }
        const std::vector<Point3> truth = Cs2cs(block.srs, "EPSG:4978", projected);
        ASSERT_EQ(truth.size(), kBlockPoints.size());
        for (std::size_t i = 0; i < truth.size(); ++i) {
            const Point3 earth = Times(frame->frameToEarth(), inFrame[i]);
            EXPECT_LT(Distance(earth, truth[i]), 0.01) << block.srs << " point " << i;
            // A plain shift of the offsets into the frame misses by metres: the grid's
            // convergence and scale are what the library brings.
            const Point3 shifted = {kBlockPoints[i][0] - kBlockCentre[0],
                                    kBlockPoints[i][1] - kBlockCentre[1],
                                    kBlockPoints[i][2] - kBlockCentre[2]};
            if (i < 4) {
                EXPECT_GT(Distance(Times(frame->frameToEarth(), shifted), truth[i]), 1.0);
            }
        }
    }
}

TEST(BlockFrame, HeightsAboveANamedGeoidAreTakenToTheEllipsoid) {
    SpatialReferences references;
    const auto ellipsoidal =
        BlockFrame::Make(references, "EPSG:32650", kBlocks[1].origin, kBlockCentre);
    const auto geoidal =
        BlockFrame::Make(references, "EPSG:32650+5773", kBlocks[1].origin, kBlockCentre);
    ASSERT_TRUE(ellipsoidal && geoidal);
    const ColumnMajor4x4& a = ellipsoidal->frameToEarth();
    const ColumnMajor4x4& b = geoidal->frameToEarth();
    // The geoid lies some 10 m below the ellipsoid near Beijing.
    EXPECT_GT(Distance({a[12], a[13], a[14]}, {b[12], b[13], b[14]}), 5.0);
}

TEST(BlockFrame, TheFrameIsEastNorthUpOnTheEllipsoidAtTheBlocksCentre) {
    for (const Block& block : kBlocks) {
        SpatialReferences references;
        const auto frame = BlockFrame::Make(references, block.srs, block.origin, kBlockCentre);
        ASSERT_TRUE(frame) << block.srs;
        const ColumnMajor4x4& m = frame->frameToEarth();
        const double east = block.origin[0] + kBlockCentre[0];
        const double north = block.origin[1] + kBlockCentre[1];
        const double height = block.origin[2] + kBlockCentre[2];
        const Point3 own = {block.northFirst ? north : east, block.northFirst ? east : north,
                            height};
        // Latitude and longitude in cs2cs's order for EPSG:4979: latitude first.
        const std::vector<Point3> geographic = Cs2cs(block.srs, "EPSG:4979", {own});
        const std::vector<Point3> earth = Cs2cs(block.srs, "EPSG:4978", {own});
        ASSERT_EQ(geographic.size(), 1u);
        ASSERT_EQ(earth.size(), 1u);
        const double phi = geographic[0][0] * kPi / 180, lambda = geographic[0][1] * kPi / 180;
        const Point3 columns[3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[8], m[9], m[10]}};
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                const double dot = columns[a][0] * columns[b][0] + columns[a][1] * columns[b][1] +
                                   columns[a][2] * columns[b][2];
                EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-12) << block.srs;
            }
        // Up is the ellipsoid's normal: the geodetic latitude's direction, not the geocentric.
        const Point3 normal = {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda),
                               std::sin(phi)};
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(columns[2][i], normal[i], 1e-9) << block.srs;
        EXPECT_NEAR(columns[0][2], 0.0, 1e-12); // east is level
        EXPECT_GT(columns[1][2], 0.0);          // north climbs toward the pole
        EXPECT_LT(Distance({m[12], m[13], m[14]}, earth[0]), 0.01) << block.srs;
        EXPECT_EQ(m[3], 0.0);
        EXPECT_EQ(m[15], 1.0);
    }
}

TEST(BlockFrame, AnEnuBlockKeepsItsPlaceInItsOwnFrame) {
    SpatialReferences references;
    const auto frame =
        BlockFrame::Make(references, "ENU:30.5,114.25", {10.0, -20.0, 5.0}, kBlockCentre);
    ASSERT_TRUE(frame);
    std::vector<Point3> points = {{100.0, 200.0, 3.0}};
    ASSERT_TRUE(frame->toFrame(points));
    EXPECT_EQ(points[0], (Point3{110.0, 180.0, 8.0}));
    // The frame's origin: the latitude and longitude on the ellipsoid, as cs2cs puts them.
    const std::vector<Point3> truth = Cs2cs("EPSG:4979", "EPSG:4978", {{30.5, 114.25, 0.0}});
    ASSERT_EQ(truth.size(), 1u);
    const ColumnMajor4x4& m = frame->frameToEarth();
    EXPECT_LT(Distance({m[12], m[13], m[14]}, truth[0]), 0.01);
    // The library's own topocentric conversion takes the point back from the earth-centred
    // frame to where the block put it.
    const std::vector<Point3> back =
        ProjProgram("cct -d 6 +proj=topocentric +ellps=WGS84 +lat_0=30.5 +lon_0=114.25 +h_0=0",
                    {Times(m, points[0])});
    ASSERT_EQ(back.size(), 1u);
    EXPECT_LT(Distance(back[0], points[0]), 0.01);
}

TEST(BlockFrame, BlocksThatCannotBePlacedGetNoFrame) {
    SpatialReferences references;
    for (const char* srs : {"", "not a CRS", "EPSG:4326", "ENU:95,0", "EPSG:999999"})
        EXPECT_FALSE(BlockFrame::Make(references, srs, {0, 0, 0}, {0, 0, 0})) << srs;
}

} // namespace
} // namespace brindle
