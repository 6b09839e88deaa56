#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osgDB/ReadFile>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using brindle::SampleBlock;
using brindle::SampleBlockOptions;
using brindle::test::ReadBytes;

namespace {

class SampleBlockTest : public ::testing::Test {
protected:
    static SampleBlockOptions SmallOptions() {
        SampleBlockOptions options;
        options.tileCount = 4;
        options.minTexturePx = 16;
        options.maxTexturePx = 40;
        options.minGridCells = 2;
        options.maxGridCells = 6;
        options.seed = 7;
        return options;
    }

    brindle::test::TempDir dir_;
    const fs::path& root_ = dir_.path();
};

std::set<std::string> EntryNames(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

const osg::Geometry* FirstGeometry(const osg::Node* node) {
    const osg::Geode* geode = node ? node->asGeode() : nullptr;
    if (!geode || geode->getNumDrawables() == 0) {
        return nullptr;
    }
    return geode->getDrawable(0)->asGeometry();
}

const osg::Image* TextureImage(const osg::Geometry& geometry) {
    const osg::StateSet* state = geometry.getStateSet();
    if (!state) {
        return nullptr;
    }
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    return texture ? texture->getImage() : nullptr;
}

// Loads a tile and checks it is the textured mesh its parameters describe.
void ExpectTileMatches(const fs::path& file, const brindle::SampleTileParams& params) {
    const osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(file.string());
    ASSERT_TRUE(node) << file;
    const osg::Geometry* geometry = FirstGeometry(node.get());
    ASSERT_TRUE(geometry) << file;
    const auto* vertices = dynamic_cast<const osg::Vec3Array*>(geometry->getVertexArray());
    ASSERT_TRUE(vertices) << file;
    const unsigned side = params.gridCells + 1;
    EXPECT_EQ(vertices->size(), side * side) << file;
    ASSERT_TRUE(geometry->getNormalArray()) << file;
    EXPECT_EQ(geometry->getNormalArray()->getNumElements(), vertices->size()) << file;
    ASSERT_TRUE(geometry->getTexCoordArray(0)) << file;
    EXPECT_EQ(geometry->getTexCoordArray(0)->getNumElements(), vertices->size()) << file;
    ASSERT_EQ(geometry->getNumPrimitiveSets(), 1u) << file;
    EXPECT_EQ(geometry->getPrimitiveSet(0)->getNumIndices(),
              6u * params.gridCells * params.gridCells)
        << file;
    EXPECT_NEAR((*vertices)[0].x(), params.offset.x(), 1e-3) << file;
    EXPECT_NEAR((*vertices)[0].y(), params.offset.y(), 1e-3) << file;

    const osg::Image* image = TextureImage(*geometry);
    ASSERT_TRUE(image) << file;
    EXPECT_EQ(image->s(), params.texturePx) << file;
    EXPECT_EQ(image->t(), params.texturePx) << file;
    ASSERT_TRUE(image->data()) << file;
}

TEST_F(SampleBlockTest, WritesTheDocumentedLayout) {
    const SampleBlock block = brindle::WriteSampleBlock(root_, SmallOptions());

    EXPECT_EQ(block.folder, root_);
    const std::vector<std::string> expectedValid = {"Tile_+000_+000", "Tile_+000_+001",
                                                    "Tile_+001_+000", "Tile_+001_+001"};
    EXPECT_EQ(block.validTiles, expectedValid);
    const std::vector<std::string> expectedInvalid = {"Corrupt_Tile", "Empty_Tile", "Nested_Tile"};
    EXPECT_EQ(block.invalidTiles, expectedInvalid);

    std::set<std::string> expectedEntries = {"report.txt", "notes.txt"};
    expectedEntries.insert(expectedValid.begin(), expectedValid.end());
    expectedEntries.insert(expectedInvalid.begin(), expectedInvalid.end());
    EXPECT_EQ(EntryNames(root_), expectedEntries);

    EXPECT_TRUE(fs::is_regular_file(root_ / "notes.txt"));
    EXPECT_FALSE(fs::exists(root_ / "Empty_Tile" / "root.osgb"));
    EXPECT_FALSE(fs::is_empty(root_ / "Empty_Tile"));
    EXPECT_FALSE(fs::exists(root_ / "Nested_Tile" / "root.osgb"));
    EXPECT_TRUE(fs::is_regular_file(root_ / "Nested_Tile" / "Data" / "root.osgb"));
    for (const auto& name : expectedValid) {
        EXPECT_EQ(EntryNames(root_ / name), std::set<std::string>{"root.osgb"}) << name;
    }
}

TEST_F(SampleBlockTest, ReportHoldsTitleAndOriginLines) {
    SampleBlockOptions options = SmallOptions();
    options.originX = 512345.678;
    options.originY = 3400000.3;
    options.originZ = 12.5;
    brindle::WriteSampleBlock(root_, options);

    std::ifstream report(root_ / "report.txt", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(report, line);) {
        lines.push_back(line);
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_FALSE(lines[0].empty());
    EXPECT_EQ(lines[0].rfind("X:", 0), std::string::npos) << "line 1 is a title";
    EXPECT_EQ(lines[1], "X: 512345.678 Y: 3400000.3 Z: 12.5");
}

TEST_F(SampleBlockTest, ValidTilesLoadAsTexturedMeshesAndTheCorruptOneDoesNot) {
    const SampleBlockOptions options = SmallOptions();
    const SampleBlock block = brindle::WriteSampleBlock(root_, options);

    for (int i = 0; i < options.tileCount; ++i) {
        const auto params = brindle::SampleTileParamsFor(options, i);
        const std::string name =
            "Tile_+00" + std::to_string(i % 2) + "_+00" + std::to_string(i / 2);
        ExpectTileMatches(root_ / name / "root.osgb", params);
    }
    EXPECT_TRUE(osgDB::readNodeFile((root_ / "Nested_Tile" / "Data" / "root.osgb").string()));

    const fs::path corrupt = root_ / "Corrupt_Tile" / "root.osgb";
    ASSERT_TRUE(fs::is_regular_file(corrupt));
    EXPECT_GT(fs::file_size(corrupt), 0u);
    EXPECT_FALSE(osgDB::readNodeFile(corrupt.string()));
}

TEST_F(SampleBlockTest, SameSeedGivesIdenticalFilesAndOtherSeedsDiffer) {
    SampleBlockOptions options = SmallOptions();
    options.tileCount = 2;
    brindle::WriteSampleBlock(root_ / "a", options);
    brindle::WriteSampleBlock(root_ / "b", options);
    options.seed += 1;
    brindle::WriteSampleBlock(root_ / "c", options);

    for (const std::string name : {"Tile_+000_+000", "Tile_+001_+000"}) {
        const std::string a = ReadBytes(root_ / "a" / name / "root.osgb");
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a, ReadBytes(root_ / "b" / name / "root.osgb")) << name;
        EXPECT_NE(a, ReadBytes(root_ / "c" / name / "root.osgb")) << name;
    }
    EXPECT_NE(ReadBytes(root_ / "a" / "Tile_+000_+000" / "root.osgb"),
              ReadBytes(root_ / "a" / "Tile_+001_+000" / "root.osgb"));
}

TEST_F(SampleBlockTest, JpegModeEmbedsJpegBytesThatDecodeToTheTexture) {
    SampleBlockOptions options = SmallOptions();
    options.tileCount = 1;
    options.minTexturePx = options.maxTexturePx = 64;
    brindle::WriteSampleBlock(root_ / "raw", options);
    options.embedJpeg = true;
    brindle::WriteSampleBlock(root_ / "jpeg", options);

    const fs::path tile = root_ / "jpeg" / "Tile_+000_+000";
    EXPECT_EQ(EntryNames(tile), std::set<std::string>{"root.osgb"}) << "temporary JPEG left";
    const std::string bytes = ReadBytes(tile / "root.osgb");
    EXPECT_NE(bytes.find("\xFF\xD8\xFF"), std::string::npos);
    // Raw pixels alone are 64*64*3 bytes; a JPEG of the smooth texture is far smaller.
    EXPECT_LT(bytes.size(), ReadBytes(root_ / "raw" / "Tile_+000_+000" / "root.osgb").size());

    ExpectTileMatches(tile / "root.osgb", brindle::SampleTileParamsFor(options, 0));
}

TEST_F(SampleBlockTest, RefusesNonEmptyFolderAndBadOptions) {
    fs::create_directories(root_);
    std::ofstream(root_ / "keep.txt") << "mine";
    EXPECT_THROW(brindle::WriteSampleBlock(root_, SmallOptions()), std::runtime_error);
    EXPECT_EQ(EntryNames(root_), std::set<std::string>{"keep.txt"});

    SampleBlockOptions bad = SmallOptions();
    bad.minTexturePx = 50;
    bad.maxTexturePx = 10;
    EXPECT_THROW(brindle::WriteSampleBlock(root_ / "new", bad), std::invalid_argument);
    bad = SmallOptions();
    bad.tileCount = -1;
    EXPECT_THROW(brindle::WriteSampleBlock(root_ / "new", bad), std::invalid_argument);
}

} // namespace

namespace {

// The heights of tile `left`'s vertices on its east edge against those of its east neighbour's
// vertices on its west edge, where the two lie at the same place; the largest difference.
double LargestStepAcrossTheEdge(const SampleBlockOptions& options, int left, int& shared) {
    const auto vertices = [&](int index) {
        const osg::ref_ptr<osg::Node> tile =
            brindle::MakeSampleTile(brindle::SampleTileParamsFor(options, index));
        const osg::Geometry* geometry = FirstGeometry(tile.get());
        return osg::ref_ptr<const osg::Vec3Array>(
            dynamic_cast<const osg::Vec3Array*>(geometry->getVertexArray()));
    };
    const osg::ref_ptr<const osg::Vec3Array> west = vertices(left);
    const osg::ref_ptr<const osg::Vec3Array> east = vertices(left + 1);
    double largest = 0;
    shared = 0;
    for (const osg::Vec3& a : *west)
        for (const osg::Vec3& b : *east)
            if (std::abs(a.x() - b.x()) < 1e-3 && std::abs(a.y() - b.y()) < 1e-3) {
                ++shared;
                largest = std::max(largest, double(std::abs(a.z() - b.z())));
            }
    return largest;
}

} // namespace

TEST_F(SampleBlockTest, SeamlessTilesMeetTheirNeighboursAlongTheirEdges) {
    SampleBlockOptions options = SmallOptions();
    options.tileCount = 9;
    options.seamless = true;
    int shared = 0;
    // Tiles 0, 1 and 2 make the grid's first row; 3, 4 and 5 its second.
    for (const int left : {0, 1, 3, 4}) {
        EXPECT_LT(LargestStepAcrossTheEdge(options, left, shared), 1e-4) << left;
        EXPECT_GE(shared, 2) << left; // at least the two corners
    }
    // Without it each tile's hills are its own, and the edges do not meet.
    options.seamless = false;
    EXPECT_GT(LargestStepAcrossTheEdge(options, 0, shared), 1e-2);
}

// Production tiles: each finer level a file of its own at twice the resolution, named from the
// level above, the finest a plain mesh; no normals, the light in the textures.
TEST_F(SampleBlockTest, WrittenLevelsArePagedFilesOfDoublingResolutionWithoutNormals) {
    SampleBlockOptions options = SmallOptions();
    options.tileCount = 1;
    options.pagedRoot = true;
    options.writtenLevels = 2;
    options.lightInTexture = true;
    const brindle::SampleTileParams params = brindle::SampleTileParamsFor(options, 0);
    fs::create_directories(root_ / "tile");
    brindle::WriteSampleTile(root_ / "tile" / "root.osgb", params);
    EXPECT_EQ(EntryNames(root_ / "tile"),
              (std::set<std::string>{"root.osgb", "root_L1.osgb", "root_L2.osgb"}));

    const std::vector<std::string> files = {"root.osgb", "root_L1.osgb", "root_L2.osgb"};
    for (std::size_t level = 0; level < files.size(); ++level) {
        const fs::path file = root_ / "tile" / files[level];
        const osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(file.string());
        ASSERT_TRUE(node) << file;
        const auto* paged = dynamic_cast<const osg::PagedLOD*>(node.get());
        const osg::Node* mesh = node.get();
        if (level + 1 < files.size()) {
            ASSERT_TRUE(paged) << file;
            ASSERT_EQ(paged->getNumFileNames(), 2u) << file;
            EXPECT_EQ(paged->getFileName(1), files[level + 1]) << file;
            ASSERT_EQ(paged->getNumChildren(), 1u) << file;
            mesh = paged->getChild(0);
        } else {
            EXPECT_FALSE(paged) << file << ": the finest level names no finer one";
        }
        const osg::Geometry* geometry = FirstGeometry(mesh);
        ASSERT_TRUE(geometry) << file;
        EXPECT_FALSE(geometry->getNormalArray()) << file;
        const unsigned side = (params.gridCells << level) + 1;
        EXPECT_EQ(geometry->getVertexArray()->getNumElements(), side * side) << file;
        const osg::Image* image = TextureImage(*geometry);
        ASSERT_TRUE(image) << file;
        EXPECT_EQ(image->s(), params.texturePx << level) << file;
    }

    // The light darkens the texture where the ground turns from the sun, and brightens it
    // nowhere: against the same tile's texture drawn without it.
    brindle::SampleTileParams unlit = params;
    unlit.lightInTexture = false;
    const osg::ref_ptr<osg::Node> shadedTile = brindle::MakeSampleTile(params);
    const osg::ref_ptr<osg::Node> plainTile = brindle::MakeSampleTile(unlit);
    const osg::Image* shaded = TextureImage(*FirstGeometry(shadedTile.get()));
    const osg::Image* plain = TextureImage(*FirstGeometry(plainTile.get()));
    ASSERT_TRUE(shaded && plain);
    const std::size_t bytes = shaded->getTotalSizeInBytes();
    ASSERT_EQ(bytes, plain->getTotalSizeInBytes());
    std::size_t darker = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        ASSERT_LE(shaded->data()[i], plain->data()[i]) << i;
        darker += shaded->data()[i] < plain->data()[i];
    }
    EXPECT_GT(darker, bytes / 2);
}
