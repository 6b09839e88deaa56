#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "export/verify/index_verify.h"
#include "tests/export/test_fixtures.h"
#include "tests/export/verify/overview_files.h"

#include <osg/Geode>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

FolderVerification VerifyOne(const fs::path& block) {
    ExportOptions options;
    options.jobs = 2;
    std::vector<FolderVerification> results = VerifyFolderIndexes({block}, options.checkSettings());
    EXPECT_EQ(results.size(), 1u);
    return results.empty() ? FolderVerification{} : std::move(results[0]);
}

void ExportOverview(const fs::path& block) {
    ExportOptions options;
    options.jobs = 2;
    options.index = IndexKind::Overview;
    ASSERT_TRUE(ExportFolderIndexes({block}, options).succeeded());
}

// Each entry by the file it leads to, lexically normal; each file must come once.
std::map<fs::path, IndexEntryCheck> ByFile(const FolderVerification& folder) {
    std::map<fs::path, IndexEntryCheck> byFile;
    for (const IndexEntryCheck& entry : folder.entries)
        EXPECT_TRUE(byFile.emplace(entry.file.lexically_normal(), entry).second)
            << entry.file << " checked twice";
    return byFile;
}

// An intact overview over a block of a side no power of two is walked to every tile, each
// level file and tile once; the tiles' own finer levels, which production blocks name but
// which are not there, are the tiles' business and not followed.
TEST(VerifyOverview, EveryLevelFileAndTileOfAnIntactOverviewIsCheckedOnce) {
    TempDir dir;
    const fs::path block = test::WriteProductionBlock(dir.path(), 30);
    ExportOverview(block);
    const test::OverviewFiles truth = test::ReadOverview(block);
    ASSERT_GT(truth.levels.size(), 5u);
    ASSERT_EQ(truth.tiles.size(), 30u);

    const FolderVerification folder = VerifyOne(block);
    EXPECT_FALSE(folder.error.has_value());
    EXPECT_TRUE(folder.allResolve());
    const auto byFile = ByFile(folder);
    EXPECT_EQ(folder.levelFiles(), truth.levels.size());
    EXPECT_EQ(folder.brokenLevelFiles(), 0u);
    EXPECT_EQ(folder.entries.size(), truth.levels.size() + truth.tiles.size());
    for (const auto& [level, below] : truth.levels)
        EXPECT_TRUE(byFile.count(level) && byFile.at(level).level) << level;
    for (const fs::path& tile : truth.tiles)
        EXPECT_TRUE(byFile.count(tile) && !byFile.at(tile).level) << tile;
}

// A level file deleted and another cut short, and three tiles' folders deleted: each is named
// with its reason and the level file that names it; what lies below a broken level file is
// not reached, and is not counted.
TEST(VerifyOverview, EachBrokenLevelFileAndDeletedTileIsNamed) {
    TempDir dir;
    const fs::path block = test::WriteProductionBlock(dir.path(), 30);
    ExportOverview(block);
    const test::OverviewDamage damage = test::DamageOverview(test::ReadOverview(block));
    ASSERT_EQ(damage.deletedTiles.size(), 3u);

    const FolderVerification folder = VerifyOne(block);
    EXPECT_FALSE(folder.error.has_value());
    EXPECT_FALSE(folder.allResolve());
    const auto byFile = ByFile(folder);
    EXPECT_EQ(folder.levelFiles(), damage.levelsReached);
    EXPECT_EQ(folder.entries.size() - folder.levelFiles(), damage.tilesReached);
    EXPECT_EQ(folder.brokenLevelFiles(), 2u);
    EXPECT_EQ(folder.broken(), 5u);

    const IndexEntryCheck& deleted = byFile.at(damage.deletedLevel);
    EXPECT_EQ(deleted.status, TileStatus::NoRootFile);
    EXPECT_TRUE(deleted.level);
    const IndexEntryCheck& cut = byFile.at(damage.cutLevel);
    EXPECT_EQ(cut.status, TileStatus::LoadFailed);
    EXPECT_EQ(cut.loadFailure, LoadFailure::Truncated);
    for (const fs::path& tile : damage.deletedTiles) {
        ASSERT_TRUE(byFile.count(tile)) << tile;
        const IndexEntryCheck& entry = byFile.at(tile);
        EXPECT_EQ(entry.status, TileStatus::NoRootFile) << tile;
        EXPECT_FALSE(entry.level);
        // Named by a level file, as the index stores its name.
        EXPECT_EQ(entry.namedBy.parent_path().parent_path(), fs::path());
        EXPECT_EQ((block / entry.namedBy.parent_path()).lexically_normal(),
                  damage.deletedLevel.parent_path());
        EXPECT_EQ(fs::path(entry.name).filename(), tile.filename());
    }

    // The level files are shown from the folder however the folder is given.
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    const FolderVerification relative = VerifyOne("block");
    fs::current_path(here);
    const auto tail = [](const fs::path& file) {
        return file.parent_path().filename() / file.filename();
    };
    const auto relativeByName = [&](const fs::path& file) {
        const auto found =
            std::find_if(relative.entries.begin(), relative.entries.end(),
                         [&](const IndexEntryCheck& e) { return tail(e.file) == tail(file); });
        return found == relative.entries.end() ? fs::path("none") : found->namedBy;
    };
    for (const fs::path& broken : {damage.deletedLevel, damage.cutLevel, damage.deletedTiles[0]})
        EXPECT_EQ(relativeByName(broken), byFile.at(broken).namedBy) << broken;
}

