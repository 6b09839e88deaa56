// Drives the built brindle-export as a user or a script would: arguments in, lines, JSON and
// an exit status out.
#include "tests/cli/export_runner.h"
#include "tests/cli/report_fixtures.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::Contains;
using test::kChinese;
using test::kEnglish;
using test::Outcome;
using test::Quote;
using test::RunExport;
using test::TempDir;

TEST(BrindleExport, PrintsEachFolderWithItsLeftOutTilesOnePerLineAndASummary) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    test::WriteTile(dir / "block" / "C");
    fs::create_directories(dir / "block" / "B");
    fs::create_directories(dir / "block" / "D");
    test::WriteText(dir / "block" / "E" / "root.osgb", "not a scene");
    test::WriteText(dir / "block" / "report.txt", "t\nX: 10.5 Y: 20 Z: 1\n");

    const Outcome outcome = RunExport(dir, {"-j", "2", (dir / "block").string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(outcome.err.empty()) << outcome.err;
    const std::string index = (dir / "block" / "root.osgb").string();
    EXPECT_EQ(outcome.out, "wrote " + index +
                               ": 2 entries, translation (10.500, 20.000, 0.000); left out 3: "
                               "2 no root file, 1 failed to load\n"
                               "  B: no root.osgb or B.osgb in it\n"
                               "  D: no root.osgb or D.osgb in it\n"
                               "  E: root.osgb failed to load: not an OpenSceneGraph scene file\n"
                               "1 folder: 1 written; 2 entries, 3 left out\n");
    EXPECT_EQ(test::ReadIndex(dir / "block" / "root.osgb").entries.size(), 2u);
}

TEST(BrindleExport, SpeaksChineseInAChineseLocale) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    fs::create_directories(dir / "block" / "B");
    const std::string block = (dir / "block").string();
    const Outcome outcome =
        RunExport(dir, {"-j", "1", block, (dir / "absent").string()}, "", kChinese);
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "已写入 " + block + "/root.osgb：1 个条目")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "\n  B：无 root.osgb，也无 B.osgb\n")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out,
                         "共 2 个目录：已写入 1 个，1 个失败；共 1 个条目，1 个子目录未收录\n"))
        << outcome.out;
    EXPECT_EQ(outcome.err, "brindle-export: 错误：目录 " + (dir / "absent").string() + " 不存在\n");

    const Outcome help = RunExport(dir, {"--help"}, "", kChinese);
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"用法: brindle-export [选项] FOLDER...", "位置参数:", "选项:",
                             "-j,--jobs N", "检查瓦片的工作进程数", "显示此帮助并退出",
                             "退出状态：", "  3    使用 --strict 时", "metadata.xml"})
        EXPECT_TRUE(Contains(help.out, part)) << part << "\n" << help.out;
    EXPECT_FALSE(Contains(help.out, "Exit status")) << help.out;

    const Outcome usage = RunExport(dir, {"-j", "abc", block}, "", kChinese);
    EXPECT_EQ(usage.err, "brindle-export: --jobs 需要 1 到 1024 之间的整数，而不是 'abc'\n");
    // LC_ALL comes first, and BRINDLE_LANG before the locale.
    EXPECT_TRUE(
        Contains(RunExport(dir, {"--help"}, "", "LC_ALL=C LANG=zh_CN.UTF-8").out, "Exit status"));
    EXPECT_TRUE(
        Contains(RunExport(dir, {"--help"}, "", "LC_ALL=C BRINDLE_LANG=zh").out, "退出状态"));
}

