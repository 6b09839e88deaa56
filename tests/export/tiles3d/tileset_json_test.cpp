#include "export/tiles3d/tileset_json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace brindle {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

// A folder of its own for each test, removed after it.
class TilesetJsonTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("brindle-tileset-" + std::to_string(std::random_device{}()) + '-' +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    fs::path folder_;
};

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The bytes a percent-escaped URI stands for.
std::string Unescaped(const std::string& uri) {
    std::string bytes;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            bytes += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += uri[i];
        }
    }
    return bytes;
}

using Vector = std::array<double, 3>;

double Dot(const Vector& a, const Vector& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Whether the box of 12 numbers (centre, three half axes) holds `point`.
bool BoxHolds(const Json& box, const Vector& point) {
    const Vector centre = {box[0], box[1], box[2]};
    const Vector offset = {point[0] - centre[0], point[1] - centre[1], point[2] - centre[2]};
    for (int axis = 0; axis < 3; ++axis) {
        const Vector half = {box[3 + 3 * axis], box[4 + 3 * axis], box[5 + 3 * axis]};
        const double length2 = Dot(half, half);
        if (std::abs(Dot(offset, half)) > length2 * (1 + 1e-9) + 1e-9)
            return false;
    }
    return true;
}

// The rules of a tile a viewer relies on, checked on what was read back, down the tree; `more`
// checks each tile further.
void CheckTile(const Json& tile, const Json* parent, const std::function<void(const Json&)>& more) {
    ASSERT_TRUE(tile.is_object());
    ASSERT_TRUE(tile.contains("boundingVolume"));
    const Json& box = tile["boundingVolume"]["box"];
    ASSERT_TRUE(box.is_array());
    ASSERT_EQ(box.size(), 12u);
    for (const Json& number : box)
        ASSERT_TRUE(number.is_number() && std::isfinite(number.get<double>()));
    // The half axes of an oriented box are at right angles.
    for (int a = 0; a < 3; ++a)
        for (int b = a + 1; b < 3; ++b) {
            const Vector u = {box[3 + 3 * a], box[4 + 3 * a], box[5 + 3 * a]};
            const Vector v = {box[3 + 3 * b], box[4 + 3 * b], box[5 + 3 * b]};
            EXPECT_NEAR(Dot(u, v), 0.0, 1e-6 * std::sqrt(Dot(u, u) * Dot(v, v)) + 1e-9);
        }
    ASSERT_TRUE(tile["geometricError"].is_number());
    const double error = tile["geometricError"];
    EXPECT_TRUE(std::isfinite(error) && error >= 0.0);
    if (parent) {
        EXPECT_LE(error, (*parent)["geometricError"].get<double>());
    }
    EXPECT_EQ(tile.value("refine", ""), "REPLACE");
    if (tile.contains("content")) {
        ASSERT_TRUE(tile["content"]["uri"].is_string());
        const std::string uri = tile["content"]["uri"];
        EXPECT_FALSE(uri.empty());
        EXPECT_NE(uri.front(), '/');
        for (const char c : uri)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) ||
                        std::string("-._~/%").find(c) != std::string::npos)
                << uri;
    }
    if (tile.contains("children")) {
        ASSERT_TRUE(tile["children"].is_array());
        EXPECT_FALSE(tile["children"].empty());
        for (const Json& child : tile["children"])
            CheckTile(child, &tile, more);
    }
    more(tile);
}

void CheckTileset(const Json& tileset, const char* version,
                  const std::function<void(const Json&)>& more) {
    ASSERT_TRUE(tileset.is_object());
    EXPECT_EQ(tileset["asset"]["version"], version);
    ASSERT_TRUE(tileset["geometricError"].is_number());
    EXPECT_GE(tileset["geometricError"].get<double>(),
              tileset["root"]["geometricError"].get<double>());
    ASSERT_TRUE(tileset.contains("root"));
    CheckTile(tileset["root"], nullptr, more);
}

// A block's tree as its files have it: a root over four quarters of 1 km, each over four of
// 500 m, each level's points spread over its square, in a folder named in Chinese.
struct SampleTree {
    TilesetTile root;
    std::map<std::string, std::vector<Vector>> pointsOf; // by content path on disk (UTF-8)
};