// A level file of a folder of levels of ours, holding no surface, naming `names`.
void WriteLevel(const fs::path& file, const std::vector<std::string>& names) {
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->addChild(new osg::Geode, 0, 1e6f);
    for (unsigned i = 0; i < names.size(); ++i) {
        lod->setFileName(i + 1, names[i]);
        lod->setRange(i + 1, 1e6f, 1e30f);
    }
    ASSERT_TRUE(osgDB::writeNodeFile(*lod, file.string()));
}

void WriteIndex(const fs::path& block, const std::vector<std::string>& names) {
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    for (unsigned i = 0; i < names.size(); ++i)
        proxy->setFileName(i, names[i]);
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, (block / "root.osgb").string()));
}

// Level files that name one above them, the index, or themselves would have a viewer page
// without end; a chain deeper than any overview is cut off. Each ends with a reason, and a
// tile named by two level files is checked once.
TEST(VerifyOverview, ALevelFileLeadingBackOrTooDeepEndsTheWalkWithAReason) {
    TempDir dir;
    const fs::path block = dir / "block";
    test::WriteTile(block / "T1");
    const Result<fs::path> made = MakeOverviewFolder(block);
    ASSERT_TRUE(made);
    const fs::path levels = *made;
    const std::string folderName = levels.filename().string();
    WriteLevel(levels / "A.osgb", {"B.osgb", "C.osgb", "../T1/root.osgb", "Self.osgb", "Up.osgb"});
    WriteLevel(levels / "B.osgb", {"A.osgb", "../T1/root.osgb"});
    WriteLevel(levels / "C.osgb", {"../T1/root.osgb"});
    WriteLevel(levels / "Self.osgb", {"Self.osgb"});
    WriteLevel(levels / "Up.osgb", {"../root.osgb"});
    // A chain of level files, each naming the next, far deeper than levels are written.
    const int chain = 200;
    for (int i = 0; i < chain; ++i)
        WriteLevel(levels / ("D" + std::to_string(i) + ".osgb"),
                   {"D" + std::to_string(i + 1) + ".osgb"});
    WriteIndex(block, {folderName + "\\A.osgb", folderName + "\\D0.osgb"});

    const FolderVerification folder = VerifyOne(block);
    ASSERT_FALSE(folder.error.has_value());
    EXPECT_FALSE(folder.allResolve());
    const auto byFile = ByFile(folder);
    for (const char* sound : {"A.osgb", "C.osgb"})
        EXPECT_EQ(byFile.at(levels / sound).status, TileStatus::Valid) << sound;
    for (const char* back : {"B.osgb", "Self.osgb", "Up.osgb"}) {
        const IndexEntryCheck& entry = byFile.at(levels / back);
        EXPECT_EQ(entry.status, TileStatus::Cycle) << back;
        EXPECT_FALSE(entry.tooDeep) << back;
    }
    EXPECT_EQ(byFile.at(block / "T1" / "root.osgb").status, TileStatus::Valid);

    // T1, named by A, B and C, is one tile checked once (ByFile would have said otherwise).
    EXPECT_EQ(folder.entries.size() - folder.levelFiles(), 1u);
    // The chain ends at one level file, well before its end, with its own reason.
    const auto tooDeep = std::count_if(folder.entries.begin(), folder.entries.end(),
                                       [](const IndexEntryCheck& e) { return e.tooDeep; });
    EXPECT_EQ(tooDeep, 1);
    EXPECT_LT(folder.levelFiles(), 5u + chain / 2);
    EXPECT_EQ(folder.brokenLevelFiles(), 4u);
}

} // namespace
} // namespace brindle
