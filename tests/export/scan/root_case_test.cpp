#include "export/export_run.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteTile;
using Names = std::vector<std::string>;

// A tile whose root file has `name` on disk.
void WriteTileAs(const fs::path& folder, const fs::path& name) {
    WriteTile(folder);
    if (name != "root.osgb")
        fs::rename(folder / "root.osgb", folder / name);
}

// Blocks copied from Windows keep the letter case their makers gave them: their roots are
// found in any case on every system, and each entry names the file as it is on disk, so the
// index loads wherever letter case matters.
TEST(TileRootCase, RootsInOtherLetterCaseAreListedAsTheyAreOnDisk) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTileAs(block / "A", "ROOT.OSGB");
    WriteTileAs(block / "Tile_+000_+000", "Tile_+000_+000.OSGB");
    WriteTileAs(block / "TILE_B", "tile_b.osgb");
    // The exact name wins, and needs no listing.
    WriteTileAs(block / "C", "root.osgb");
    test::WriteText(block / "C" / "ROOT.OSGB", "not a scene");
    // Two in other cases: the first bytewise is taken, with a warning.
    WriteTileAs(block / "D", "Root.osgb");
    WriteTile(dir / "spare");
    fs::copy_file(dir / "spare" / "root.osgb", block / "D" / "ROOT.OSGB");
    // A name that only looks alike is no root.
    WriteTileAs(block / "E", "root.osgb.bak");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));

    const Names expected = {"A\\ROOT.OSGB", "C\\root.osgb", "D\\ROOT.OSGB",
                            "Tile_+000_+000\\Tile_+000_+000.OSGB", "TILE_B\\tile_b.osgb"};
    ExportOptions options;
    options.jobs = 2;
    options.verdictCache = dir / "cache";
    std::string firstBytes;
    for (int run = 0; run < 2; ++run) {
        const ExportReport report = ExportFolderIndexes({block}, options);
        ASSERT_TRUE(report.succeeded()) << "run " << run;
        const FolderReport& folder = report.folders[0];
        EXPECT_EQ(folder.entries, expected) << "run " << run;
        EXPECT_EQ(folder.cachedVerdicts, run == 0 ? 0u : expected.size()) << "run " << run;
        ASSERT_EQ(folder.leftOut.size(), 1u);
        EXPECT_EQ(folder.leftOut[0].name, "E");
        ASSERT_EQ(folder.warnings.size(), 1u);
        EXPECT_EQ(folder.warnings[0].kind, ProblemKind::RootNamesDifferInCase);
        EXPECT_EQ(folder.warnings[0].path, block / "D" / "ROOT.OSGB");
        const test::IndexContents index = test::ReadIndex(block / "root.osgb");
        EXPECT_EQ(index.entries, expected);
        EXPECT_EQ(index.loadedTiles, expected.size()) << "every entry loads as written";
        if (run == 0)
            firstBytes = test::ReadBytes(block / "root.osgb");
        else
            EXPECT_EQ(test::ReadBytes(block / "root.osgb"), firstBytes);
    }
}

std::string Metadata(const std::string& srs, const std::string& origin) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
           "  <SRS>" +
           srs + "</SRS>\n  <SRSOrigin>" + origin + "</SRSOrigin>\n</ModelMetadata>\n";
}

