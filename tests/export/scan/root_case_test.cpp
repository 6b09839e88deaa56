#include "export/export_run.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
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

} // namespace
} // namespace brindle