// Real tiles are 64 KB and more, which switches reading ahead on; the biggest comes last.
TEST(BrindleExport, ExportsAFolderOfRealSizeTiles) {
    TempDir dir;
    const std::vector<std::string> tiles{"A", "B", "C", "D"};
    for (std::size_t i = 0; i < tiles.size(); ++i)
        test::WriteSizedTile(dir / "block" / tiles[i], (std::uint64_t{100} + 200 * i) << 10,
                             unsigned(i));
    for (const char* jobs : {"1", "2", "4"}) {
        const Outcome outcome = RunExport(dir, {"-j", jobs, (dir / "block").string()});
        EXPECT_EQ(outcome.status, 0) << jobs << " jobs: " << outcome.err;
        EXPECT_TRUE(Contains(outcome.out, "1 folder: 1 written; 4 entries, 0 left out\n"))
            << outcome.out;
        EXPECT_EQ(test::ReadIndex(dir / "block" / "root.osgb").loadedTiles, tiles.size());
    }
}

TEST(BrindleExport, AFailedFolderExitsOneAndTheOthersAreStillWritten) {
    TempDir dir;
    test::WriteTile(dir / "good" / "A");
    const Outcome outcome =
        RunExport(dir, {"-q", (dir / "absent").string(), (dir / "good").string()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "brindle-export: error: " + (dir / "absent").string() + ": folder does not exist\n");
    EXPECT_TRUE(outcome.out.empty()) << "quiet prints errors only: " << outcome.out;
    EXPECT_TRUE(fs::exists(dir / "good" / "root.osgb"));
}

// A production layout listed one level too high: every tile folder is named after itself and
// sits in Data. The folder of tile folders gets nothing written and exits 1, saying per
// subfolder what was looked for; --force writes the empty index all the same.
TEST(BrindleExport, AFolderWithNoTilesFailsAndSaysWhatWasLookedFor) {
    TempDir dir;
    fs::create_directories(dir / "block" / "Tile_+000_+000");
    test::WriteText(dir / "block" / "Tile_+000_+000" / "Tile_+000_+000_L15.osgb", "");
    const std::string block = (dir / "block").string();
    const Outcome failed = RunExport(dir, {"--strict", block});
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_TRUE(Contains(failed.err, "no index was written")) << failed.err;
    EXPECT_TRUE(Contains(failed.err, "  Tile_+000_+000: no root.osgb or Tile_+000_+000.osgb"))
        << failed.err;
    EXPECT_FALSE(fs::exists(dir / "block" / "root.osgb"));

    const Outcome forced = RunExport(dir, {"--force", block});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(fs::exists(dir / "block" / "root.osgb"));
}

TEST(BrindleExport, TheSpatialReferenceAndTheBlocksOfAFolderAreShown) {
    TempDir dir;
    test::WriteTile(dir / "Project" / "Block_A" / "Tile_1");
    test::WriteText(dir / "Project" / "Block_A" / "metadata.xml",
                    "<ModelMetadata version=\"1\"><SRS>EPSG:4547</SRS>"
                    "<SRSOrigin>1,2,3</SRSOrigin></ModelMetadata>");
    test::WriteTile(dir / "Project" / "Block_B" / "Tile_1");
    const std::string project = (dir / "Project").string();
    const Outcome text = RunExport(dir, {project});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "translation (1.000, 2.000, 3.000) in EPSG:4547")) << text.out;
    EXPECT_TRUE(Contains(text.out, "  block of " + project + "\n")) << text.out;
    EXPECT_TRUE(Contains(text.out, "root.osgb over 2 blocks: 2 entries")) << text.out;

    const json report = json::parse(RunExport(dir, {"--json", project}).out);
    ASSERT_EQ(report["folders"].size(), 3u);
    EXPECT_EQ(report["folders"][0]["srs"], "EPSG:4547");
    const json& source = report["folders"][0]["translation_source"];
    EXPECT_EQ(source["kind"], "metadata");
    // The metadata file has a key of its own; "report" stays for report.txt.
    EXPECT_EQ(source["metadata"], project + "/Block_A/metadata.xml");
    EXPECT_EQ(source["report"], nullptr);
    EXPECT_EQ(source["from_folder"], project + "/Block_A");
    EXPECT_EQ(report["folders"][0]["srs_kind"], "projected");
    EXPECT_EQ(report["folders"][0]["local_frame"], false);
    EXPECT_EQ(report["folders"][0]["master"]["path"], project);
    EXPECT_EQ(report["folders"][2]["blocks"].size(), 2u);
    EXPECT_EQ(report["folders"][2]["translation_source"]["kind"], "blocks");
}

