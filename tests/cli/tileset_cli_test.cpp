// The command line's side of a 3D Tiles tileset: its options, its line under the folder's, and
// what the JSON report says of it.
#include "cli/command_line.h"
#include "cli/report_json.h"
#include "cli/report_printer.h"
#include "tests/cli/report_fixtures.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

using test::Contains;
using test::WrittenFolder;

TEST(ParseCommandLine, ATilesetMakesTheIndexAnOverview) {
    for (const std::vector<const char*>& arguments :
         {std::vector<const char*>{"brindle-export", "--3dtiles", "web", "a"},
          {"brindle-export", "--index=overview", "--3dtiles=web", "--3dtiles-quantize", "a"},
          {"brindle-export", "--3dtiles-b3dm", "--3dtiles=web", "--3dtiles-meshopt", "a"}}) {
        CommandLine line;
        std::ostringstream out, err;
        EXPECT_EQ(ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), line, out,
                                   err, wording::Language::English),
                  std::nullopt)
            << err.str();
        EXPECT_EQ(line.tilesets, "web");
        EXPECT_EQ(line.index, IndexKind::Overview);
        const auto given = [&](const std::string& flag) {
            return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
        };
        EXPECT_EQ(line.tilesetsQuantize, given("--3dtiles-quantize"));
        EXPECT_EQ(line.tilesetsB3dm, given("--3dtiles-b3dm"));
        EXPECT_EQ(line.tilesetsMeshopt, given("--3dtiles-meshopt"));
    }
}

// Each content flag without a tileset is a usage error naming it, in either language.
TEST(ParseCommandLine, AContentFlagWithoutATilesetIsAUsageError) {
    for (const char* flag : {"--3dtiles-quantize", "--3dtiles-b3dm", "--3dtiles-meshopt"}) {
        const std::vector<const char*> arguments = {"brindle-export", flag, "a"};
        for (const auto& [language, message] :
             {std::pair{wording::Language::English, std::string(flag) + " goes with --3dtiles DIR"},
              std::pair{wording::Language::Chinese,
                        std::string(flag) + " 需与 --3dtiles DIR 同用"}}) {
            CommandLine line;
            std::ostringstream out, err;
            EXPECT_EQ(ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), line,
                                       out, err, language),
                      2);
            EXPECT_TRUE(Contains(err.str(), message)) << err.str();
        }
    }
}

// The tileset's line follows its folder's, each file left out under it with its reason, and
// the warnings naming those files are not said twice.
TEST(ReportStreamer, ATilesetsLineFollowsItsFolderWithTheFilesLeftOut) {
    FolderReport folder = WrittenFolder("block");
    folder.index = IndexKind::Overview;
    TilesetReport& tileset = folder.tileset.emplace();
    tileset.folder = "web/block";
    tileset.status = TilesetStatus::Written;
    tileset.converted = 12;
    tileset.reused = 30;
    LeftOutSubfolder damaged("Data/Tile_1/Tile_1_L2.osgb", TileStatus::TimedOut, {}, 15000,
                             "block/Data/Tile_1/Tile_1_L2.osgb");
    tileset.leftOut = {damaged};
    folder.warnings = {{ProblemKind::TilesetFileLeftOut, damaged.rootFile, {}},
                       {ProblemKind::TilesetLocalFrame, "web/block", {}}};
    std::ostringstream out, err;
    ReportStreamer streamer(out, err, false, wording::Language::English);
    streamer.folder(folder);
    EXPECT_TRUE(Contains(out.str(), "\n  3D Tiles: web/block/tileset.json (12 files converted, 30 "
                                    "unchanged taken as they were, 1 left out)\n"
                                    "    Data/Tile_1/Tile_1_L2.osgb: "))
        << out.str();
    EXPECT_TRUE(Contains(out.str(), "15")) << out.str();
    EXPECT_FALSE(Contains(err.str(), "Tile_1_L2")) << err.str();
    EXPECT_TRUE(Contains(err.str(), "local frame")) << err.str();

    std::ostringstream chineseOut, chineseErr;
    ReportStreamer chinese(chineseOut, chineseErr, false, wording::Language::Chinese);
    tileset.status = TilesetStatus::Failed;
    folder.warnings = {{ProblemKind::TilesetFolderNotOurs, "web/block", {}}};
    chinese.folder(folder);
    EXPECT_TRUE(Contains(chineseOut.str(), "3D Tiles：未写入 web/block/tileset.json"))
        << chineseOut.str();
    EXPECT_TRUE(Contains(chineseErr.str(), "web/block 中已有不是本程序写入的文件"))
        << chineseErr.str();
}

TEST(ReportJson, ATilesetSaysWhereItIsWhatItCameToAndWhatWasLeftOut) {
    FolderReport folder = WrittenFolder("one");
    TilesetReport& tileset = folder.tileset.emplace();
    tileset.folder = "web/one";
    tileset.status = TilesetStatus::Cancelled;
    tileset.converted = 3;
    tileset.reused = 4;
    tileset.tiles = 6;
    tileset.leftOut = {
        {"Data/t/t_L1.osgb", TileStatus::OutOfMemory, {}, 1u << 30, "one/Data/t/t_L1.osgb"}};
    ExportReport report;
    report.folders = {folder, WrittenFolder("two")};
    const json run = json::parse(ReportJson(report, RunSettings()).dump());
    const json& written = run["folders"][0]["tileset"];
    EXPECT_EQ(written["path"], "web/one");
    EXPECT_EQ(written["status"], "cancelled");
    EXPECT_EQ(written["converted"], 3);
    EXPECT_EQ(written["reused"], 4);
    EXPECT_EQ(written["tiles"], 6);
    ASSERT_EQ(written["left_out"].size(), 1u);
    EXPECT_EQ(written["left_out"][0]["name"], "Data/t/t_L1.osgb");
    EXPECT_EQ(written["left_out"][0]["reason"], "out_of_memory");
    EXPECT_EQ(written["left_out"][0]["limit_bytes"], 1u << 30);
    EXPECT_TRUE(run["folders"][1]["tileset"].is_null());
    EXPECT_FALSE(run["succeeded"].get<bool>());
}

} // namespace
} // namespace brindle
