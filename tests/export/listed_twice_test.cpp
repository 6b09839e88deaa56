#include "export/export_run.h"
#include "export/fs/regular_file.h"
#include "tests/export/test_fixtures.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <map>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadIndex;
using test::TempDir;
using test::WriteTile;

using Names = std::vector<std::string>;

// A tile of about `bytes`, as real tiles are: large enough that reading ahead switches on
// and that its check takes a while, so the run writes earlier folders meanwhile.
void WriteLargeTile(const fs::path& folder, std::size_t bytes) {
    fs::create_directories(folder);
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (std::size_t i = 0; i * sizeof(osg::Vec3) < bytes; ++i)
        vertices->push_back(osg::Vec3(float(i % 97), float(i % 89), float(i % 83)));
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices);
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_POINTS, 0, GLsizei(vertices->size())));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    ASSERT_TRUE(osgDB::writeNodeFile(*geode, (folder / "root.osgb").string()));
    ASSERT_GE(fs::file_size(folder / "root.osgb"), bytes);
}

// The identity of the file at `path`, following links.
FileFacts Facts(const fs::path& path) {
    return LookAt(path).value_or({});
}

struct RunLog {
    ExportReport report;
    std::vector<fs::path> done;              // the listings folderDone was told of, in order
    std::vector<FileFacts> indexWhenWritten; // the index of `watched`, as its report came
};

// Exports `folders` with one worker, noting each report as it is handed out and the index
// file of the listing `watched` when its report comes.
RunLog ExportOneAtATime(const std::vector<fs::path>& folders, const fs::path& watched) {
    RunLog run;
    ExportOptions options;
    options.jobs = 1;
    ExportCalls calls;
    calls.folderDone = [&](const FolderReport& folder) {
        if (folder.master.empty())
            run.done.push_back(folder.folder);
        if (folder.folder == watched && folder.status == FolderStatus::Written)
            run.indexWhenWritten.push_back(Facts(watched / "root.osgb"));
    };
    run.report = ExportFolderIndexes(folders, options, calls);
    return run;
}

std::map<std::string, TileStatus> Reasons(const FolderReport& folder) {
    std::map<std::string, TileStatus> reasons;
    for (const LeftOutSubfolder& leftOut : folder.leftOut)
        reasons[leftOut.name.string()] = leftOut.reason;
    return reasons;
}

// The reports of the listed folders, in list order, without those of the blocks that folders
// of blocks exported.
std::vector<FolderReport> Listings(const ExportReport& report) {
    std::vector<FolderReport> listings;
    for (const FolderReport& folder : report.folders)
        if (folder.master.empty())
            listings.push_back(folder);
    return listings;
}

// Every listing is reported in list order; the first of a folder is written, once, and each
// later one names it.
void ExpectWrittenOnceAt(const RunLog& run, const std::vector<fs::path>& folders,
                         const std::vector<std::size_t>& firstListing) {
    const std::vector<FolderReport> reports = Listings(run.report);
    ASSERT_EQ(reports.size(), folders.size());
    EXPECT_EQ(run.done, folders);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        EXPECT_EQ(reports[i].folder, folders[i]) << i;
        if (firstListing[i] == i) {
            EXPECT_EQ(reports[i].status, FolderStatus::Written) << i;
            EXPECT_TRUE(reports[i].firstListing.empty()) << i;
        } else {
            EXPECT_EQ(reports[i].status, FolderStatus::ListedTwice) << i;
            EXPECT_EQ(reports[i].firstListing, folders[firstListing[i]]) << i;
            EXPECT_TRUE(reports[i].entries.empty()) << i;
        }
    }
    EXPECT_TRUE(run.report.succeeded());
    EXPECT_FALSE(run.report.spotless()) << "a folder listed twice is worth telling";
}

// "dup" holds Twin, whose root.osgb is dup's own index, through a symbolic or a hard link.
// Listed twice, dup is written once; an index naming Twin would make a reader load the index
// inside itself.
class TwinListedTwice : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        WriteTile(dup / "A");
        WriteTile(dup / "B");
        WriteLargeTile(big / "L1", 256 * 1024);
        WriteLargeTile(big / "L2", 256 * 1024);
        ASSERT_TRUE(ExportFolderIndexes({dup}).succeeded());
        fs::create_directories(dup / "Twin");
        if (GetParam())
            fs::create_hard_link(dup / "root.osgb", dup / "Twin" / "root.osgb");
        else
            fs::create_symlink(fs::path("..") / "root.osgb", dup / "Twin" / "root.osgb");
    }

    void check(const std::vector<fs::path>& folders, const std::vector<std::size_t>& first) {
        const RunLog run = ExportOneAtATime(folders, folders[first.back()]);
        ExpectWrittenOnceAt(run, folders, first);
        const FolderReport written = Listings(run.report)[first.back()];
        EXPECT_EQ(written.entries, (Names{"A\\root.osgb", "B\\root.osgb"}));
        EXPECT_EQ(Reasons(written)["Twin"], TileStatus::LinksBack);
        ASSERT_EQ(run.indexWhenWritten.size(), 1u);
        EXPECT_TRUE(SameFile(run.indexWhenWritten[0], Facts(dup / "root.osgb")))
            << "the index was written again after its first listing";
        const test::IndexContents index = ReadIndex(dup / "root.osgb");
        EXPECT_EQ(index.entries, written.entries);
        EXPECT_EQ(index.loadedTiles, 2u);
    }

    TempDir dir;
    const fs::path dup = dir / "dup";
    const fs::path big = dir / "big";
};