std::string MetadataXml(const std::string& srs, const std::string& origin) {
    return "<ModelMetadata version=\"1\"><SRS>" + srs + "</SRS><SRSOrigin>" + origin +
           "</SRSOrigin></ModelMetadata>";
}

TEST(BrindleExport, SaysWhereTilesStayInTheirLocalFrameAndWhereDegreesAreNoTranslation) {
    TempDir dir;
    test::WriteTile(dir / "Enu" / "Tile_1");
    test::WriteText(dir / "Enu" / "metadata.xml", MetadataXml("ENU:30.52,114.31", "0,0,0"));
    const std::string enu = (dir / "Enu").string();
    const Outcome text = RunExport(dir, {enu});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "in ENU:30.52,114.31 (local frame")) << text.out;
    const Outcome chinese = RunExport(dir, {enu}, "", kChinese);
    EXPECT_TRUE(Contains(chinese.out, "局部坐标系")) << chinese.out;
    const json report = json::parse(RunExport(dir, {"--json", enu}).out);
    const json& folder = report["folders"][0];
    EXPECT_EQ(folder["local_frame"], true);
    EXPECT_EQ(folder["srs_kind"], "enu");
    EXPECT_EQ(folder["translation_source"]["metadata"], enu + "/metadata.xml");
    EXPECT_EQ(folder["translation_source"]["report"], nullptr);

    test::WriteTile(dir / "Degrees" / "Tile_1");
    test::WriteText(dir / "Degrees" / "metadata.xml", MetadataXml("EPSG:4326", "114.31,30.52,20"));
    const std::string degrees = (dir / "Degrees").string();
    const Outcome refused = RunExport(dir, {degrees});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err, degrees + "/metadata.xml: SRS EPSG:4326 is geographic"))
        << refused.err;
    EXPECT_FALSE(fs::exists(dir / "Degrees" / "root.osgb"));
    const json failed = json::parse(RunExport(dir, {"--json", degrees}).out);
    EXPECT_EQ(failed["folders"][0]["error"]["kind"], "metadata_geographic_srs");
    EXPECT_EQ(failed["folders"][0]["error"]["srs"][0]["srs"], "EPSG:4326");
    // Refused before its tile was read, it names nothing, and the summary counts nothing.
    EXPECT_EQ(failed["folders"][0]["entries"], json::array());
    EXPECT_EQ(failed["totals"]["entries"], 0);
    EXPECT_TRUE(Contains(refused.out, "0 entries")) << refused.out;
    const Outcome forced = RunExport(dir, {"--force", degrees});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(fs::exists(dir / "Degrees" / "root.osgb"));
}

TEST(BrindleExport, StrictRefusesToCombineBlocksInDifferentSpatialReferences) {
    TempDir dir;
    test::WriteTile(dir / "Project" / "Block_A" / "Tile_1");
    test::WriteText(dir / "Project" / "Block_A" / "metadata.xml",
                    MetadataXml("EPSG:4547", "512345.6,3400000.3,12.5"));
    test::WriteTile(dir / "Project" / "Block_B" / "Tile_1");
    test::WriteText(dir / "Project" / "Block_B" / "metadata.xml",
                    MetadataXml("ENU:30.52,114.31", "0,0,0"));
    const std::string project = (dir / "Project").string();
    const Outcome warned = RunExport(dir, {project});
    EXPECT_EQ(warned.status, 0) << warned.err;
    EXPECT_TRUE(Contains(warned.out + warned.err, "Block_A: EPSG:4547; Block_B: ENU:30.52,114.31"))
        << warned.out << warned.err;
    EXPECT_TRUE(fs::exists(dir / "Project" / "root.osgb"));
    fs::remove(dir / "Project" / "root.osgb");
    const Outcome strict = RunExport(dir, {"--strict", project});
    EXPECT_EQ(strict.status, 1) << strict.err;
    EXPECT_FALSE(fs::exists(dir / "Project" / "root.osgb"));
}

