#include "export/export_run.h"
#include "tests/export/test_fixtures.h"

#include <osg/Group>
#include <osg/PagedLOD>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <chrono>
#include <map>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadBytes;
using test::ReadIndex;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

using Names = std::vector<std::string>;

ExportReport Export(const std::vector<fs::path>& folders, bool replaceAnything = false) {
    ExportOptions options;
    options.jobs = 2;
    ExportCalls calls;
    if (replaceAnything)
        calls.confirmReplace = [](const Problem&) { return true; };
    return ExportFolderIndexes(folders, options, calls);
}

std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A tile folder listed by mistake: its root.osgb is scene data, and a subfolder of it holds
// a tile of its own, so the new index would not even be empty.
TEST(ExistingIndex, SceneDataIsNeverReplacedUnlessConfirmed) {
    TempDir dir;
    const fs::path tile = dir / "Tile_07";
    WriteTile(tile);
    WriteTile(tile / "Data");
    const std::string scene = ReadBytes(tile / "root.osgb");

    std::vector<Problem> asked;
    ExportOptions options;
    ExportCalls calls;
    calls.confirmReplace = [&](const Problem& why) {
        asked.push_back(why);
        return false;
    };
    const ExportReport kept = ExportFolderIndexes({tile}, options, calls);
    EXPECT_FALSE(kept.succeeded());
    ASSERT_TRUE(kept.folders[0].error);
    EXPECT_EQ(kept.folders[0].error->kind, ProblemKind::ExistingHoldsScene);
    EXPECT_EQ(kept.folders[0].error->path, tile / "root.osgb");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].kind, ProblemKind::ExistingHoldsScene);
    EXPECT_EQ(ReadBytes(tile / "root.osgb"), scene);
    EXPECT_EQ(FilesIn(tile), (Names{"Data", "root.osgb"})) << "nothing left behind";

    options.dryRun = true;
    EXPECT_EQ(ExportFolderIndexes({tile}, options).folders[0].status, FolderStatus::Failed)
        << "a dry run predicts it";

    ASSERT_TRUE(Export({tile}, true).succeeded());
    EXPECT_EQ(ReadIndex(tile / "root.osgb").entries, (Names{"Data\\root.osgb"}));
}

// A block folder listed one level too deep: no subfolder holds a root.osgb, and the index it
// has would be replaced by an empty one.
TEST(ExistingIndex, AnIndexIsNotReplacedByOneListingNothing) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    ASSERT_TRUE(Export({block}).succeeded());
    const std::string index = ReadBytes(block / "root.osgb");
    fs::rename(block / "A" / "root.osgb", block / "A" / "tile.osgb");

    const ExportReport report = Export({block});
    ASSERT_TRUE(report.folders[0].error);
    EXPECT_EQ(report.folders[0].error->kind, ProblemKind::NoTilesFound);
    EXPECT_EQ(ReadBytes(block / "root.osgb"), index);

    ASSERT_TRUE(Export({block}, true).succeeded());
    EXPECT_TRUE(ReadIndex(block / "root.osgb").entries.empty());
}

TEST(ExistingIndex, IndexesOfOtherShapesAndUnreadableFilesAreTreatedApart) {
    TempDir dir;
    // Another tool's index: a group of paged nodes, with no drawables of its own.
    const fs::path paged = dir / "paged";
    WriteTile(paged / "A");
    osg::ref_ptr<osg::Group> group = new osg::Group;
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setFileName(0, "A/root.osgb");
    lod->setRange(0, 0, 1e6f);
    group->addChild(lod.get());
    ASSERT_TRUE(osgDB::writeNodeFile(*group, (paged / "root.osgb").string()));
    // A file that does not load at all.
    const fs::path garbled = dir / "garbled";
    WriteTile(garbled / "A");
    WriteText(garbled / "root.osgb", "not a scene");

    const ExportReport report = Export({paged, garbled});
    EXPECT_EQ(report.folders[0].status, FolderStatus::Written);
    EXPECT_EQ(ReadIndex(paged / "root.osgb").entries, (Names{"A\\root.osgb"}));
    ASSERT_TRUE(report.folders[1].error);
    EXPECT_EQ(report.folders[1].error->kind, ProblemKind::ExistingUnreadable);
    EXPECT_EQ(ReadBytes(garbled / "root.osgb"), "not a scene");
}

std::map<std::string, TileStatus> LeftOutReasons(const FolderReport& folder) {
    std::map<std::string, TileStatus> reasons;
    for (const LeftOutSubfolder& leftOut : folder.leftOut)
        reasons[leftOut.name.string()] = leftOut.reason;
    return reasons;
}

