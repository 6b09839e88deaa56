// --verify from the command line: an index's entries, and an overview walked down to its tiles.
#include "tests/cli/export_runner.h"
#include "tests/cli/report_fixtures.h"
#include "tests/export/test_fixtures.h"
#include "tests/export/verify/overview_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::Contains;
using test::kChinese;
using test::Outcome;
using test::RunExport;
using test::TempDir;

TEST(BrindleExport, VerifyListsBrokenEntriesAndExitsOneOnlyWhenSomeEntryIsBroken) {
    const TempDir dir;
    for (const char* tile : {"T1", "T2", "T3"})
        test::WriteTile(dir / "block" / tile);
    const std::string block = (dir / "block").string();
    ASSERT_EQ(RunExport(dir, {"-q", block}).status, 0);
    const std::string index = test::ReadBytes(dir / "block" / "root.osgb");
    const Outcome sound = RunExport(dir, {"--verify", block});
    EXPECT_EQ(sound.status, 0) << sound.out << sound.err;
    EXPECT_TRUE(Contains(sound.out, "3 entries ok, 0 broken")) << sound.out;

    fs::remove(dir / "block" / "T2" / "root.osgb");
    test::WriteText(dir / "block" / "T3" / "root.osgb", "not a scene");
    const Outcome broken = RunExport(dir, {"--verify", block});
    EXPECT_EQ(broken.status, 1);
    EXPECT_TRUE(Contains(broken.out, "1 entry ok, 2 broken")) << broken.out;
    // A viewer's search, not finding T2's file, finds the bare "root.osgb" beside the index:
    // the index itself, for ever.
    EXPECT_TRUE(Contains(broken.out, "T2\\root.osgb: names files to load that lead back"))
        << broken.out;
    EXPECT_TRUE(Contains(broken.out, "T3\\root.osgb: failed to load: not an OpenSceneGraph"))
        << broken.out;
    EXPECT_EQ(test::ReadBytes(dir / "block" / "root.osgb"), index) << "nothing is written";

    const Outcome noIndex = RunExport(dir, {"--verify", (dir / "block" / "T1").string()});
    EXPECT_EQ(noIndex.status, 1);
    EXPECT_TRUE(Contains(noIndex.err, "holds scene data, not an index")) << noIndex.err;
}

