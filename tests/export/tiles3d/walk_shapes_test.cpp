#include "export/tiles3d/tileset_build.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include "walk_fixtures.h"
#include "walk_view.h"

#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <set>

// Trees of odd shapes, made by hand: cycles, files named twice, names no path takes as they
// are, files without content, a cancelled run, an index left out.
namespace brindle {
namespace {
namespace fs = std::filesystem;
using namespace test;

const Point3 kOrigin = {440000.0, 3380000.0, 30.0};

void WriteTreeFile(const fs::path& file, double x, const std::vector<std::string>& finer) {
    SampleTileParams params;
    params.texturePx = 16;
    params.gridCells = 2;
    params.sizeMetres = 20;
    params.offset = osg::Vec2d(x, 0);
    osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD;
    paged->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    paged->addChild(MakeSampleTile(params), 0, 300);
    for (std::size_t i = 0; i < finer.size(); ++i) {
        paged->setFileName(static_cast<unsigned>(i + 1), finer[i]);
        paged->setRange(static_cast<unsigned>(i + 1), 300, 1e30f);
    }
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(osgDB::writeNodeFile(*paged, file.string()));
}

// An index as the overview's: a transform to the origin over paged nodes naming files.
void WriteIndex(const fs::path& file, const std::vector<std::string>& names) {
    osg::ref_ptr<osg::MatrixTransform> origin = new osg::MatrixTransform;
    origin->setMatrix(osg::Matrix::translate(kOrigin[0], kOrigin[1], kOrigin[2]));
    for (const std::string& name : names) {
        osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD;
        paged->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
        paged->setCenter(osg::Vec3(10, 10, 0));
        paged->setRadius(15);
        paged->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
        paged->setFileName(0, name);
        paged->setRange(0, 100, 1e30f);
        origin->addChild(paged);
    }
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(osgDB::writeNodeFile(*origin, file.string()));
}

TEST(TilesetBuild, CyclesFilesReachedTwiceAndHostileNamesAreWalkedOnceAndStayInTheOutput) {
    TempDir dir;
    const fs::path block = dir / "Block";
    // A names itself and its level, which names A again: a cycle both ways. The index names
    // A twice, and a file outside the block; A names files whose names no system's path
    // takes as they are.
    WriteIndex(block / "root.osgb", {"A/A.osgb", "A/A.osgb", "../Outside/X.osgb"});
    WriteTreeFile(block / "A" / "A.osgb", 0,
                  {"A_L1.osgb", "../A/A.osgb", "we:ird.osgb", "..\\..\\Evil.osgb"});
    WriteTreeFile(block / "A" / "A_L1.osgb", 0, {"A.osgb", "./A_L1.osgb"});
    WriteTreeFile(block / "A" / "we:ird.osgb", 20, {});
    WriteTreeFile(block / "A" / "..\\..\\Evil.osgb", 40, {});
    WriteTreeFile(dir / "Outside" / "X.osgb", 60, {"X_L1.osgb"});
    WriteTreeFile(dir / "Outside" / "X_L1.osgb", 60, {});
    const auto before = test::FilesBelow(dir.path());

    TempDir out;
    const Built built = Build(block, out.path(), nullptr);
    ASSERT_TRUE(built.built.written);
    EXPECT_EQ(built.callsByFile.size(), 7u);
    for (const auto& [file, times] : built.callsByFile)
        EXPECT_EQ(times, 1) << file;
    EXPECT_TRUE(built.built.leftOut.empty());
    EXPECT_EQ(built.built.tiles, 6u);
    // Nothing written but in the output folder.
    EXPECT_EQ(test::FilesBelow(dir.path()), before);
    std::set<std::string> contents;
    ForEachTile(ViewTileset(out.path()), [&](const ViewedTile& tile) {
        if (!tile.content.empty())
            contents.insert(tile.content.generic_string());
    });
    EXPECT_EQ(contents.size(), 6u);
    for (const std::string& content : contents) {
        EXPECT_TRUE(fs::is_regular_file(out.path() / content)) << content;
        EXPECT_EQ(content.find(':'), std::string::npos) << content;
        EXPECT_EQ(content.find('\\'), std::string::npos) << content;
    }
    EXPECT_TRUE(contents.count("A/A.osgb.v1.glb"));
    EXPECT_TRUE(contents.count("A/A_L1.osgb.v1.glb"));
}

TEST(TilesetBuild, AFileThatGivesNoContentKeepsItsFinerFilesAsChildren) {
    TempDir dir;
    const fs::path block = dir / "Block";
    WriteIndex(block / "root.osgb", {"T/T.osgb"});
    WriteTreeFile(block / "T" / "T.osgb", 0, {"T_L1.osgb"});
    WriteTreeFile(block / "T" / "T_L1.osgb", 0, {"T_L2.osgb"});
    WriteTreeFile(block / "T" / "T_L2.osgb", 0, {});
    fs::create_directories(dir / "Out");
    test::InProcessConverter converter;
    ConvertedFile empty;
    empty.contentError = std::make_error_code(std::errc::invalid_argument);
    FinerFile named;
    named.file = block / "T" / "T_L2.osgb";
    named.pixels = true;
    named.switchAt = 300;
    named.radius = 15;
    empty.finer = {named};
    converter.answers[Canonical(block / "T" / "T_L1.osgb")] = empty;
    TilesetBuildOptions options;
    options.listedFolder = block;
    options.output = dir / "Out";
    const Result<TilesetBuilt> built = BuildTileset(options, converter.function());
    ASSERT_TRUE(built);
    EXPECT_EQ(built->withoutContent, 1u);
    EXPECT_EQ(built->tiles, 2u);
    const ViewedTile root = ViewTileset(dir / "Out");
    ASSERT_EQ(root.children.size(), 1u);
    const ViewedTile& tile = root.children[0];
    EXPECT_EQ(tile.content, fs::path("T") / "T.osgb.v1.glb");
    ASSERT_EQ(tile.children.size(), 1u);
    EXPECT_TRUE(tile.children[0].content.empty());
    ASSERT_EQ(tile.children[0].children.size(), 1u);
    EXPECT_EQ(tile.children[0].children[0].content, fs::path("T") / "T_L2.osgb.v1.glb");
}

// A hand-made block of `tiles` tile roots, each over one finer file.
fs::path WriteSmallBlock(const fs::path& block, int tiles) {
    std::vector<std::string> names;
    for (int i = 0; i < tiles; ++i) {
        const std::string name = "T" + std::to_string(i);
        WriteTreeFile(block / name / (name + ".osgb"), 20.0 * i, {name + "_L1.osgb"});
        WriteTreeFile(block / name / (name + "_L1.osgb"), 20.0 * i, {});
        names.push_back(name + "/" + name + ".osgb");
    }
    WriteIndex(block / "root.osgb", names);
    return block;
}

TEST(TilesetBuild, ConversionsInFlightStayWithinTheirBound) {
    TempDir dir;
    const fs::path block = WriteSmallBlock(dir / "Block", 12);
    for (const std::size_t bound : {std::size_t{1}, std::size_t{4}}) {
        const fs::path output = dir / ("Out" + std::to_string(bound));
        fs::create_directories(output);
        test::InProcessConverter converter(4);
        TilesetBuildOptions options;
        options.listedFolder = block;
        options.output = output;
        options.jobsInFlight = bound;
        const Result<TilesetBuilt> built = BuildTileset(options, converter.function());
        ASSERT_TRUE(built);
        EXPECT_EQ(built->tiles, 24u);
        EXPECT_LE(converter.mostInFlight(), bound);
        EXPECT_EQ(converter.callCount(), 25u);
    }
}

TEST(TilesetBuild, ACancelledRunFailsAndAnIndexLeftOutWritesNothing) {
    TempDir dir;
    const fs::path block = WriteSmallBlock(dir / "Block", 6);
    {
        fs::create_directories(dir / "Cancelled");
        test::InProcessConverter converter;
        ConvertedFile cancelled;
        cancelled.cancelled = true;
        converter.answers[Canonical(block / "T2" / "T2.osgb")] = cancelled;
        TilesetBuildOptions options;
        options.listedFolder = block;
        options.output = dir / "Cancelled";
        const Result<TilesetBuilt> built = BuildTileset(options, converter.function());
        ASSERT_FALSE(built);
        EXPECT_EQ(built.error(), std::errc::operation_canceled);
        EXPECT_FALSE(fs::exists(dir / "Cancelled" / kTilesetName));
    }
    {
        fs::create_directories(dir / "NoIndex");
        test::InProcessConverter converter;
        converter.answers[Canonical(block / "root.osgb")] = ConvertedFile{};
        converter.answers[Canonical(block / "root.osgb")].outcome =
            TileOutcome(TileStatus::TimedOut, {}, 1000);
        TilesetBuildOptions options;
        options.listedFolder = block;
        options.output = dir / "NoIndex";
        const Result<TilesetBuilt> built = BuildTileset(options, converter.function());
        ASSERT_TRUE(built);
        EXPECT_FALSE(built->written);
        ASSERT_EQ(built->leftOut.size(), 1u);
        EXPECT_EQ(built->leftOut[0].outcome.reason, TileStatus::TimedOut);
        EXPECT_EQ(converter.callCount(), 1u);
        EXPECT_FALSE(fs::exists(dir / "NoIndex" / kTilesetName));
    }
}

} // namespace
} // namespace brindle