TEST_P(TwinListedTwice, AroundALargeFolder) {
    check({dup, big, dup}, {0, 1, 0});
}

TEST_P(TwinListedTwice, OneAfterTheOther) {
    check({dup, dup / "."}, {0, 0});
}

TEST_P(TwinListedTwice, AfterALargeFolderUnderAnotherSpelling) {
    fs::path slash = dup;
    slash += "/";
    const fs::path both = big / "..";
    check({big, slash, dup / "A" / "..", both, dup}, {0, 1, 1, 3, 1});
    // `both` holds the two blocks, each exported already where it was listed: its index names
    // them as they are, and neither is written again.
    const RunLog run = ExportOneAtATime({big, slash, both}, slash);
    ASSERT_EQ(run.report.folders.size(), 5u);
    for (std::size_t i : {2, 3}) {
        const FolderReport& block = run.report.folders[i];
        EXPECT_EQ(block.master, both);
        EXPECT_EQ(block.status, FolderStatus::ListedTwice);
        EXPECT_EQ(block.firstListing, block.folder.filename() == "big" ? big : slash);
    }
    const FolderReport& master = run.report.folders[4];
    EXPECT_EQ(master.status, FolderStatus::Written);
    EXPECT_EQ(master.entries, (Names{"big\\root.osgb", "dup\\root.osgb"}));
    ASSERT_EQ(run.indexWhenWritten.size(), 1u);
    EXPECT_TRUE(SameFile(run.indexWhenWritten[0], Facts(dup / "root.osgb")))
        << "the block's index was written again inside its folder of blocks";
}

INSTANTIATE_TEST_SUITE_P(Links, TwinListedTwice, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Hard" : "Symbolic"; });

TEST(ListedTwice, ALinkToAListedFolderIsThatFolder) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    fs::create_directory_symlink("block", dir / "link");
    fs::create_directories(dir / "far");
    fs::create_directory_symlink(fs::path("..") / "block", dir / "far" / "link");
    const std::vector<fs::path> folders{dir / "link", block, dir / "far" / "link"};
    const RunLog run = ExportOneAtATime(folders, folders[0]);
    ExpectWrittenOnceAt(run, folders, {0, 0, 0});
    ASSERT_EQ(run.indexWhenWritten.size(), 1u);
    EXPECT_TRUE(SameFile(run.indexWhenWritten[0], Facts(block / "root.osgb")));
    EXPECT_EQ(ReadIndex(block / "root.osgb").entries, (Names{"A\\root.osgb"}));
}

// A folder missing twice fails once and is named as listed twice.
TEST(ListedTwice, AMissingFolderFailsAtItsFirstListingOnly) {
    TempDir dir;
    WriteTile(dir / "block" / "A");
    const std::vector<fs::path> folders{dir / "gone", dir / "block", dir / "gone" / "."};
    const ExportReport report = ExportFolderIndexes(folders);
    ASSERT_EQ(report.folders.size(), 3u);
    EXPECT_EQ(report.folders[0].status, FolderStatus::Failed);
    EXPECT_EQ(report.folders[1].status, FolderStatus::Written);
    EXPECT_EQ(report.folders[2].status, FolderStatus::ListedTwice);
    EXPECT_EQ(report.folders[2].firstListing, folders[0]);
    EXPECT_FALSE(report.folders[2].error);
    EXPECT_FALSE(report.succeeded());
}

// The folder's own index replaced by a new file after the scan, before its tiles are checked
// (as an earlier folder of the run writing it through a link would): Twin links to the new
// file, which is no longer the one the scan saw, and must still be left out.
TEST(ListedTwice, AnIndexReplacedAfterTheScanIsStillNoTile) {
    TempDir dir;
    const fs::path block = dir / "block";
    for (const char* name : {"A", "B", "C"})
        WriteTile(block / name);
    ASSERT_TRUE(ExportFolderIndexes({block}).succeeded());
    fs::create_directories(block / "Twin");
    fs::create_symlink(fs::path("..") / "root.osgb", block / "Twin" / "root.osgb");

    ExportOptions options;
    options.jobs = 1;
    std::size_t checkedBeforeReplacing = 0;
    bool replaced = false;
    ExportCalls calls;
    calls.progress = [&](const ExportProgress& progress) {
        if (replaced)
            return;
        // The first report comes once every folder is scanned.
        replaced = true;
        checkedBeforeReplacing = progress.subfoldersDone;
        fs::copy_file(block / "root.osgb", block / "new.osgb");
        fs::rename(block / "new.osgb", block / "root.osgb");
    };
    const ExportReport report = ExportFolderIndexes({block}, options, calls);
    ASSERT_TRUE(replaced);
    ASSERT_LT(checkedBeforeReplacing, 3u) << "Twin was checked before its index was replaced";
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, (Names{"A\\root.osgb", "B\\root.osgb", "C\\root.osgb"}));
    EXPECT_EQ(Reasons(report.folders[0])["Twin"], TileStatus::LinksBack);
    EXPECT_EQ(ReadIndex(block / "root.osgb").loadedTiles, 3u);
}

} // namespace
} // namespace brindle
