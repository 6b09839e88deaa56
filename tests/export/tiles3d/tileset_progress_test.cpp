// The progress a run with --3dtiles tells while it makes the tilesets: what the stage has
// done grows with every report, and its last report comes to what the folder's report says.
// Files are converted in this process, standing for the workers.
#include "export/export_run.h"
#include "export/tiles3d/tileset_build.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include "run_conversions.h"
#include "walk_fixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

SampleBlockOptions PagedTiles(int tiles, int writtenLevels) {
    SampleBlockOptions options;
    options.tileCount = tiles;
    options.minTexturePx = options.maxTexturePx = 16;
    options.minGridCells = options.maxGridCells = 4;
    options.pagedRoot = true;
    options.writtenLevels = writtenLevels;
    return options;
}

// A run converting in this process, keeping every progress report it is told, and stopping
// once `cancelAfter` files are given to the converter (0: never).
struct WatchedRun : test::RunConversions {
    std::mutex mutex;
    std::vector<ExportProgress> told;

    ExportReport run(const fs::path& folder, const fs::path& out) {
        ExportOptions options;
        options.jobs = 2;
        options.tilesets.folder = out;
        ExportCalls calls = this->calls();
        calls.progress = [this](const ExportProgress& p) {
            const std::lock_guard<std::mutex> lock(mutex);
            told.push_back(p);
        };
        return ExportFolderIndexes({folder}, options, calls);
    }

    // The stage's reports, in the order told.
    std::vector<TilesetProgress> stage() const {
        std::vector<TilesetProgress> stage;
        for (const ExportProgress& p : told)
            if (p.tileset)
                stage.push_back(*p.tileset);
        return stage;
    }

    // The bytes of the files given to the converter: the tile files, the index not counted.
    std::uint64_t bytesConverted(const fs::path& folder) const {
        std::uint64_t bytes = 0;
        const std::string index = test::Canonical(folder / "root.osgb");
        for (const auto& [file, times] : converter.calls())
            if (file != index)
                bytes += fs::file_size(file);
        return bytes;
    }
};

// Every count of the stage grows (or stays) from one report to the next, within a folder's
// stage; only its last report is `ended`.
void ExpectGrowing(const std::vector<TilesetProgress>& stage) {
    for (std::size_t i = 1; i < stage.size(); ++i) {
        const TilesetProgress& before = stage[i - 1];
        const TilesetProgress& now = stage[i];
        EXPECT_GE(now.converted, before.converted) << "report " << i;
        EXPECT_GE(now.reused, before.reused) << "report " << i;
        EXPECT_GE(now.bytes, before.bytes) << "report " << i;
        EXPECT_GE(now.tilesDone, before.tilesDone) << "report " << i;
        EXPECT_EQ(now.tileCount, before.tileCount) << "report " << i;
        EXPECT_FALSE(before.ended) << "report " << i;
    }
}

// The walk's own reports, unthrottled: a file counts once it is back from the converter, and a
// tile root once its tileset is on disk (or it is left out), so each report matches the
// tilesets written by then.
TEST(TilesetProgress, TheWalkCountsEachFileBackAndEachTileRootWhoseTilesetIsWritten) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteSampleBlock(block, PagedTiles(6, 2));
    // A file deep in one tile's tree is left out, and counts all the same.
    const fs::path damaged = block / "Tile_+001_+001" / "root_L2.osgb";
    const std::string bytes = test::ReadBytes(damaged);
    std::ofstream(damaged, std::ios::binary | std::ios::trunc).write(bytes.data(), 40);
    ExportOptions index;
    index.jobs = 2;
    index.index = IndexKind::Overview;
    ASSERT_EQ(ExportFolderIndexes({block}, index).folders.at(0).status, FolderStatus::Written);

    test::InProcessConverter converter(2);
    // A tile root that crashes its worker: left out, its tile root done all the same.
    ConvertedFile crashed;
    crashed.outcome = TileOutcome(TileStatus::ReaderCrashed);
    converter.answers[test::Canonical(block / "Tile_+000_+001" / "root.osgb")] = crashed;
    const fs::path out = dir / "out";
    fs::create_directories(out);
    TilesetBuildOptions options;
    options.listedFolder = block;
    options.output = out;
    options.jobsInFlight = 2; // many small batches back, so many reports
    std::vector<TilesetBuildProgress> told;
    std::vector<std::uint64_t> tilesetsOnDisk, given;
    options.progress = [&](const TilesetBuildProgress& p) {
        told.push_back(p);
        given.push_back(converter.callCount());
        std::uint64_t written = 0;
        for (fs::recursive_directory_iterator it(out), end; it != end; ++it)
            written += it->path().filename().string().find(".tileset.json") != std::string::npos;
        tilesetsOnDisk.push_back(written);
    };
    const Result<TilesetBuilt> built = BuildTileset(options, converter.function());
    ASSERT_TRUE(built);
    ASSERT_EQ(built->leftOut.size(), 2u);
    EXPECT_EQ(built->tileTilesets, 5u);
    ASSERT_GT(told.size(), 10u);
    for (std::size_t i = 0; i < told.size(); ++i) {
        EXPECT_GE(told[i].tileRootsDone, tilesetsOnDisk[i]) << "report " << i;
        EXPECT_LE(told[i].tileRootsDone, tilesetsOnDisk[i] + 1) << "report " << i;
        EXPECT_LE(told[i].converted, given[i]) << "report " << i;
        if (i > 0) {
            EXPECT_GE(told[i].converted, told[i - 1].converted) << "report " << i;
            EXPECT_GE(told[i].bytes, told[i - 1].bytes) << "report " << i;
        }
    }
    const TilesetBuildProgress& last = told.back();
    EXPECT_EQ(last.converted, built->converted);
    EXPECT_EQ(last.converted, converter.callCount());
    EXPECT_EQ(last.reused, 0u);
    EXPECT_EQ(last.tileRootsDone, 6u);
    std::uint64_t tileFileBytes = 0;
    for (const auto& [file, times] : converter.calls())
        if (file != test::Canonical(block / "root.osgb"))
            tileFileBytes += fs::file_size(file);
    EXPECT_EQ(last.bytes, tileFileBytes);
}