TEST(BrindleExport, StrictExitsThreeOnlyWhenAllIsWrittenButSomethingWasLeftOutOrWarned) {
    TempDir dir;
    test::WriteTile(dir / "clean" / "A");
    test::WriteTile(dir / "gaps" / "A");
    fs::create_directories(dir / "gaps" / "B");
    test::WriteTile(dir / "warned" / "A");
    test::WriteText(dir / "warned" / "report.txt", "only one line");
    const std::string clean = (dir / "clean").string();
    const std::string gaps = (dir / "gaps").string();
    const std::string warned = (dir / "warned").string();
    const std::string absent = (dir / "absent").string();

    EXPECT_EQ(RunExport(dir, {"--strict", clean}).status, 0);
    EXPECT_EQ(RunExport(dir, {gaps}).status, 0);
    EXPECT_EQ(RunExport(dir, {"--strict", clean, gaps}).status, 3);
    const Outcome warnedRun = RunExport(dir, {"--strict", warned});
    EXPECT_EQ(warnedRun.status, 3);
    EXPECT_TRUE(Contains(warnedRun.err, "brindle-export: warning: ")) << warnedRun.err;
    EXPECT_EQ(RunExport(dir, {"--strict", gaps, absent}).status, 1) << "failure comes first";
}

TEST(BrindleExport, UsageErrorsExitTwoAndSayWhatWasWrong) {
    TempDir dir;
    const std::string folder = dir.path().string();
    const Outcome jobs = RunExport(dir, {"-j", "abc", folder});
    EXPECT_EQ(jobs.status, 2);
    EXPECT_EQ(jobs.err, "brindle-export: --jobs takes a whole number from 1 to 1024, not 'abc'\n");
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{},
                                                  {"--jobs", "0", folder},
                                                  {"--jobs", "1025", folder},
                                                  {"--no-such-option", folder},
                                                  {"--progress=sometimes", folder},
                                                  {"--index=tree", folder},
                                                  {folder, "-j"}}) {
        const Outcome outcome = RunExport(dir, wrong);
        EXPECT_EQ(outcome.status, 2) << outcome.err;
        EXPECT_EQ(outcome.err.rfind("brindle-export: ", 0), 0u) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
    EXPECT_FALSE(fs::exists(dir / "root.osgb"));

    const Outcome help = RunExport(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* listed :
         {"--dry-run", "--json", "--strict", "--force", "--no-cache", "--progress", "--index",
          "Exit status", "  0 ", "  1 ", "  2 ", "  3 ", "  130 ", "  141 ", "  143 "})
        EXPECT_TRUE(Contains(help.out, listed)) << listed;
    // The first lines say where the origin comes from: either file a block may have.
    const std::string opening = help.out.substr(0, help.out.find("Options"));
    for (const char* origin : {"report.txt", "metadata.xml", "<subfolder>.osgb"})
        EXPECT_TRUE(Contains(opening, origin)) << origin << "\n" << opening;
    EXPECT_EQ(RunExport(dir, {"--version"}).status, 0);
}

