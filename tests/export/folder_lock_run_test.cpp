#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "tests/export/fs/lock_holder.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::FilesBelow;
using test::LockHolder;
using test::ReadBytes;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

ExportReport Export(const std::vector<fs::path>& folders, IndexKind kind, bool dryRun = false) {
    ExportOptions options;
    options.jobs = 2;
    options.index = kind;
    options.dryRun = dryRun;
    return ExportFolderIndexes(folders, options);
}

const FolderReport& ReportOf(const ExportReport& report, const fs::path& folder) {
    const auto found = std::find_if(report.folders.begin(), report.folders.end(),
                                    [&](const FolderReport& f) { return f.folder == folder; });
    EXPECT_NE(found, report.folders.end()) << folder;
    return *found;
}

// A second run on a folder that another run (another process) is writing fails that folder,
// saying so, and leaves every file of it as it was: the first run's index, its levels, and the
// folder of levels it is making. The run's other folders are written; a dry run needs no lock;
// once the first run ends, the folder is written again and the folder it left goes.
TEST(FolderLock, ASecondRunOnAFolderAtWorkFailsItAndRemovesNothingOfTheFirsts) {
    TempDir dir;
    const fs::path busy = dir / "busy";
    const fs::path idle = dir / "idle";
    for (const char* tile : {"Tile_1", "Tile_2", "Tile_3"})
        WriteTile(busy / tile);
    for (const char* tile : {"Tile_1", "Tile_2"})
        WriteTile(idle / tile);
    ASSERT_TRUE(Export({busy}, IndexKind::Overview).succeeded());
    ASSERT_EQ(OverviewFolders(busy).size(), 1u);

    LockHolder first(busy, true);
    ASSERT_EQ(first.reply(), "held " + (busy / "brindle-overview-2").string());
    const std::map<std::string, std::string> before = FilesBelow(busy);
    ASSERT_EQ(OverviewFolders(busy).size(), 2u);

    const ExportReport second = Export({busy, idle}, IndexKind::Overview);
    const FolderReport& failed = ReportOf(second, busy);
    EXPECT_EQ(failed.status, FolderStatus::Failed);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->kind, ProblemKind::FolderBusy);
    EXPECT_EQ(failed.error->path, busy);
    EXPECT_EQ(ReportOf(second, idle).status, FolderStatus::Written);
    EXPECT_EQ(FilesBelow(busy), before);

    for (const IndexKind kind : {IndexKind::Proxy, IndexKind::Paged}) {
        const ExportReport proxy = Export({busy}, kind);
        ASSERT_TRUE(proxy.folders.at(0).error);
        EXPECT_EQ(proxy.folders.at(0).error->kind, ProblemKind::FolderBusy);
        EXPECT_EQ(FilesBelow(busy), before);
    }
    const ExportReport dry = Export({busy}, IndexKind::Overview, true);
    EXPECT_EQ(dry.folders.at(0).status, FolderStatus::DryRun);
    EXPECT_EQ(FilesBelow(busy), before);

    first.end();
    const ExportReport after = Export({busy}, IndexKind::Overview);
    EXPECT_EQ(after.folders.at(0).status, FolderStatus::Written);
    ASSERT_EQ(OverviewFolders(busy).size(), 1u);
    EXPECT_EQ(OverviewFolders(busy)[0], busy / "brindle-overview-3");
}

// In a folder of blocks each block is locked as the run comes to it: a block another run
// holds fails and is left out of the folder of blocks, whose other blocks are written. A run
// that reaches one folder twice (a folder of blocks, then one of its blocks listed as well)
// shares its own lock.
TEST(FolderLock, ABlockAnotherRunHoldsIsLeftOutOfItsFolderOfBlocks) {
    TempDir dir;
    const fs::path project = dir / "Project";
    for (const char* block : {"Block_A", "Block_B"}) {
        WriteTile(project / block / "Tile_1");
        WriteTile(project / block / "Tile_2");
    }
    {
        LockHolder other(project / "Block_B");
        ASSERT_EQ(other.reply(), "held");
        const ExportReport report = Export({project}, IndexKind::Proxy);
        EXPECT_EQ(ReportOf(report, project / "Block_A").status, FolderStatus::Written);
        const FolderReport& held = ReportOf(report, project / "Block_B");
        ASSERT_TRUE(held.error);
        EXPECT_EQ(held.error->kind, ProblemKind::FolderBusy);
        EXPECT_FALSE(fs::exists(project / "Block_B" / "root.osgb"));
        const FolderReport& master = ReportOf(report, project);
        EXPECT_EQ(master.status, FolderStatus::Written);
        ASSERT_EQ(master.leftOut.size(), 1u);
        EXPECT_EQ(master.leftOut[0].name, "Block_B");
        EXPECT_EQ(master.leftOut[0].reason, TileStatus::BlockNotWritten);
    }
    for (const IndexKind kind : {IndexKind::Proxy, IndexKind::Overview}) {
        const ExportReport both = Export({project, project / "Block_B"}, kind);
        for (const FolderReport& folder : both.folders)
            EXPECT_FALSE(folder.error)
                << folder.folder << " " << static_cast<int>(folder.error->kind);
        EXPECT_TRUE(both.succeeded());
    }
}

} // namespace
} // namespace brindle