// A production block as Windows copies leave it: DATA and METADATA.XML in capitals. It is a
// production block all the same, listed whole or by its DATA folder alone, under a projected
// SRS or an ENU frame, and its entries name DATA as it is on disk, so the index loads here.
TEST(ProductionNameCase, DataAndMetadataInCapitalsAreAProductionBlock) {
    TempDir dir;
    const struct {
        const char* name;
        const char* srs;
        osg::Vec3d origin;
    } blocks[] = {{"Caps", "EPSG:4547", {512345.6, 3400000.3, 12.5}},
                  {"CapsEnu", "ENU:30.52,114.31", {0, 0, 0}}};
    for (const auto& b : blocks) {
        const fs::path block = dir / b.name;
        WriteTileAs(block / "DATA" / "Tile_+000_+000", "Tile_+000_+000.osgb");
        WriteTileAs(block / "DATA" / "Tile_+001_+000", "Tile_+001_+000.osgb");
        char origin[96];
        std::snprintf(origin, sizeof origin, "%.1f,%.1f,%.1f", b.origin.x(), b.origin.y(),
                      b.origin.z());
        test::WriteText(block / "METADATA.XML", Metadata(b.srs, origin));
    }
    const fs::path caps = dir / "Caps";
    const osg::Vec3d projected(512345.6, 3400000.3, 12.5);
    ExportOptions options;
    options.jobs = 2;

    const ExportReport whole = ExportFolderIndexes({caps, dir / "CapsEnu"}, options);
    ASSERT_TRUE(whole.succeeded());
    for (const FolderReport& folder : whole.folders) {
        EXPECT_EQ(folder.entries, (Names{"DATA\\Tile_+000_+000\\Tile_+000_+000.osgb",
                                         "DATA\\Tile_+001_+000\\Tile_+001_+000.osgb"}))
            << folder.folder;
        EXPECT_EQ(folder.originSource, OriginSource::Metadata) << folder.folder;
        EXPECT_TRUE(folder.warnings.empty()) << folder.folder;
        EXPECT_EQ(test::ReadIndex(folder.indexFile).loadedTiles, 2u) << folder.folder;
    }
    EXPECT_EQ(whole.folders[0].translation, projected);
    EXPECT_EQ(whole.folders[0].srsKind, SrsKind::Projected);
    EXPECT_EQ(whole.folders[1].srsKind, SrsKind::Enu);

    // DATA listed alone finds the metadata beside it, as Data does: not placed at (0, 0, 0).
    const ExportReport alone = ExportFolderIndexes({caps / "DATA"}, options);
    ASSERT_TRUE(alone.succeeded());
    const FolderReport& data = alone.folders.at(0);
    EXPECT_EQ(data.originSource, OriginSource::Metadata);
    EXPECT_EQ(data.originReport, caps / "METADATA.XML");
    EXPECT_EQ(data.translation, projected);
    EXPECT_EQ(test::ReadIndex(caps / "DATA" / "root.osgb").translation, projected);
}

// Where names differ only in case, the first bytewise is read, with a warning naming it, as
// for tile roots; the name as spelled wins outright.
TEST(ProductionNameCase, NamesThatDifferOnlyInCaseTakeTheFirstBytewiseWithAWarning) {
    TempDir dir;
    const fs::path block = dir / "Twins";
    WriteTileAs(block / "DATA" / "Tile_+000_+000", "Tile_+000_+000.osgb");
    WriteTileAs(block / "data" / "Tile_+000_+000", "Tile_+000_+000.osgb");
    WriteTileAs(block / "data" / "Tile_+001_+000", "Tile_+001_+000.osgb");
    test::WriteText(block / "Metadata.xml", Metadata("EPSG:4547", "1.0,2.0,3.0"));
    test::WriteText(block / "METADATA.XML", Metadata("EPSG:4547", "4.0,5.0,6.0"));
    ExportOptions options;
    options.jobs = 2;
    ExportReport report = ExportFolderIndexes({block}, options);
    ASSERT_TRUE(report.succeeded());
    FolderReport folder = report.folders.at(0);
    EXPECT_EQ(folder.entries, Names{"DATA\\Tile_+000_+000\\Tile_+000_+000.osgb"});
    EXPECT_EQ(folder.translation, osg::Vec3d(4, 5, 6));
    ASSERT_EQ(folder.warnings.size(), 2u);
    EXPECT_EQ(folder.warnings[0].kind, ProblemKind::NamesDifferInCase);
    EXPECT_EQ(folder.warnings[0].path, block / "DATA");
    EXPECT_EQ(folder.warnings[1].kind, ProblemKind::NamesDifferInCase);
    EXPECT_EQ(folder.warnings[1].path, block / "METADATA.XML");

    test::WriteText(block / "metadata.xml", Metadata("EPSG:4547", "7.0,8.0,9.0"));
    fs::create_directories(block / "Data");
    WriteTileAs(block / "Data" / "Tile_+002_+000", "Tile_+002_+000.osgb");
    report = ExportFolderIndexes({block}, options);
    ASSERT_TRUE(report.succeeded());
    folder = report.folders.at(0);
    EXPECT_EQ(folder.entries, Names{"Data\\Tile_+002_+000\\Tile_+002_+000.osgb"});
    EXPECT_EQ(folder.translation, osg::Vec3d(7, 8, 9));
    EXPECT_TRUE(folder.warnings.empty());
}

} // namespace
} // namespace brindle