#ifndef _WIN32
// Windows takes a backslash for a separator and allows no control character in a name, so
// such subfolders exist only elsewhere.
TEST(ExistingIndex, NamesThatWouldResolveElsewhereAreNotListed) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    WriteTile(block / "a\\..\\..\\x");
    WriteTile(block / "tab\there");

    const ExportReport report = Export({block});
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, (Names{"A\\root.osgb"}));
    const auto reasons = LeftOutReasons(report.folders[0]);
    EXPECT_EQ(reasons.size(), 2u);
    EXPECT_EQ(reasons.at("a\\..\\..\\x"), TileStatus::UnsafeName);
    EXPECT_EQ(reasons.at("tab\there"), TileStatus::UnsafeName);
}
#endif

// Subfolders that lead back to the folder or above it: listing one would make the index name
// itself, and a viewer would recurse without end. A link to a folder elsewhere is a tile
// like any other.
TEST(ExistingIndex, SubfoldersLeadingBackAreNotListed) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    WriteTile(dir / "other");
    ASSERT_TRUE(test::MakeLink(".", block / "Self"));
    ASSERT_TRUE(test::MakeLink("..", block / "Parent"));
    ASSERT_TRUE(test::MakeLink(fs::path("..") / "other", block / "Other"));
    ASSERT_TRUE(Export({block}).succeeded());
    // The index under a second name: a hard link needs no privilege on any system.
    fs::create_directories(block / "Hard");
    fs::create_hard_link(block / "root.osgb", block / "Hard" / "root.osgb");

    const ExportReport report = Export({block});
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, (Names{"A\\root.osgb", "Other\\root.osgb"}));
    const auto reasons = LeftOutReasons(report.folders[0]);
    EXPECT_EQ(reasons.size(), 3u);
    EXPECT_EQ(reasons.at("Self"), TileStatus::LinksBack);
    EXPECT_EQ(reasons.at("Parent"), TileStatus::LinksBack);
    EXPECT_EQ(reasons.at("Hard"), TileStatus::LinksBack);
}

TEST(ExistingIndex, ATileWhoseRootFileLinksToTheIndexIsNotListed) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    ASSERT_TRUE(Export({block}).succeeded());
    fs::create_directories(block / "Twin");
    if (!test::MakeLink(fs::path("..") / "root.osgb", block / "Twin" / "root.osgb"))
        GTEST_SKIP() << "this system lets no symbolic link to a file be made";

    const ExportReport report = Export({block});
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, (Names{"A\\root.osgb"}));
    const auto reasons = LeftOutReasons(report.folders[0]);
    EXPECT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons.at("Twin"), TileStatus::LinksBack);
}

TEST(ExistingIndex, WritingKeepsTheModeCleansUpAndFitsLongPaths) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    ASSERT_TRUE(Export({block}).succeeded());
#ifndef _WIN32
    // Windows keeps no mode bits beyond read-only.
    fs::permissions(block / "root.osgb", fs::perms(0640));
#endif
    // Left by a run killed long ago, and by one still under way.
    WriteText(block / ".b-00ab12", "stale");
    WriteText(block / ".root.osgb.tmp-1f2e", "stale, older naming");
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
    fs::last_write_time(block / ".b-00ab12", longAgo);
    fs::last_write_time(block / ".root.osgb.tmp-1f2e", longAgo);
    WriteText(block / ".b-00cd34", "recent");

    ASSERT_TRUE(Export({block}).succeeded());
#ifndef _WIN32
    EXPECT_EQ(fs::status(block / "root.osgb").permissions(), fs::perms(0640));
#endif
    EXPECT_EQ(FilesIn(block), (Names{".b-00cd34", "A", "root.osgb"}));

    // A folder whose index path is just within the system's limit on path length (on Windows,
    // that of programs which do not declare themselves aware of long paths).
#ifdef _WIN32
    constexpr std::size_t kLongestPath = 259;
#else
    constexpr std::size_t kLongestPath = 4095;
#endif
    fs::path deep = dir.path();
    const std::size_t limit = kLongestPath - std::string("/T/root.osgb").size();
    while (deep.string().size() + 201 < limit)
        deep /= std::string(200, 'd');
    deep /= std::string(limit - deep.string().size() - 1, 'e');
    WriteTile(deep / "T");
    const ExportReport report = Export({deep});
    ASSERT_TRUE(report.succeeded())
        << (report.folders[0].error ? report.folders[0].error->cause.message() : "");
    EXPECT_EQ(ReadIndex(deep / "root.osgb").entries, (Names{"T\\root.osgb"}));
}

TEST(ExistingIndex, ACancelAfterTheLastWriteIsNoCancel) {
    TempDir dir;
    WriteTile(dir / "block" / "A");
    std::atomic<bool> cancel{false};
    ExportOptions options;
    ExportCalls calls;
    calls.cancel = &cancel;
    calls.folderDone = [&](const FolderReport&) { cancel = true; };
    const ExportReport report = ExportFolderIndexes({dir / "block"}, options, calls);
    EXPECT_FALSE(report.cancelled);
    EXPECT_TRUE(report.succeeded());
}

} // namespace
} // namespace brindle
