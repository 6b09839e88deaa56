#include "export/export_run.h"
#include "export/index/index_writer.h"
#include "export/scan/subfolder_scan.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadIndex;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

using Names = std::vector<std::string>;

ExportReport Export(const std::vector<fs::path>& folders, unsigned jobs = 2) {
    ExportOptions options;
    options.jobs = jobs;
    return ExportFolderIndexes(folders, options);
}

bool NoTemporaryFilesIn(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            return false;
    return true;
}

TEST(ExportRun, ListsLoadableTilesNumberedWithoutGaps) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    fs::create_directories(block / "B");
    WriteTile(block / "C");
    WriteText(block / "D" / "root.osgb", "");
    WriteText(block / "E" / "root.osgb", "not a scene at all");
    WriteTile(block / "F" / "deeper");

    const ExportReport report = Export({block});
    ASSERT_TRUE(report.succeeded());
    const FolderReport& folder = report.folders.at(0);
    EXPECT_EQ(folder.status, FolderStatus::Written);
    EXPECT_EQ(folder.entries, (Names{"A\\root.osgb", "C\\root.osgb"}));
    ASSERT_EQ(folder.leftOut.size(), 4u);
    EXPECT_EQ(folder.leftOut[0].name, "B");
    EXPECT_EQ(folder.leftOut[0].reason, TileStatus::NoRootFile);
    EXPECT_EQ(folder.leftOut[1].reason, TileStatus::LoadFailed);
    EXPECT_EQ(folder.leftOut[2].reason, TileStatus::LoadFailed);
    EXPECT_EQ(folder.leftOut[3].name, "F");
    EXPECT_EQ(folder.leftOut[3].reason, TileStatus::NoRootFile);

    const test::IndexContents index = ReadIndex(block / "root.osgb");
    ASSERT_TRUE(index.isTransformOverOneProxy);
    EXPECT_EQ(index.entries, folder.entries);
    EXPECT_EQ(index.loadedTiles, 2u) << "the stored names must resolve to the tiles";
    EXPECT_EQ(test::OsgbFileVersion(block / "root.osgb"), unsigned(kIndexFileVersion));
}

TEST(ExportRun, EachFolderListsOnlyItsOwnTiles) {
    TempDir dir;
    for (const char* tile : {"one/A", "one/B", "one/C", "two/Z"})
        WriteTile(dir / tile);
    fs::create_directories(dir / "empty");

    const ExportReport report = Export({dir / "one", dir / "two", dir / "empty"});
    EXPECT_EQ(ReadIndex(dir / "one" / "root.osgb").entries.size(), 3u);
    EXPECT_EQ(ReadIndex(dir / "two" / "root.osgb").entries, (Names{"Z\\root.osgb"}));
    // An index naming nothing would open as an empty scene: the folder fails instead.
    EXPECT_EQ(report.folders[2].status, FolderStatus::Failed);
    EXPECT_FALSE(fs::exists(dir / "empty" / "root.osgb"));
}

TEST(ExportRun, TranslationCarriesOverToFoldersWithoutAReport) {
    TempDir dir;
    for (const char* folder : {"a", "b", "c", "d"})
        WriteTile(dir / folder / "T");
    WriteText(dir / "b" / "report.txt", "origin\nX: 3400000.3 Y: 512345.678 Z: 99\n");
    WriteText(dir / "d" / "report.txt", "origin\nX: -1 Y: 2 Z: 3\n");

    const ExportReport report = Export({dir / "a", dir / "b", dir / "c", dir / "d"});
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(ReadIndex(dir / "a" / "root.osgb").translation, osg::Vec3d(0, 0, 0));
    const osg::Vec3d fromB(3400000.3, 512345.678, 0.0);
    EXPECT_EQ(ReadIndex(dir / "b" / "root.osgb").translation, fromB);
    EXPECT_EQ(ReadIndex(dir / "c" / "root.osgb").translation, fromB);
    EXPECT_EQ(ReadIndex(dir / "d" / "root.osgb").translation, osg::Vec3d(-1, 2, 0));
    EXPECT_EQ(report.folders[2].translation, fromB);
}