SampleTree MakeTree(const fs::path& folder) {
    SampleTree tree;
    std::mt19937 random(7);
    std::function<void(TilesetTile&, double, double, double, int, const std::string&)> make =
        [&](TilesetTile& tile, double x, double y, double size, int level,
            const std::string& name) {
            std::uniform_real_distribution<double> across(0.0, size);
            std::uniform_real_distribution<double> height(10.0, 60.0);
            std::vector<Vector> points;
            for (int i = 0; i < 200; ++i)
                points.push_back({x + across(random), y + across(random), height(random)});
            tile.box = BoxAround(points);
            // Deliberately larger than its parent's at the deepest level.
            tile.geometricError = level == 2 ? 1e4 : size / 20.0;
            const std::string path = u8"块 一/Data/Tile#" + name + ".glb";
            const fs::path file = folder / fs::u8path(path);
            fs::create_directories(file.parent_path());
            std::ofstream(file) << "stand-in";
            tile.contentUri = RelativeUri(fs::u8path(path));
            tree.pointsOf[path] = points;
            if (level == 2)
                return;
            tile.children.resize(4);
            for (int q = 0; q < 4; ++q)
                make(tile.children[q], x + (q & 1) * size / 2, y + (q >> 1) * size / 2, size / 2,
                     level + 1, name + std::to_string(q));
        };
    make(tree.root, -1000.0, -1000.0, 2000.0, 0, "_");
    return tree;
}

TEST_F(TilesetJsonTest, ATileTreeReadsBackAsAViewerNeedsIt) {
    SampleTree tree = MakeTree(folder_);
    for (const TilesVersion version : {TilesVersion::V1_1, TilesVersion::V1_0}) {
        Tileset tileset;
        tileset.root = tree.root;
        tileset.transform = EastNorthUpToEarth(30.5, 114.25, 25.0);
        tileset.geometricError = 500.0;
        tileset.version = version;
        ASSERT_TRUE(WriteTileset(folder_ / "tileset.json", tileset));

        const Json json = Json::parse(Read(folder_ / "tileset.json"));
        std::size_t contents = 0;
        CheckTileset(json, version == TilesVersion::V1_1 ? "1.1" : "1.0", [&](const Json& tile) {
            const std::string path = Unescaped(tile["content"]["uri"]);
            // The URI leads to the file on disk, whatever its folder's name.
            EXPECT_TRUE(fs::is_regular_file(folder_ / fs::u8path(path))) << path;
            ASSERT_EQ(tree.pointsOf.count(path), 1u) << path;
            const Json& box = tile["boundingVolume"]["box"];
            for (const Vector& point : tree.pointsOf[path])
                ASSERT_TRUE(BoxHolds(box, point)) << path;
            // And no larger than they: some point reaches each face.
            for (int axis = 0; axis < 3; ++axis) {
                const Vector half = {box[3 + 3 * axis], box[4 + 3 * axis], box[5 + 3 * axis]};
                double reach = 0.0;
                for (const Vector& point : tree.pointsOf[path]) {
                    const Vector offset = {point[0] - box[0].get<double>(),
                                           point[1] - box[1].get<double>(),
                                           point[2] - box[2].get<double>()};
                    reach = std::max(reach, std::abs(Dot(offset, half)) / Dot(half, half));
                }
                EXPECT_NEAR(reach, 1.0, 1e-9) << path;
            }
            ++contents;
        });
        EXPECT_EQ(contents, 21u);
        ASSERT_EQ(json["root"]["transform"].size(), 16u);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(json["root"]["transform"][i].get<double>(), (*tileset.transform)[i]);
        // Column after column: the last column is the frame's origin.
        EXPECT_GT(std::abs(json["root"]["transform"][12].get<double>()), 1e6);
        EXPECT_EQ(json["root"]["transform"][15], 1.0);
    }
}

TEST_F(TilesetJsonTest, UrisAreEscapedToLeadBackToTheirFiles) {
    EXPECT_EQ(RelativeUri(fs::u8path(u8"区块/Tile_+001_-002/a b#c%d?.glb")),
              "%E5%8C%BA%E5%9D%97/Tile_%2B001_-002/a%20b%23c%25d%3F.glb");
    EXPECT_EQ(RelativeUri("plain/Tile_0.glb"), "plain/Tile_0.glb");
}

