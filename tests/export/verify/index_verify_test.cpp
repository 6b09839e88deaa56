#include "export/export_run.h"
#include "export/verify/index_verify.h"
#include "tests/export/test_fixtures.h"

#include <osg/Notify>
#include <osg/ProxyNode>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <map>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

std::map<std::string, IndexEntryCheck> ByName(const FolderVerification& folder) {
    std::map<std::string, IndexEntryCheck> byName;
    for (const IndexEntryCheck& entry : folder.entries)
        byName[entry.name] = entry;
    return byName;
}

TEST(VerifyFolderIndexes, ReportsEachEntryOfAnExistingIndexAndWritesNothing) {
    TempDir dir;
    const fs::path block = dir / "block";
    for (const char* tile : {"T1", "T2", "T3", "T4"})
        test::WriteTile(block / tile);
    ASSERT_TRUE(ExportFolderIndexes({block}).succeeded());
    const std::string index = test::ReadBytes(block / "root.osgb");

    ExportOptions options;
    options.jobs = 2;
    const std::vector<FolderVerification> sound =
        VerifyFolderIndexes({block}, options.checkSettings());
    ASSERT_EQ(sound.size(), 1u);
    EXPECT_FALSE(sound[0].error.has_value());
    EXPECT_EQ(sound[0].entries.size(), 4u);
    EXPECT_TRUE(sound[0].allResolve());

    // A deleted tile leaves its entry naming a missing file, which the reader's search then
    // finds under its bare name in the index's folder: the index itself, loaded without end.
    // A damaged one fails to load.
    fs::remove(block / "T2" / "root.osgb");
    test::WriteText(block / "T3" / "root.osgb", "");
    fs::remove(block / "T4" / "root.osgb");
    fs::create_directory(block / "T4" / "root.osgb");
    const std::vector<FolderVerification> broken =
        VerifyFolderIndexes({block}, options.checkSettings());
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_FALSE(broken[0].allResolve());
    const auto entries = ByName(broken[0]);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries.at("T1\\root.osgb").status, TileStatus::Valid);
    EXPECT_EQ(entries.at("T1\\root.osgb").file, block / "T1" / "root.osgb");
    EXPECT_EQ(entries.at("T2\\root.osgb").status, TileStatus::Cycle);
    EXPECT_TRUE(fs::equivalent(entries.at("T2\\root.osgb").file, block / "root.osgb"));
    EXPECT_EQ(entries.at("T3\\root.osgb").status, TileStatus::LoadFailed);
    EXPECT_EQ(entries.at("T3\\root.osgb").loadFailure, LoadFailure::EmptyFile);
    EXPECT_EQ(entries.at("T4\\root.osgb").status, TileStatus::NotRegularFile);
    EXPECT_EQ(test::ReadBytes(block / "root.osgb"), index) << "the index is left as it was";
}

// The check threads end with each folder; a worker started by one of them must not be asked
// for the next folder's entries after the system has ended it with its thread.
TEST(VerifyFolderIndexes, EveryFolderOfARunIsCheckedByLiveWorkers) {
    TempDir dir;
    std::vector<fs::path> blocks;
    for (const char* name : {"A", "B", "C"}) {
        blocks.push_back(dir / name);
        for (unsigned tile = 0; tile < 4; ++tile)
            test::WriteSizedTile(blocks.back() / ("T" + std::to_string(tile)), 96 * 1024, tile);
    }
    ASSERT_TRUE(ExportFolderIndexes(blocks).succeeded());

    ExportOptions options;
    options.jobs = 2;
    const std::vector<FolderVerification> results =
        VerifyFolderIndexes(blocks, options.checkSettings());
    ASSERT_EQ(results.size(), blocks.size());
    for (const FolderVerification& folder : results) {
        EXPECT_EQ(folder.entries.size(), 4u) << folder.folder;
        for (const IndexEntryCheck& entry : folder.entries)
            EXPECT_EQ(entry.status, TileStatus::Valid) << entry.file;
    }
}

void WriteProxyIndex(const fs::path& file, const std::vector<std::string>& names) {
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    for (unsigned i = 0; i < names.size(); ++i)
        proxy->setFileName(i, names[i]);
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, file.string()));
}