TEST(ExportRun, AnUnusableReportWarnsAndKeepsTheTranslation) {
    TempDir dir;
    for (const char* folder : {"first", "oneline", "lower", "unreadable"})
        WriteTile(dir / folder / "T");
    WriteText(dir / "first" / "report.txt", "t\nX: 5 Y: 6 Z: 7\n");
    WriteText(dir / "oneline" / "report.txt", "X: 50 Y: 60 Z: 70");
    WriteText(dir / "lower" / "report.txt", "t\nx: 50 y: 60 z: 70\n");
    fs::create_directories(dir / "unreadable" / "report.txt");

    const ExportReport report =
        Export({dir / "oneline", dir / "first", dir / "lower", dir / "unreadable"});
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(ReadIndex(dir / "oneline" / "root.osgb").translation, osg::Vec3d(0, 0, 0));
    EXPECT_EQ(ReadIndex(dir / "lower" / "root.osgb").translation, osg::Vec3d(5, 6, 0));
    EXPECT_EQ(ReadIndex(dir / "unreadable" / "root.osgb").translation, osg::Vec3d(5, 6, 0));
    const std::pair<std::size_t, ProblemKind> warned[] = {{0, ProblemKind::ReportNoSecondLine},
                                                          {2, ProblemKind::ReportNoOrigin},
                                                          {3, ProblemKind::ReportNotRegularFile}};
    for (const auto& [i, kind] : warned) {
        ASSERT_EQ(report.folders[i].warnings.size(), 1u) << i;
        EXPECT_EQ(report.folders[i].warnings[0].kind, kind) << i;
        EXPECT_EQ(report.folders[i].warnings[0].path, report.folders[i].folder / "report.txt");
    }
    EXPECT_TRUE(report.folders[1].warnings.empty());
    EXPECT_EQ(report.folders[0].originSource, OriginSource::None);
    EXPECT_EQ(report.folders[1].originSource, OriginSource::ThisFolder);
    EXPECT_EQ(report.folders[2].originSource, OriginSource::CarriedOver);
    EXPECT_EQ(report.folders[3].originReport, dir / "first" / "report.txt");
}

TEST(ExportRun, AnyNumberOfJobsWritesTheSameFiles) {
    TempDir dir;
    for (int i = 0; i < 12; ++i) {
        const fs::path tile = dir / "block" / ("T" + std::to_string(i));
        if (i % 4 == 1)
            WriteText(tile / "root.osgb", "corrupt");
        else
            WriteTile(tile);
    }
    ASSERT_TRUE(Export({dir / "block"}, 1).succeeded());
    const std::string single = test::ReadBytes(dir / "block" / "root.osgb");
    for (const unsigned jobs : {2u, 3u, 8u}) {
        const ExportReport report = Export({dir / "block"}, jobs);
        ASSERT_TRUE(report.succeeded());
        EXPECT_EQ(report.folders[0].leftOut.size(), 3u);
        EXPECT_EQ(test::ReadBytes(dir / "block" / "root.osgb"), single) << jobs << " jobs";
    }
}

TEST(ExportRun, AFailedWriteIsReportedAndLeavesNothingBehind) {
    TempDir dir;
    WriteTile(dir / "blocked" / "A");
    fs::create_directories(dir / "blocked" / "root.osgb" / "in-the-way");
    WriteTile(dir / "fine" / "A");
    ASSERT_TRUE(Export({dir / "fine"}).succeeded()) << "an index of our own to replace";
    WriteText(dir / "plain-file", "not a folder");

    const ExportReport report =
        Export({dir / "blocked", dir / "missing", dir / "plain-file", dir / "fine"});
    EXPECT_FALSE(report.succeeded());
    const std::pair<ProblemKind, fs::path> failures[] = {
        {ProblemKind::WriteFailed, dir / "blocked" / "root.osgb"},
        {ProblemKind::FolderMissing, dir / "missing"},
        {ProblemKind::NotAFolder, dir / "plain-file"}};
    for (std::size_t i = 0; i < 3; ++i) {
        const FolderReport& folder = report.folders[i];
        EXPECT_EQ(folder.status, FolderStatus::Failed) << folder.folder;
        ASSERT_TRUE(folder.error) << folder.folder;
        EXPECT_EQ(folder.error->kind, failures[i].first) << folder.folder;
        EXPECT_EQ(folder.error->path, failures[i].second);
    }
    EXPECT_TRUE(report.folders[0].error->cause) << "the system's cause is kept";
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_TRUE(fs::exists(dir / "blocked" / "root.osgb" / "in-the-way"));
    EXPECT_TRUE(NoTemporaryFilesIn(dir / "blocked"));
    EXPECT_EQ(report.folders[3].status, FolderStatus::Written);
    EXPECT_EQ(ReadIndex(dir / "fine" / "root.osgb").entries, (Names{"A\\root.osgb"}));
    EXPECT_TRUE(NoTemporaryFilesIn(dir / "fine"));
}

