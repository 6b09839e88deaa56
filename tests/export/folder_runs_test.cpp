// Runs over whole folders as users list them: folders of blocks exported again, folders whose
// listing order the file system chooses, one folder under several spellings, a run cancelled
// halfway, and what the totals count.
#include "export/export_run.h"
#include "export/isolation/worker_process.h"
#include "export/run/folder_cache.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::CountingWorker;
using test::ReadBytes;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

using Names = std::vector<std::string>;

void LetSettle() {
    std::this_thread::sleep_for(kSettleTime + std::chrono::milliseconds(100));
}

ExportOptions Options(const fs::path& cache = {}) {
    ExportOptions options;
    options.jobs = 2;
    options.verdictCache = cache;
    return options;
}

std::size_t Starts(const fs::path& log) {
    std::error_code ec;
    if (!fs::exists(log, ec))
        return 0;
    const std::string text = ReadBytes(log);
    fs::remove(log);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

void WriteBlock(const fs::path& block, std::size_t tiles, double x) {
    for (std::size_t i = 0; i < tiles; ++i)
        WriteTile(block / ("Tile_" + std::to_string(i)));
    WriteText(block / "report.txt", "title\nX: " + std::to_string(x) + " Y: 7 Z: 0\n");
}

std::string Metadata(const std::string& origin) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
           "  <SRS>EPSG:4547</SRS>\n  <SRSOrigin>" +
           origin + "</SRSOrigin>\n</ModelMetadata>\n";
}

const FolderReport* ReportOf(const ExportReport& report, const fs::path& folder) {
    for (const FolderReport& f : report.folders)
        if (f.folder == folder)
            return &f;
    return nullptr;
}

// On a re-run the blocks' own indexes stand beside their tiles. They are blocks still, each
// exported from its own cache: no block's index is sent to a worker as a tile (whose check
// would load the whole block under one tile's deadline, and could not be kept), so an
// unchanged re-run starts no worker at all and writes the same bytes.
TEST(FoldersOfBlocks, AReRunExportsTheSameBlocksFromTheirCachesWithoutAWorker) {
    TempDir dir;
    const fs::path project = dir / "Project";
    WriteBlock(project / "Block_A", 30, 100);
    WriteBlock(project / "Block_B", 40, 200);
    const fs::path log = dir / "starts.log";
    ExportOptions options = Options(dir / "cache");
    options.workerProgram = CountingWorker(dir.path(), log);
    LetSettle();

    const ExportReport first = ExportFolderIndexes({project}, options);
    ASSERT_TRUE(first.succeeded());
    EXPECT_GT(Starts(log), 0u);
    const std::string index = ReadBytes(project / "root.osgb");
    const std::string indexA = ReadBytes(project / "Block_A" / "root.osgb");
    LetSettle();

    for (int run = 0; run < 2; ++run) {
        const ExportReport again = ExportFolderIndexes({project}, options);
        ASSERT_TRUE(again.succeeded()) << run;
        EXPECT_EQ(Starts(log), 0u) << "run " << run;
        const FolderReport* master = ReportOf(again, project);
        ASSERT_TRUE(master);
        EXPECT_EQ(master->entries, (Names{"Block_A\\root.osgb", "Block_B\\root.osgb"}));
        EXPECT_EQ(master->blocks,
                  (std::vector<fs::path>{project / "Block_A", project / "Block_B"}));
        EXPECT_TRUE(master->leftOut.empty());
        EXPECT_EQ(ReportOf(again, project / "Block_A")->cachedVerdicts, 30u);
        EXPECT_EQ(ReportOf(again, project / "Block_B")->cachedVerdicts, 40u);
        EXPECT_EQ(ReadBytes(project / "root.osgb"), index);
        EXPECT_EQ(ReadBytes(project / "Block_A" / "root.osgb"), indexA);
    }

    // Without a cache, the blocks are still blocks, placed by their own translations.
    const ExportReport uncached = ExportFolderIndexes({project}, Options());
    ASSERT_TRUE(uncached.succeeded());
    EXPECT_EQ(ReportOf(uncached, project)->blocks.size(), 2u);
    EXPECT_EQ(ReadBytes(project / "root.osgb"), index);

    // One true tile among them makes the folder a block itself, whose blocks' indexes are
    // its tiles, as they always were.
    WriteTile(project / "Loose");
    const ExportReport block = ExportFolderIndexes({project}, Options());
    ASSERT_TRUE(block.succeeded());
    ASSERT_EQ(block.folders.size(), 1u);
    EXPECT_EQ(block.folders[0].entries,
              (Names{"Block_A\\root.osgb", "Block_B\\root.osgb", "Loose\\root.osgb"}));
}