TEST(TilesetProgress, GrowsWithEveryReportAndEndsAtTheReportsCounts) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteSampleBlock(block, PagedTiles(6, 2));
    const fs::path out = dir / "web";

    WatchedRun first;
    const ExportReport report = first.run(block, out);
    ASSERT_TRUE(report.succeeded());
    const FolderReport& folder = report.folders.at(0);
    ASSERT_TRUE(folder.tileset);
    ASSERT_EQ(folder.tileset->status, TilesetStatus::Written);
    const std::vector<TilesetProgress> stage = first.stage();
    ASSERT_GE(stage.size(), 2u) << "the stage's first and last at least";
    ExpectGrowing(stage);
    EXPECT_EQ(stage.front().converted, 0u);
    const TilesetProgress& last = stage.back();
    EXPECT_TRUE(last.ended);
    EXPECT_EQ(last.converted, folder.tileset->converted);
    EXPECT_EQ(last.reused, 0u);
    EXPECT_EQ(last.converted, first.converter.callCount());
    EXPECT_EQ(last.bytes, first.bytesConverted(block));
    // Every tile root the index names, the sample's good tiles; none of its broken folders.
    EXPECT_EQ(last.tileCount, folder.entries.size());
    EXPECT_EQ(last.tileCount, 6u);
    EXPECT_EQ(last.tilesDone, last.tileCount);
    EXPECT_EQ(fs::path(last.folder).filename(), "block");
    // Told once the stage was over, the run's last report shows the pools' counts alone.
    EXPECT_FALSE(first.told.back().tileset);

    // A re-run with one tile's files touched takes the others' contents from the first run:
    // the same files and bytes, converted or reused.
    for (fs::recursive_directory_iterator it(block / "Tile_+000_+000"), end; it != end; ++it)
        if (it->is_regular_file())
            fs::last_write_time(it->path(),
                                fs::last_write_time(it->path()) + std::chrono::seconds(5));
    WatchedRun again;
    const ExportReport rerun = again.run(block, out);
    ASSERT_TRUE(rerun.succeeded());
    const TilesetReport& tileset = *rerun.folders.at(0).tileset;
    const std::vector<TilesetProgress> stageAgain = again.stage();
    ExpectGrowing(stageAgain);
    ASSERT_FALSE(stageAgain.empty());
    const TilesetProgress& lastAgain = stageAgain.back();
    EXPECT_TRUE(lastAgain.ended);
    EXPECT_GT(lastAgain.reused, 0u);
    EXPECT_EQ(lastAgain.converted, tileset.converted);
    EXPECT_EQ(lastAgain.reused, tileset.reused);
    EXPECT_EQ(lastAgain.converted + lastAgain.reused, last.converted);
    EXPECT_EQ(lastAgain.bytes, last.bytes);
    EXPECT_EQ(lastAgain.tilesDone, 6u);
}

TEST(TilesetProgress, AFolderOfBlocksCountsItsBlocksTogetherAndNamesTheBlockInHand) {
    TempDir dir;
    const fs::path blocks = dir / "survey";
    SampleBlockOptions options = PagedTiles(2, 1);
    for (const char* block : {"north", "south"}) {
        WriteSampleBlock(blocks / block, options);
        for (const char* extra : {"Empty_Tile", "Corrupt_Tile", "Nested_Tile", "notes.txt"})
            fs::remove_all(blocks / block / extra);
        options.originX += 1000;
    }
    WatchedRun run;
    const ExportReport report = run.run(blocks, dir / "web");
    const FolderReport& folder = report.folders.back();
    ASSERT_TRUE(folder.tileset);
    ASSERT_EQ(folder.tileset->status, TilesetStatus::Written);
    const std::vector<TilesetProgress> stage = run.stage();
    ExpectGrowing(stage);
    ASSERT_FALSE(stage.empty());
    EXPECT_EQ(stage.back().converted, folder.tileset->converted);
    EXPECT_EQ(stage.back().tileCount, 4u);
    EXPECT_EQ(stage.back().tilesDone, 4u);
    // The blocks in hand in turn, north before south.
    std::vector<std::string> inHand;
    for (const TilesetProgress& p : stage)
        if (inHand.empty() || inHand.back() != p.folder.filename().string())
            inHand.push_back(p.folder.filename().string());
    EXPECT_EQ(inHand, (std::vector<std::string>{"survey", "north", "south"}));
}

TEST(TilesetProgress, ACancelledStageStillEnds) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteSampleBlock(block, PagedTiles(4, 2));
    WatchedRun stopped;
    stopped.cancelAfter = 5;
    const ExportReport report = stopped.run(block, dir / "web");
    ASSERT_TRUE(report.folders.at(0).tileset);
    EXPECT_EQ(report.folders[0].tileset->status, TilesetStatus::Cancelled);
    const std::vector<TilesetProgress> stage = stopped.stage();
    ExpectGrowing(stage);
    ASSERT_FALSE(stage.empty());
    EXPECT_TRUE(stage.back().ended);
    EXPECT_LE(stage.back().converted, 5u);
    EXPECT_LT(stage.back().tilesDone, stage.back().tileCount);
    EXPECT_FALSE(stopped.told.back().tileset);
}

} // namespace
} // namespace brindle
