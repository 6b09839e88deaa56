#include "export/origin/spatial_reference.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

// CGCS2000 / 3-degree Gauss-Kruger CM 114E as a producer's WKT writes it: no axes, so east
// before north, where the authority's definition has north first.
constexpr char kGaussKrugerWkt[] =
    "PROJCS[\"CGCS2000 / 3-degree Gauss-Kruger CM 114E\",GEOGCS[\"China Geodetic Coordinate "
    "System 2000\",DATUM[\"China_2000\",SPHEROID[\"CGCS2000\",6378137,298.257222101]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"latitude_of_origin\",0],"
    "PARAMETER[\"central_meridian\",114],PARAMETER[\"scale_factor\",1],"
    "PARAMETER[\"false_easting\",500000],PARAMETER[\"false_northing\",0],"
    "UNIT[\"metre\",1],AUTHORITY[\"EPSG\",\"4547\"]]";

// A projected CRS of no authority: UTM zone 50N written out.
constexpr char kUtmWkt[] =
    "PROJCS[\"my UTM 50N\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,"
    "298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"latitude_of_origin\",0],"
    "PARAMETER[\"central_meridian\",117],PARAMETER[\"scale_factor\",0.9996],"
    "PARAMETER[\"false_easting\",500000],PARAMETER[\"false_northing\",0],UNIT[\"metre\",1]]";

TEST(SpatialReferences, TellProjectedFromGeographicFromLocalFrames) {
    SpatialReferences references;
    const struct {
        std::string text;
        SrsKind kind;
    } cases[] = {
        {"EPSG:4326", SrsKind::Geographic},
        {"EPSG:4490", SrsKind::Geographic}, // CGCS2000, in degrees
        {"epsg:4490", SrsKind::Geographic},
        {"EPSG:4547", SrsKind::Projected}, // CGCS2000 3-degree zone, in metres
        {" EPSG:32650\n", SrsKind::Projected},
        {"EPSG:4978", SrsKind::Projected},      // geocentric: metres too
        {"EPSG:4547+5737", SrsKind::Projected}, // with heights: the horizontal part decides
        {"+proj=longlat +datum=WGS84", SrsKind::Geographic},
        {"+proj=utm +zone=50 +datum=WGS84", SrsKind::Projected},
        {kGaussKrugerWkt, SrsKind::Projected},
        {kUtmWkt, SrsKind::Projected},
        {"ENU:30.52,114.31", SrsKind::Enu},
        {"enu: -30.5 , +114.31 ", SrsKind::Enu},
        {"ENU:91,114", SrsKind::Unknown},
        {"ENU:30.52", SrsKind::Unknown},
        {"ENU:30.52,114.31,5", SrsKind::Unknown},
        // Numbers as a metadata.xml origin takes them: one sign, no more.
        {"ENU:+-30.52,114.31", SrsKind::Unknown},
        {"ENU:30.52,++114.31", SrsKind::Unknown},
        {"", SrsKind::Unknown},
        {"   ", SrsKind::Unknown},
        {"EPSG:999999", SrsKind::Unknown},
        {"local", SrsKind::Unknown},
        {"+proj=merc +type=coordinate_operation", SrsKind::Unknown},
        {"EPSG:5737", SrsKind::Unknown}, // heights alone
        {std::string("EPSG:4326\0EPSG:4547", 19), SrsKind::Unknown},
        {"\xff\xfe<>", SrsKind::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(references.kindOf(c.text), c.kind) << c.text;
}

TEST(SpatialReferences, AnOverlongTextIsUnknownEvenWhenItWouldParse) {
    SpatialReferences references;
    // A valid WKT padded with spaces inside it past the bound.
    std::string padded = kUtmWkt;
    padded.insert(padded.find(",GEOGCS"), kMaxSrsTextBytes, ' ');
    EXPECT_EQ(references.kindOf(padded), SrsKind::Unknown);
    std::string fits = kUtmWkt;
    fits.insert(fits.find(",GEOGCS"), kMaxSrsTextBytes - fits.size(), ' ');
    ASSERT_EQ(fits.size(), kMaxSrsTextBytes);
    EXPECT_EQ(references.kindOf(fits), SrsKind::Projected) << "the bound itself is allowed";
    EXPECT_EQ(references.kindOf(std::string(1 << 20, 'x')), SrsKind::Unknown);
}

TEST(SpatialReferences, AreTheSameWhenTheyNameOneCrsHoweverWritten) {
    SpatialReferences references;
    EXPECT_TRUE(references.same("EPSG:4547", " epsg:4547 "));
    EXPECT_TRUE(references.same("EPSG:4547", kGaussKrugerWkt));
    EXPECT_TRUE(references.same("EPSG:4326", "+proj=longlat +datum=WGS84 +no_defs"));
    EXPECT_TRUE(references.same("ENU:30.52,114.31", "ENU: 30.520, 114.3100"));
    EXPECT_TRUE(references.same("garbage", " garbage"));

    EXPECT_FALSE(references.same("EPSG:4547", "EPSG:4548")); // the next zone
    EXPECT_FALSE(references.same("EPSG:4547", "EPSG:4490"));
    EXPECT_FALSE(references.same("EPSG:4547", kUtmWkt));
    EXPECT_FALSE(references.same("EPSG:4547", "ENU:30.52,114.31"));
    EXPECT_FALSE(references.same("ENU:30.52,114.31", "ENU:30.52,114.32"));
    EXPECT_FALSE(references.same("EPSG:4547", "garbage"));
    EXPECT_FALSE(references.same("", "EPSG:4547"));
}

TEST(SpatialReferences, BlocksInDifferentReferencesGiveOneWarningNamingEach) {
    const std::filesystem::path project = "Project";
    EXPECT_FALSE(BlocksInDifferentSrs(project, {}));
    EXPECT_FALSE(BlocksInDifferentSrs(project, {{"Project/A", "EPSG:4547"}}));
    EXPECT_FALSE(BlocksInDifferentSrs(
        project, {{"Project/A", "EPSG:4547"}, {"Project/B", kGaussKrugerWkt}}));
    const std::vector<SrsOf> blocks = {
        {"Project/A", "EPSG:4547"}, {"Project/B", "EPSG:4547"}, {"Project/C", "ENU:30.52,114.31"}};
    const std::optional<Problem> differ = BlocksInDifferentSrs(project, blocks);
    ASSERT_TRUE(differ);
    EXPECT_EQ(differ->kind, ProblemKind::BlocksSrsDiffer);
    EXPECT_EQ(differ->path, project);
    ASSERT_EQ(differ->srs.size(), 3u);
    EXPECT_EQ(differ->srs[2].of, "Project/C");
    EXPECT_EQ(differ->srs[2].srs, "ENU:30.52,114.31");
}

TEST(SpatialReferences, EachHasItsOwnContextSoThreadsNeedNotShareOne) {
    // Made and dropped in turn, and two at once, each answers alike.
    for (int i = 0; i < 3; ++i) {
        SpatialReferences first;
        SpatialReferences second;
        EXPECT_EQ(first.kindOf("EPSG:4547"), SrsKind::Projected);
        EXPECT_EQ(second.kindOf("EPSG:4326"), SrsKind::Geographic);
    }
}

} // namespace
} // namespace brindle