// Whether a subfolder holds tile folders cannot rest on where the file system lists them: the
// same data copied elsewhere would be another block.
TEST(FoldersOfBlocks, ABlockIsFoundWhereverItsOnlyTileFolderIsListed) {
    TempDir dir;
    const fs::path project = dir / "Project";
    WriteBlock(project / "Block_A", 2, 100);
    const fs::path sparse = project / "Block_B";
    // Twenty empty folders sort before its one tile and twenty after it, made before and
    // after it, so that it comes late in the listing in creation order or the reverse.
    for (int i = 0; i < 20; ++i)
        fs::create_directories(sparse / ("A" + std::to_string(10 + i)));
    WriteTile(sparse / "Tile");
    for (int i = 0; i < 20; ++i)
        fs::create_directories(sparse / ("Z" + std::to_string(10 + i)));

    const ExportReport report = ExportFolderIndexes({project}, Options());
    const FolderReport* master = ReportOf(report, project);
    ASSERT_TRUE(master);
    EXPECT_EQ(master->entries, (Names{"Block_A\\root.osgb", "Block_B\\root.osgb"}));
    const FolderReport* block = ReportOf(report, sparse);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->entries, (Names{"Tile\\root.osgb"}));
    EXPECT_EQ(block->leftOut.size(), 40u);
}

// A production folder's Data, however it is spelled, is the one folder: its origin comes from
// the metadata.xml beside it and its index is the same bytes. The report keeps the spelling.
TEST(ListedFolders, EverySpellingOfOneFolderGivesTheSameIndex) {
    TempDir dir;
    const fs::path production = dir / "Production";
    WriteTile(production / "Data" / "Tile_+000_+000");
    WriteTile(production / "Data" / "Tile_+001_+000");
    WriteText(production / "metadata.xml", Metadata("512345.6,3400000.3,12.5"));
    fs::create_directory_symlink(production, dir / "Linked");
    const fs::path data = production / "Data";
    const fs::path index = data / "root.osgb";

    ASSERT_TRUE(ExportFolderIndexes({data}, Options()).succeeded());
    const std::string reference = ReadBytes(index);
    const std::vector<fs::path> spellings = {
        data / ".",
        data.string() + "/",
        data.string() + "//",
        dir / "Linked" / "Data",
        data / "Tile_+000_+000" / "..",
        fs::relative(data / ".", fs::current_path()),
    };
    for (const fs::path& spelling : spellings) {
        fs::remove(index);
        const ExportReport report = ExportFolderIndexes({spelling}, Options());
        ASSERT_TRUE(report.succeeded()) << spelling;
        const FolderReport& folder = report.folders.at(0);
        EXPECT_EQ(folder.folder, spelling);
        EXPECT_EQ(folder.translation, osg::Vec3d(512345.6, 3400000.3, 12.5)) << spelling;
        EXPECT_EQ(folder.originSource, OriginSource::Metadata) << spelling;
        EXPECT_EQ(folder.srs, "EPSG:4547") << spelling;
        EXPECT_EQ(ReadBytes(index), reference) << spelling;
    }
    // Listed twice under two spellings, it is written once, and the repeat names the first
    // listing as it was spelled.
    const ExportReport twice =
        ExportFolderIndexes({data / ".", dir / "Linked" / "Data"}, Options());
    ASSERT_EQ(twice.folders.size(), 2u);
    EXPECT_EQ(twice.folders[1].status, FolderStatus::ListedTwice);
    EXPECT_EQ(twice.folders[1].folder, dir / "Linked" / "Data");
    EXPECT_EQ(twice.folders[1].firstListing, data / ".");
}

// The verdicts reached before a cancel are kept: a re-run takes from the cache exactly the
// tiles checked before it, and the cancelled folder keeps its old index (none here) and no
// temporary file.
TEST(CancelledRuns, KeepTheVerdictsReachedForTheNextRun) {
    TempDir dir;
    const fs::path block = dir / "block";
    constexpr std::size_t kTiles = 400;
    for (std::size_t i = 0; i < kTiles; ++i)
        WriteTile(block / ("T" + std::to_string(1000 + i)));
    LetSettle();

    ExportOptions options = Options(dir / "cache");
    options.jobs = 1;
    std::atomic<bool> cancel{false};
    std::atomic<std::size_t> told{0};
    ExportCalls calls;
    calls.cancel = &cancel;
    // Told after each round of checks is recorded, so the most told is the number checked.
    calls.progress = [&cancel, &told](const ExportProgress& p) {
        if (p.subfoldersDone > told.load())
            told.store(p.subfoldersDone);
        if (p.subfoldersDone >= 40)
            cancel.store(true);
    };
    const ExportReport cancelled = ExportFolderIndexes({block}, options, calls);
    EXPECT_TRUE(cancelled.cancelled);
    ASSERT_EQ(cancelled.folders.size(), 1u);
    EXPECT_EQ(cancelled.folders[0].status, FolderStatus::Cancelled);
    const std::size_t checked = told.load();
    ASSERT_GE(checked, 40u);
    ASSERT_LT(checked, kTiles) << "the cancel came too late to tell";
    for (const auto& entry : fs::directory_iterator(block))
        EXPECT_TRUE(entry.is_directory()) << entry.path();

    const ExportReport again = ExportFolderIndexes({block}, Options(dir / "cache"));
    ASSERT_TRUE(again.succeeded());
    EXPECT_EQ(again.folders.at(0).cachedVerdicts, checked);
    EXPECT_EQ(again.folders.at(0).entries.size(), kTiles);
}