// A run keeps its verdicts in the user's cache folder, and a re-run takes those of unchanged
// tiles from there, a bad tile's included; --no-cache checks every tile again.
TEST(BrindleExport, ReRunsTakeUnchangedTilesVerdictsFromTheCacheUnlessTold) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    test::WriteTile(dir / "block" / "B");
    test::WriteText(dir / "block" / "C" / "root.osgb", "not a scene");
    // A tile changed less than a second before a run is checked, and not kept.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const std::string block = (dir / "block").string();
    const std::string locale =
        std::string(kEnglish) + " XDG_CACHE_HOME=" + Quote((dir / "cache").string());
    const auto cached = [&](const std::vector<std::string>& options) {
        std::vector<std::string> arguments = options;
        arguments.push_back("--json");
        arguments.push_back(block);
        const Outcome outcome = RunExport(dir, arguments, "", locale);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        const json run = json::parse(outcome.out);
        EXPECT_EQ(run["folders"][0]["entries"].size(), 2u);
        EXPECT_EQ(run["folders"][0]["cached_verdicts"], run["totals"]["cached_verdicts"]);
        return run["totals"]["cached_verdicts"].get<int>();
    };
    EXPECT_EQ(cached({}), 0);
    EXPECT_FALSE(fs::is_empty(dir / "cache" / "brindle"));
    EXPECT_EQ(cached({}), 3);
    EXPECT_EQ(cached({"--no-cache"}), 0);
    EXPECT_EQ(cached({}), 3);
    const Outcome text = RunExport(dir, {block}, "", locale);
    EXPECT_TRUE(Contains(text.out, "; 3 verdicts from the cache\n")) << text.out;
    EXPECT_FALSE(Contains(RunExport(dir, {"--no-cache", block}, "", locale).out, "cache"));
}

// A cache that cannot be used is said once on stderr, and in the JSON, never passed over.
TEST(BrindleExport, ACacheThatCannotBeUsedIsOneWarning) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    test::WriteText(dir / "not-a-folder", "x");
    const std::string locale =
        std::string(kEnglish) + " XDG_CACHE_HOME=" + Quote((dir / "not-a-folder").string());
    const std::string block = (dir / "block").string();
    const Outcome text = RunExport(dir, {"-q", block}, "", locale);
    EXPECT_EQ(text.status, 0) << text.err;
    const std::string warning =
        "brindle-export: warning: " + (dir / "not-a-folder" / "brindle").string() +
        ": the verdict cache folder cannot be used";
    EXPECT_TRUE(Contains(text.err, warning)) << text.err;
    EXPECT_EQ(text.err.find("warning:"), text.err.rfind("warning:")) << text.err;
    const Outcome strict = RunExport(dir, {"-q", "--strict", block}, "", locale);
    EXPECT_EQ(strict.status, 3) << "a warning was given: " << strict.err;
    EXPECT_EQ(RunExport(dir, {"-q", "--strict", "--no-cache", block}, "", locale).status, 0);

    const Outcome document = RunExport(dir, {"--json", block}, "", locale);
    EXPECT_EQ(document.status, 0) << document.err;
    EXPECT_TRUE(Contains(document.err, warning)) << document.err;
    const json run = json::parse(document.out);
    ASSERT_EQ(run["warnings"].size(), 1u);
    EXPECT_EQ(run["warnings"][0]["kind"], "cache_folder_unusable");
}

TEST(BrindleExport, AFullStandardOutputExitsOneWithAMessage) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    for (const char* format : {"--progress=none", "--json"}) {
        const Outcome outcome = RunExport(dir, {format, (dir / "block").string()}, ">/dev/full");
        EXPECT_EQ(outcome.status, 1) << format;
        EXPECT_TRUE(
            Contains(outcome.err, "brindle-export: cannot write to standard output: No space left"))
            << outcome.err;
    }
}

// The library checks, in a dry run, whether each index could be written; a root.osgb that is
// a folder with files in it cannot be replaced. Disabled until the export run makes that
// check: today a dry run reports every scanned folder as writable.
TEST(BrindleExport, DryRunPredictsAFailedWriteAndWritesNothing) {
    TempDir dir;
    test::WriteTile(dir / "good" / "A");
    test::WriteTile(dir / "blocked" / "A");
    test::WriteText(dir / "blocked" / "root.osgb" / "keep.txt", "in the way");

    const Outcome outcome =
        RunExport(dir, {"--dry-run", (dir / "good").string(), (dir / "blocked").string()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.out, "would write " + (dir / "good" / "root.osgb").string()))
        << outcome.out;
    EXPECT_FALSE(Contains(outcome.out, "would write " + (dir / "blocked").string())) << outcome.out;
    EXPECT_TRUE(
        Contains(outcome.err, "brindle-export: error: " + (dir / "blocked" / "root.osgb").string()))
        << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "good" / "root.osgb"));
    EXPECT_TRUE(fs::is_directory(dir / "blocked" / "root.osgb"));
}