TEST(ExportRun, DryRunValidatesButWritesNothing) {
    TempDir dir;
    WriteTile(dir / "block" / "A");
    ExportOptions options;
    options.dryRun = true;
    const ExportReport report = ExportFolderIndexes({dir / "block"}, options);
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].status, FolderStatus::DryRun);
    EXPECT_EQ(report.folders[0].entries, (Names{"A\\root.osgb"}));
    EXPECT_FALSE(fs::exists(dir / "block" / "root.osgb"));
}

TEST(ExportRun, CancellingKeepsTheOldIndexOfUnfinishedFolders) {
    TempDir dir;
    WriteTile(dir / "first" / "A");
    WriteTile(dir / "second" / "A");
    WriteTile(dir / "second" / "B");
    WriteText(dir / "second" / "root.osgb", "old index");

    std::atomic<bool> cancel{false};
    ExportOptions options;
    options.jobs = 1;
    ExportCalls calls;
    calls.cancel = &cancel;
    std::vector<ExportProgress> seen;
    calls.progress = [&](const ExportProgress& progress) {
        seen.push_back(progress);
        if (progress.foldersDone == 1)
            cancel = true;
    };
    const ExportReport report =
        ExportFolderIndexes({dir / "first", dir / "second"}, options, calls);
    EXPECT_TRUE(report.cancelled);
    EXPECT_FALSE(report.succeeded());
    EXPECT_EQ(report.folders[0].status, FolderStatus::Written);
    EXPECT_EQ(report.folders[1].status, FolderStatus::Cancelled);
    EXPECT_EQ(test::ReadBytes(dir / "second" / "root.osgb"), "old index");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().folderCount, 2u);
    EXPECT_EQ(seen.front().subfolderCount, 3u);
    EXPECT_EQ(seen.back().foldersDone, 1u);
}

TEST(ExportRun, ProgressCountsEveryTileAndNamesTheFolderInHand) {
    TempDir dir;
    WriteTile(dir / "first" / "A");
    WriteTile(dir / "first" / "B");
    WriteTile(dir / "second" / "A");
    const std::vector<fs::path> folders = {dir / "first", dir / "second"};
    ExportOptions options;
    options.jobs = 2;
    std::vector<ExportProgress> seen;
    ExportCalls calls;
    calls.progress = [&](const ExportProgress& progress) { seen.push_back(progress); };
    ASSERT_TRUE(ExportFolderIndexes(folders, options, calls).succeeded());

    ASSERT_FALSE(seen.empty());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const ExportProgress& p = seen[i];
        EXPECT_EQ(p.subfolderCount, 3u);
        EXPECT_EQ(p.folderCount, 2u);
        if (i > 0) {
            EXPECT_GE(p.subfoldersDone, seen[i - 1].subfoldersDone) << i;
            EXPECT_GE(p.foldersDone, seen[i - 1].foldersDone) << i;
        }
        const std::size_t inHand = std::min<std::size_t>(p.foldersDone, folders.size() - 1);
        EXPECT_EQ(p.folder, folders[inHand]) << i;
    }
    EXPECT_EQ(seen.back().subfoldersDone, 3u);
    EXPECT_EQ(seen.back().foldersDone, 2u);
}

#ifdef _WIN32
// Entries carry a name as UTF-8 on Windows; a name no UTF-8 can carry (a lone surrogate) has no
// entry text at all, so the scan leaves it out.
TEST(ExportRun, NamesBecomeEntryTextOnlyWhereTheyCanBeCarriedFaithfully) {
    EXPECT_EQ(NameText(fs::path(L"\u74e6\u7247")), std::string("\xe7\x93\xa6\xe7\x89\x87"));
    EXPECT_EQ(NameText(fs::path(L"\U0001F5FA")), std::string("\xf0\x9f\x97\xba"));
    EXPECT_FALSE(NameText(fs::path(std::wstring{L'a', wchar_t(0xD800), L'b'})));
    EXPECT_FALSE(NameText(fs::path(std::wstring{wchar_t(0xDC00)})));
}
#endif

TEST(ExportRun, AnEmptyListWritesNothingAndSucceeds) {
    const ExportReport report = ExportFolderIndexes({});
    EXPECT_TRUE(report.folders.empty());
    EXPECT_TRUE(report.succeeded());
}

} // namespace
} // namespace brindle
