// A part ordered for compression draws the same triangles, each with its corners' attributes,
// as the scene's own part does.
#include "content_scenes.h"

#include "export/tiles3d/kept_image_bytes.h"
#include "export/tiles3d/part_order.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>
#include <osgDB/ReadFile>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>
#include <tuple>

namespace brindle {
namespace {

// A corner as plain numbers: position, normal, texture coordinates, colour (zeros where the
// part has none of one).
using Corner = std::array<double, 12>;
using Triangle = std::array<Corner, 3>;

std::vector<Triangle> SortedTriangles(const MeshPart& part) {
    const auto corner = [&](std::uint32_t v) {
        Corner c{};
        for (int i = 0; i < 3; ++i)
            c[i] = part.positions[v][i];
        for (int i = 0; i < 3 && !part.normals.empty(); ++i)
            c[3 + i] = part.normals[v][i];
        for (int i = 0; i < 2 && !part.texCoords.empty(); ++i)
            c[6 + i] = part.texCoords[v][i];
        for (int i = 0; i < 4 && !part.colours.empty(); ++i)
            c[8 + i] = part.colours[v][i];
        return c;
    };
    std::vector<Triangle> triangles;
    for (std::size_t t = 0; t + 2 < part.triangles.size(); t += 3)
        triangles.push_back({corner(part.triangles[t]), corner(part.triangles[t + 1]),
                             corner(part.triangles[t + 2])});
    std::sort(triangles.begin(), triangles.end());
    return triangles;
}

// The part with its vertices and triangles in random order.
MeshPart Shuffled(const MeshPart& part) {
    std::mt19937 random(11);
    std::vector<std::uint32_t> place(part.positions.size());
    std::iota(place.begin(), place.end(), 0u);
    std::shuffle(place.begin(), place.end(), random);
    MeshPart shuffled = part;
    const auto move = [&](auto& to, const auto& from) {
        for (std::size_t v = 0; v < from.size(); ++v)
            to[place[v]] = from[v];
    };
    move(shuffled.positions, part.positions);
    move(shuffled.normals, part.normals);
    move(shuffled.texCoords, part.texCoords);
    move(shuffled.colours, part.colours);
    std::vector<std::array<std::uint32_t, 3>> triangles;
    for (std::size_t t = 0; t + 2 < part.triangles.size(); t += 3)
        triangles.push_back(
            {place[part.triangles[t]], place[part.triangles[t + 1]], place[part.triangles[t + 2]]});
    std::shuffle(triangles.begin(), triangles.end(), random);
    shuffled.triangles.clear();
    for (const auto& triangle : triangles)
        shuffled.triangles.insert(shuffled.triangles.end(), triangle.begin(), triangle.end());
    return shuffled;
}

TEST(PartOrder, TheSameTrianglesWithTheirCornersAttributesAndWindingOverTheSameVertices) {
    test::TempDir dir;
    ASSERT_TRUE(KeepEmbeddedImageBytes());
    const std::filesystem::path paged = test::WritePagedSampleTile(dir / "paged");
    const std::filesystem::path plain = test::WritePlainSampleTile(dir / "plain");
    std::vector<osg::ref_ptr<osg::Node>> scenes{
        osgDB::readRefNodeFile((paged.parent_path() / "root_L2.osgb").string()),
        osgDB::readRefNodeFile(plain.string()), test::EveryPrimitiveKind()};
    std::size_t moved = 0;
    for (const osg::ref_ptr<osg::Node>& scene : scenes) {
        ASSERT_TRUE(scene);
        for (const MeshPart& written : CollectSceneMeshes(*scene).parts)
            for (const MeshPart& part : {written, Shuffled(written)}) {
                MeshPart ordered = part;
                OrderForCompression(ordered);
                EXPECT_EQ(ordered.positions.size(), part.positions.size());
                EXPECT_EQ(ordered.normals.size(), part.normals.size());
                EXPECT_EQ(ordered.texCoords.size(), part.texCoords.size());
                EXPECT_EQ(ordered.colours.size(), part.colours.size());
                EXPECT_EQ(SortedTriangles(ordered), SortedTriangles(part));
                moved += ordered.triangles != part.triangles ? 1 : 0;
            }
    }
    EXPECT_GT(moved, 0u); // the test's parts are not all in that order already
}

TEST(PartOrder, APartWhoseIndicesOrAttributesDisagreeIsLeftAsItIs) {
    MeshPart part;
    part.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    part.triangles = {0, 1, 2, 2, 1, 3};
    MeshPart pastTheEnd = part;
    pastTheEnd.triangles.back() = 4;
    MeshPart shortNormals = part;
    shortNormals.normals = {{0, 0, 1}};
    MeshPart partTriangle = part;
    partTriangle.triangles.pop_back();
    for (MeshPart* odd : {&pastTheEnd, &shortNormals, &partTriangle}) {
        const MeshPart before = *odd;
        OrderForCompression(*odd);
        EXPECT_EQ(odd->triangles, before.triangles);
        EXPECT_EQ(odd->positions, before.positions);
    }
}

} // namespace
} // namespace brindle