// An overview run over a block written just before it, cancelled halfway, keeps the verdicts
// it reached, as a proxy run does: all but those of the tiles it checked within a second of
// their writing (which a second write in the same clock tick could have changed unseen). The
// next run takes them from the cache. The pause below holds up the hand-over of summaries, not
// the worker, which checks on while up to two batches of small tiles wait to be handed over:
// those, and the batch in hand, may be checked within the second.
TEST(CancelledRuns, AnOverviewRunOverAFreshBlockKeepsTheVerdictsReached) {
    TempDir dir;
    const fs::path block = dir / "block";
    constexpr std::size_t kTiles = 400;
    for (std::size_t i = 0; i < kTiles; ++i)
        WriteTile(block / ("T" + std::to_string(1000 + i)));

    ExportOptions options = Options(dir / "cache");
    options.jobs = 1;
    options.index = IndexKind::Overview;
    std::atomic<bool> cancel{false};
    std::atomic<std::size_t> told{0};
    ExportCalls calls;
    calls.cancel = &cancel;
    // Held up a second after the first tile, as a large block's later tiles are checked.
    calls.progress = [&cancel, &told](const ExportProgress& p) {
        if (p.subfoldersDone > 0 && told.load() == 0)
            std::this_thread::sleep_for(kSettleTime + std::chrono::milliseconds(200));
        if (p.subfoldersDone > told.load())
            told.store(p.subfoldersDone);
        if (p.subfoldersDone >= 200)
            cancel.store(true);
    };
    const ExportReport cancelled = ExportFolderIndexes({block}, options, calls);
    EXPECT_TRUE(cancelled.cancelled);
    const std::size_t checked = told.load();
    ASSERT_GE(checked, 200u);
    ASSERT_LT(checked, kTiles) << "the cancel came too late to tell";

    const ExportReport again = ExportFolderIndexes({block}, Options(dir / "cache"));
    ASSERT_TRUE(again.succeeded());
    constexpr std::size_t kMostCheckedInThePause = 3 * 32;
    EXPECT_GE(again.folders.at(0).cachedVerdicts, checked - kMostCheckedInThePause);
    EXPECT_LE(again.folders.at(0).cachedVerdicts, checked);
    EXPECT_EQ(again.folders.at(0).entries.size(), kTiles);
}

// Listed folders are counted as folders, the blocks of a folder of blocks apart, and entries
// as the tiles listed, not again as the blocks' entries in their folder of blocks.
TEST(Totals, AFolderOfBlocksCountsAsOneFolderAndItsTilesOnce) {
    TempDir dir;
    const fs::path project = dir / "Project";
    WriteBlock(project / "Block_A", 3, 100);
    WriteBlock(project / "Block_B", 4, 200);
    fs::create_directories(project / "Block_C" / "Tile_0");
    WriteText(project / "Block_C" / "Tile_0" / "root.osgb", "not a scene");
    fs::create_directories(project / "Block_C" / "Tile_1");
    WriteText(project / "Block_C" / "Tile_1" / "root.osgb", "not a scene");
    WriteBlock(dir / "Other", 5, 300);

    const ExportReport report = ExportFolderIndexes({project, dir / "Other"}, Options());
    const ReportTotals totals = report.totals();
    EXPECT_EQ(totals.folders, 2u);
    EXPECT_EQ(totals.written, 2u);
    EXPECT_EQ(totals.failed, 0u);
    EXPECT_EQ(totals.blocks, 3u);
    EXPECT_EQ(totals.blocksNotWritten, 1u);
    EXPECT_EQ(totals.entries, 3u + 4u + 5u);
    // Block_C's two tiles, and Block_C in its folder of blocks.
    EXPECT_EQ(totals.leftOut, 3u);
}

// A folder that fails names its tiles in no index, so the totals count none of them: neither
// a listed folder whose root.osgb is a model (kept, with its four tiles scanned and checked)
// nor such a block of a folder of blocks.
TEST(Totals, EntriesOfAFolderThatFailedAreNotCounted) {
    TempDir dir;
    WriteBlock(dir / "Kept", 4, 100);
    WriteTile(dir / "Kept"); // a model where the index would go
    WriteBlock(dir / "Written", 5, 200);
    const fs::path project = dir / "Project";
    WriteBlock(project / "Block_A", 2, 300);
    WriteBlock(project / "Block_B", 3, 400);
    WriteTile(project / "Block_B");

    const ExportReport report =
        ExportFolderIndexes({dir / "Kept", dir / "Written", project}, Options());
    const FolderReport* kept = ReportOf(report, dir / "Kept");
    const FolderReport* keptBlock = ReportOf(report, project / "Block_B");
    ASSERT_TRUE(kept && keptBlock);
    ASSERT_EQ(kept->status, FolderStatus::Failed);
    ASSERT_EQ(keptBlock->status, FolderStatus::Failed);
    const ReportTotals totals = report.totals();
    EXPECT_EQ(totals.failed, 1u);
    EXPECT_EQ(totals.blocksNotWritten, 1u);
    EXPECT_EQ(totals.entries, 5u + 2u);
}

} // namespace
} // namespace brindle