TEST(BrindleExport, DryRunWritesNothing) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    const Outcome outcome = RunExport(dir, {"--dry-run", (dir / "block").string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "would write")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "1 folder: 1 would be written")) << outcome.out;
    EXPECT_FALSE(fs::exists(dir / "block" / "root.osgb"));
}

// An existing root.osgb holding a scene (not an index) is kept without --force, and the
// message points at the likely mistake rather than at --force; --force replaces it.
TEST(BrindleExport, ForceReplacesAnExistingSceneFile) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    test::WriteTile(dir / "block"); // a scene where the index goes
    const std::string scene = test::ReadBytes(dir / "block" / "root.osgb");

    const Outcome kept = RunExport(dir, {(dir / "block").string()});
    EXPECT_EQ(kept.status, 1);
    EXPECT_FALSE(Contains(kept.err, "--force")) << kept.err;
    EXPECT_TRUE(Contains(kept.err, "is a model")) << kept.err;
    EXPECT_TRUE(Contains(kept.err, "list its parent folder")) << kept.err;
    EXPECT_EQ(test::ReadBytes(dir / "block" / "root.osgb"), scene);

    const Outcome forced = RunExport(dir, {"--force", (dir / "block").string()});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(test::ReadIndex(dir / "block" / "root.osgb").entries.size(), 1u);
}

TEST(BrindleExport, APagedIndexIsWrittenAndSaidSo) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    const std::string block = (dir / "block").string();
    const Outcome text = RunExport(dir, {"--index=paged", block});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "(paged index): 1 entry")) << text.out;
    const Outcome proxy = RunExport(dir, {"--json", block});
    EXPECT_EQ(json::parse(proxy.out)["folders"][0]["index_kind"], "proxy");
    const json paged = json::parse(RunExport(dir, {"--json", "--index", "paged", block}).out);
    EXPECT_EQ(paged["options"]["index_kind"], "paged");
    EXPECT_EQ(paged["folders"][0]["index_kind"], "paged");
    EXPECT_EQ(paged["folders"][0]["proxy_leaves"], json::array());
    EXPECT_EQ(test::ReadIndex(dir / "block" / "root.osgb").isTransformOverOneProxy, false);
}