// An overview index is walked from root.osgb down to the tiles: the line counts the level
// files and tiles checked, each broken one is named under it with the level file naming it,
// in English and Chinese; a paged index's lines stay as they were.
TEST(BrindleExport, VerifyWalksAnOverviewDownToItsTilesAndCountsWhatItChecked) {
    const TempDir dir;
    const fs::path block = test::WriteProductionBlock(dir.path(), 30);
    ASSERT_EQ(RunExport(dir, {"-q", "-j", "2", "--index=overview", block.string()}).status, 0);
    const test::OverviewFiles truth = test::ReadOverview(block);
    ASSERT_EQ(truth.tiles.size(), 30u);
    const std::string index = (block / "root.osgb").string();
    const std::string levels = std::to_string(truth.levels.size());

    const Outcome sound = RunExport(dir, {"--verify", block.string()});
    EXPECT_EQ(sound.status, 0) << sound.err;
    EXPECT_EQ(sound.out, index + ": " + levels + " level files and 30 tiles ok, 0 broken\n");
    const Outcome soundChinese = RunExport(dir, {"--verify", block.string()}, "", kChinese);
    EXPECT_EQ(soundChinese.status, 0);
    EXPECT_EQ(soundChinese.out,
              index + "：" + levels + " 个总览层级文件和 30 个瓦片正常，0 个损坏\n");

    const test::OverviewDamage damage = test::DamageOverview(truth);
    ASSERT_EQ(damage.deletedTiles.size(), 3u);
    const std::string counts = std::to_string(damage.levelsReached - 2) + " level files and " +
                               std::to_string(damage.tilesReached - 3) + " tiles ok, 5 broken";
    const Outcome broken = RunExport(dir, {"--verify", block.string()});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out.substr(0, broken.out.find('\n')), index + ": " + counts);
    const std::string folder = damage.deletedLevel.parent_path().filename().string();
    const auto named = [&](const fs::path& file, const std::string& reason) {
        return " -> " + file.filename().string() + ": " + reason;
    };
    EXPECT_TRUE(Contains(broken.out, "\n  " + folder + "/L"));
    EXPECT_TRUE(Contains(broken.out, named(damage.deletedLevel, "names a missing file")))
        << broken.out;
    EXPECT_TRUE(
        Contains(broken.out, named(damage.cutLevel, "failed to load: the file is cut short")))
        << broken.out;
    for (const fs::path& tile : damage.deletedTiles) {
        const fs::path shown = tile.parent_path().filename() / tile.filename();
        EXPECT_TRUE(Contains(broken.out, shown.string() + ": names a missing file")) << broken.out;
    }
    EXPECT_EQ(std::count(broken.out.begin(), broken.out.end(), '\n'), 6);
    const Outcome brokenChinese = RunExport(dir, {"--verify", block.string()}, "", kChinese);
    EXPECT_EQ(brokenChinese.status, 1);
    EXPECT_TRUE(Contains(brokenChinese.out,
                         index + "：" + std::to_string(damage.levelsReached - 2) +
                             " 个总览层级文件和 " + std::to_string(damage.tilesReached - 3) +
                             " 个瓦片正常，5 个损坏\n"))
        << brokenChinese.out;
    EXPECT_TRUE(Contains(brokenChinese.out,
                         damage.deletedLevel.filename().string() + "：指向的文件不存在"));
    EXPECT_TRUE(Contains(brokenChinese.out, "：无法加载（文件被截断）"));

    // The same as one document: the counts, and each broken file with the level file naming it.
    const Outcome document = RunExport(dir, {"--verify", "--json", block.string()});
    EXPECT_EQ(document.status, 1);
    const json run = json::parse(document.out);
    EXPECT_EQ(run["succeeded"], false);
    ASSERT_EQ(run["folders"].size(), 1u);
    const json& checked = run["folders"][0];
    EXPECT_EQ(checked["index_file"], index);
    EXPECT_EQ(checked["error"], nullptr);
    EXPECT_EQ(checked["level_files"], json({{"ok", damage.levelsReached - 2}, {"broken", 2}}));
    EXPECT_EQ(checked["tiles"], json({{"ok", damage.tilesReached - 3}, {"broken", 3}}));
    EXPECT_EQ(checked["entries"],
              json({{"ok", damage.levelsReached + damage.tilesReached - 5}, {"broken", 5}}));
    std::map<std::string, json> brokenByFile;
    for (const json& entry : checked["broken"])
        brokenByFile[entry["file"].get<std::string>()] = entry;
    ASSERT_EQ(brokenByFile.size(), 5u) << checked.dump(1);
    const json& cut = brokenByFile[damage.cutLevel.string()];
    EXPECT_EQ(cut["reason"], "load_failed");
    EXPECT_EQ(cut["load_failure"], "truncated");
    EXPECT_EQ(cut["level_file"], true);
    EXPECT_EQ(brokenByFile[damage.deletedLevel.string()]["reason"], "no_root_file");
    for (const fs::path& tile : damage.deletedTiles) {
        const json& entry = brokenByFile[tile.string()];
        EXPECT_EQ(entry["reason"], "no_root_file") << tile;
        EXPECT_EQ(entry["level_file"], false);
        EXPECT_EQ(entry["named_by"].get<std::string>().rfind(folder + "/L", 0), 0u);
    }

    // A paged index of the same tiles, as it always was.
    const fs::path paged = test::WriteProductionBlock(dir / "paged", 30);
    ASSERT_EQ(RunExport(dir, {"-q", "--index=paged", paged.string()}).status, 0);
    EXPECT_EQ(RunExport(dir, {"--verify", paged.string()}).out,
              (paged / "root.osgb").string() + ": 30 entries ok, 0 broken\n");
    EXPECT_EQ(RunExport(dir, {"--verify", paged.string()}, "", kChinese).out,
              (paged / "root.osgb").string() + "：30 个条目正常，0 个损坏\n");
    const json pagedRun = json::parse(RunExport(dir, {"--verify", "--json", paged.string()}).out);
    EXPECT_EQ(pagedRun["folders"][0]["entries"], json({{"ok", 30}, {"broken", 0}}));
    EXPECT_EQ(pagedRun["folders"][0]["level_files"], json({{"ok", 0}, {"broken", 0}}));
    EXPECT_EQ(pagedRun["succeeded"], true);
}

} // namespace
} // namespace brindle