// Each entry is followed as a viewer that opens the index follows it: with the index's folder
// still searched and the index itself on the way.
TEST(VerifyFolderIndexes, EntriesAreFollowedFromTheIndexAsAViewerFollowsThem) {
    TempDir dir;
    const fs::path top = dir / "Top";
    test::WriteTile(top / "Plain");
    // An index tile copied alone: its names are missing under it, so the search finds its own
    // bare name, itself.
    WriteProxyIndex(top / "Tile" / "root.osgb", {"T1\\root.osgb", "T2\\root.osgb"});
    // Its name is found only in the index's folder, and what it finds names it again.
    WriteProxyIndex(top / "Reach" / "root.osgb", {"Sib\\tile.osgb"});
    WriteProxyIndex(top / "Sib" / "tile.osgb", {"Reach\\root.osgb"});
    // Found the same way, a tile.
    WriteProxyIndex(top / "Far" / "root.osgb", {"Near\\tile.osgb", "Missing\\tile.osgb"});
    test::WriteTile(top / "Near_tile");
    fs::create_directories(top / "Near");
    fs::copy_file(top / "Near_tile" / "root.osgb", top / "Near" / "tile.osgb");
    WriteProxyIndex(top / "root.osgb", {"Plain\\root.osgb", "Tile\\root.osgb", "Reach\\root.osgb",
                                        "Far\\root.osgb", "Missing\\tile.osgb"});

    const std::vector<FolderVerification> result = VerifyFolderIndexes({top});
    ASSERT_EQ(result.size(), 1u);
    ASSERT_FALSE(result[0].error.has_value());
    const auto entries = ByName(result[0]);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries.at("Plain\\root.osgb").status, TileStatus::Valid);
    EXPECT_EQ(entries.at("Tile\\root.osgb").status, TileStatus::Cycle);
    EXPECT_EQ(entries.at("Reach\\root.osgb").status, TileStatus::Cycle);
    EXPECT_EQ(entries.at("Far\\root.osgb").status, TileStatus::Valid);
    EXPECT_EQ(entries.at("Missing\\tile.osgb").status, TileStatus::NoRootFile);
    EXPECT_EQ(entries.at("Missing\\tile.osgb").file, top / "Missing" / "tile.osgb");
}

TEST(VerifyFolderIndexes, ListsEveryEntryOfAnIndexLargerThanOneReply) {
    TempDir dir;
    const fs::path block = dir / "block";
    // Long names, so that the names cannot all travel in one reply.
    const std::string prefix(60, 'n');
    for (int i = 0; i < 120; ++i)
        test::WriteTile(block / (prefix + std::to_string(i)));
    ExportOptions options;
    options.index = IndexKind::Paged;
    ASSERT_TRUE(ExportFolderIndexes({block}, options).succeeded());
    const std::vector<FolderVerification> result = VerifyFolderIndexes({block});
    ASSERT_EQ(result.size(), 1u);
    ASSERT_EQ(result[0].entries.size(), 120u);
    EXPECT_TRUE(result[0].allResolve());
    EXPECT_EQ(ByName(result[0]).count(prefix + "119/root.osgb"), 1u);
}

TEST(VerifyFolderIndexes, AFolderWithoutAnIndexOrHoldingATileDoesNotResolve) {
    TempDir dir;
    fs::create_directories(dir / "empty");
    test::WriteTile(dir / "tile");
    const std::vector<FolderVerification> results =
        VerifyFolderIndexes({dir / "empty", dir / "tile", dir / "absent"});
    ASSERT_EQ(results.size(), 3u);
    ASSERT_TRUE(results[0].error.has_value());
    EXPECT_EQ(results[0].error->kind, ProblemKind::ExistingUnreadable);
    EXPECT_EQ(results[0].error->cause, std::errc::no_such_file_or_directory);
    ASSERT_TRUE(results[1].error.has_value());
    EXPECT_EQ(results[1].error->kind, ProblemKind::ExistingHoldsScene);
    ASSERT_TRUE(results[2].error.has_value());
    EXPECT_EQ(results[2].error->kind, ProblemKind::FolderMissing);
    for (const FolderVerification& folder : results)
        EXPECT_FALSE(folder.allResolve());
}

} // namespace
} // namespace brindle