TEST_F(TilesetJsonTest, WhatAViewerCouldNotLoadIsNotWrittenAndTheOldTilesetStays) {
    Tileset good;
    good.root.box = BoxAround({{0, 0, 0}, {1, 1, 1}});
    good.root.geometricError = 1.0;
    good.root.contentUri = "a.glb";
    ASSERT_TRUE(WriteTileset(folder_ / "tileset.json", good));
    const std::string before = Read(folder_ / "tileset.json");

    std::vector<Tileset> bad(6, good);
    bad[0].root.geometricError = NAN;
    bad[1].root.box.centre[1] = INFINITY;
    bad[2].transform = EastNorthUpToEarth(10, 10, 0);
    (*bad[2].transform)[13] = NAN;
    bad[3].root.contentUri = "../elsewhere/a.glb";
    bad[4].root.contentUri = "/absolute.glb";
    bad[5].root.children.push_back(good.root);
    bad[5].root.children[0].contentUri = "c:evil.glb";
    for (const Tileset& tileset : bad) {
        const Status written = WriteTileset(folder_ / "tileset.json", tileset);
        EXPECT_EQ(written.error(), std::make_error_code(std::errc::invalid_argument));
        EXPECT_EQ(Read(folder_ / "tileset.json"), before);
    }
}

TEST_F(TilesetJsonTest, AFolderOfBlocksNamesEachBlocksTilesetUnderOneRoot) {
    // Two blocks 3 km apart, each in its own frame, one of them named in Chinese.
    const Vector low[2] = {{-1000, -1000, -10}, {-800, -1200, 0}};
    const Vector high[2] = {{1000, 1000, 80}, {900, 1100, 150}};
    std::vector<BlockTileset> blocks(2);
    blocks[0].tileset = fs::u8path(u8"东区/tileset.json");
    blocks[0].frameToEarth = EastNorthUpToEarth(30.50, 114.25, 20.0);
    blocks[0].box = BoxAround({low[0], high[0]});
    blocks[0].geometricError = 120.0;
    blocks[1].tileset = "west/tileset.json";
    blocks[1].frameToEarth = EastNorthUpToEarth(30.50, 114.28, 35.0);
    blocks[1].box = BoxAround({low[1], high[1]});
    blocks[1].geometricError = 90.0;

    const Tileset folder = FolderOfBlocks(blocks, TilesVersion::V1_1);
    ASSERT_TRUE(WriteTileset(folder_ / "tileset.json", folder));
    const Json json = Json::parse(Read(folder_ / "tileset.json"));
    CheckTileset(json, "1.1", [](const Json&) {});
    // Earth-centred already: each block's own tileset carries its frame.
    EXPECT_FALSE(json["root"].contains("transform"));
    EXPECT_FALSE(json["root"].contains("content"));
    ASSERT_EQ(json["root"]["children"].size(), 2u);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const Json& child = json["root"]["children"][b];
        EXPECT_EQ(fs::u8path(Unescaped(child["content"]["uri"])), blocks[b].tileset);
        EXPECT_EQ(child["geometricError"], blocks[b].geometricError);
        // Each corner of the block, taken to the earth by its frame, is in its tile's box and
        // in the root's.
        const ColumnMajor4x4& m = blocks[b].frameToEarth;
        for (int c = 0; c < 8; ++c) {
            const Vector corner = {(c & 1 ? high : low)[b][0], (c & 2 ? high : low)[b][1],
                                   (c & 4 ? high : low)[b][2]};
            const Vector earth = {m[0] * corner[0] + m[4] * corner[1] + m[8] * corner[2] + m[12],
                                  m[1] * corner[0] + m[5] * corner[1] + m[9] * corner[2] + m[13],
                                  m[2] * corner[0] + m[6] * corner[1] + m[10] * corner[2] + m[14]};
            EXPECT_TRUE(BoxHolds(child["boundingVolume"]["box"], earth));
            EXPECT_TRUE(BoxHolds(json["root"]["boundingVolume"]["box"], earth));
        }
    }
}

} // namespace
} // namespace brindle