// dup/Twin/root.osgb is dup's own index through a link; dup listed twice around another
// folder is written once, and an index naming Twin would have a reader load it in itself.
TEST(BrindleExport, AFolderListedTwiceIsWrittenOnceAndSaidSo) {
    TempDir dir;
    test::WriteTile(dir / "dup" / "A");
    test::WriteTile(dir / "big" / "A");
    test::WriteTile(dir / "big" / "B");
    const std::string dup = (dir / "dup").string();
    const std::string big = (dir / "big").string();
    ASSERT_EQ(RunExport(dir, {dup}).status, 0);
    fs::create_directories(dir / "dup" / "Twin");
    fs::create_symlink("../root.osgb", dir / "dup" / "Twin" / "root.osgb");

    const Outcome outcome = RunExport(dir, {"-j", "1", dup, big, dup + "/"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "brindle-export: warning: " + dup + "/: the same folder as " + dup +
                               ", listed earlier; exported once\n");
    EXPECT_EQ(outcome.out, "wrote " + dup +
                               "/root.osgb: 1 entry, translation (0.000, 0.000, 0.000); left out "
                               "1: 1 leading back to the folder\n"
                               "  Twin: it leads back to the listed folder\n"
                               "wrote " +
                               big +
                               "/root.osgb: 2 entries, translation (0.000, 0.000, 0.000)\n"
                               "3 folders: 2 written, 1 listed twice; 3 entries, 1 left out\n");
    EXPECT_EQ(test::ReadIndex(dir / "dup" / "root.osgb").entries,
              std::vector<std::string>{"A\\root.osgb"});
    EXPECT_EQ(RunExport(dir, {"--strict", dup, dup}).status, 3) << "a repeat is worth a warning";

    const json run = json::parse(RunExport(dir, {"--json", dup, big, dup}).out);
    ASSERT_EQ(run["folders"].size(), 3u);
    EXPECT_EQ(run["folders"][0]["status"], "written");
    EXPECT_TRUE(run["folders"][0]["first_listing"].is_null());
    EXPECT_EQ(run["folders"][2]["status"], "listed_twice");
    EXPECT_EQ(run["folders"][2]["path"], dup);
    EXPECT_EQ(run["folders"][2]["first_listing"], dup);
    EXPECT_EQ(run["folders"][2]["entries"], json::array());
    EXPECT_EQ(run["totals"]["written"], 2);
    EXPECT_EQ(run["totals"]["listed_twice"], 1);
    EXPECT_EQ(run["succeeded"], true);
}

// "." inside a production folder's Data is that Data: the origin of the metadata.xml beside
// it, the same index bytes, and the line names the folder as it was typed.
TEST(BrindleExport, DotInsideDataIsDataWithItsOrigin) {
    TempDir dir;
    const fs::path data = dir / "P" / "Data";
    test::WriteTile(data / "Tile_+000_+000");
    test::WriteText(dir / "P" / "metadata.xml",
                    "<?xml version=\"1.0\"?>\n<ModelMetadata><SRS>EPSG:4547</SRS>"
                    "<SRSOrigin>100.5,200.25,3</SRSOrigin></ModelMetadata>\n");
    ASSERT_EQ(RunExport(dir, {data.string()}).status, 0);
    const std::string reference = test::ReadBytes(data / "root.osgb");
    fs::remove(data / "root.osgb");

    const Outcome inside =
        RunExport(dir, {"."}, "", "cd " + Quote(data.string()) + " && " + kEnglish);
    EXPECT_EQ(inside.status, 0) << inside.err;
    EXPECT_TRUE(
        Contains(inside.out, "wrote ./root.osgb: 1 entry, translation (100.500, 200.250, 3.000)"))
        << inside.out;
    EXPECT_EQ(test::ReadBytes(data / "root.osgb"), reference);
}

// A folder of blocks is one folder listed; its blocks are counted apart, and its entries,
// which name the blocks' indexes, are not counted as tiles again.
TEST(BrindleExport, TheSummaryCountsAFolderOfBlocksAsOneFolder) {
    TempDir dir;
    for (const char* block : {"Block_A", "Block_B"})
        for (const char* tile : {"T1", "T2", "T3"})
            test::WriteTile(dir / "Project" / block / tile);
    fs::create_directories(dir / "Project" / "Block_C" / "T1");
    test::WriteText(dir / "Project" / "Block_C" / "T1" / "root.osgb", "not a scene");
    test::WriteTile(dir / "Other" / "T1");

    const Outcome english = RunExport(dir, {(dir / "Project").string(), (dir / "Other").string()});
    EXPECT_EQ(english.status, 1) << "Block_C failed";
    EXPECT_TRUE(Contains(english.out, "\n2 folders: 2 written; 3 blocks within, 1 not written; "
                                      "7 entries, 2 left out\n"))
        << english.out;
    const Outcome chinese =
        RunExport(dir, {(dir / "Project").string(), (dir / "Other").string()}, "", kChinese);
    EXPECT_TRUE(Contains(chinese.out, "\n共 2 个目录：已写入 2 个；含 3 个分块，1 个未写入；"
                                      "共 7 个条目，2 个子目录未收录\n"))
        << chinese.out;
}

} // namespace
} // namespace brindle
