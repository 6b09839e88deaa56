// The built brindle-export writing a 3D Tiles tileset beside the tiles, and updating it.
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

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::Contains;
using test::Outcome;
using test::RunExport;
using test::TempDir;

// Every file below `folder` with its size and modification time.
std::map<std::string, std::string> Listing(const fs::path& folder) {
    std::map<std::string, std::string> listing;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it)
        listing[it->path().lexically_relative(folder).generic_string()] =
            it->is_regular_file()
                ? std::to_string(it->file_size()) + "@" +
                      std::to_string(it->last_write_time().time_since_epoch().count())
                : "folder";
    return listing;
}

// A production block (metadata.xml in EPSG:4547, tiles with written finer levels, one finest
// level cut short) converted by the workers into DIR/production; a re-run after one file is
// touched converts little and takes the rest from the tileset it replaces.
TEST(BrindleExport, ATilesetIsWrittenBesideTheTilesAndARerunConvertsOnlyWhatChanged) {
    TempDir dir;
    const fs::path production = dir / "production";
    SampleBlockOptions options;
    options.tileCount = 4;
    options.minTexturePx = options.maxTexturePx = 16;
    options.minGridCells = options.maxGridCells = 4;
    options.pagedRoot = true;
    options.writtenLevels = 2;
    WriteSampleBlock(production / "Data", options);
    fs::remove(production / "Data" / "report.txt");
    test::WriteText(production / "metadata.xml",
                    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
                    "  <SRS>EPSG:4547</SRS>\n  <SRSOrigin>440000,3380000,30</SRSOrigin>\n"
                    "</ModelMetadata>\n");
    const fs::path damaged = production / "Data" / "Tile_+001_+000" / "root_L2.osgb";
    fs::resize_file(damaged, 40);
    const auto tiles = Listing(production / "Data");
    const fs::path web = dir / "web";

    const Outcome first =
        RunExport(dir, {"--json", "-j", "2", "--3dtiles", web.string(), production.string()});
    EXPECT_EQ(first.status, 0) << first.err;
    const json run = json::parse(first.out);
    EXPECT_EQ(run["options"]["index_kind"], "overview");
    const json& tileset = run["folders"][0]["tileset"];
    EXPECT_EQ(tileset["status"], "written");
    EXPECT_EQ(tileset["path"], (web / "production").string());
    ASSERT_EQ(tileset["left_out"].size(), 1u) << tileset.dump();
    EXPECT_EQ(tileset["left_out"][0]["name"], "Data/Tile_+001_+000/root_L2.osgb");
    EXPECT_EQ(tileset["left_out"][0]["reason"], "load_failed");
    EXPECT_GE(tileset["tiles"].get<int>(), 11);
    EXPECT_TRUE(fs::is_regular_file(web / "production" / "tileset.json"));
    EXPECT_EQ(Listing(production / "Data"), tiles);
    EXPECT_EQ(Listing(web).count("production.brindle-new"), 0u);

    const fs::path touched = production / "Data" / "Tile_+000_+001" / "root_L1.osgb";
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::seconds(3));
    const Outcome again =
        RunExport(dir, {"-j", "2", "--3dtiles", web.string(), production.string()});
    EXPECT_EQ(again.status, 0) << again.err;
    // The touched file, the files of its own the run wrote again (the index, the overview's
    // nodes above the touched tile), and the damaged file, tried again; the other eleven taken
    // as they were, the overview's unchanged nodes among them (linked into its new levels
    // folder, they keep their stamps).
    const std::string line = "  3D Tiles: " + (web / "production" / "tileset.json").string() + " (";
    ASSERT_TRUE(Contains(again.out, line)) << again.out;
    const std::size_t at = again.out.find(line) + line.size();
    EXPECT_LE(std::stoi(again.out.substr(at)), 4) << again.out;
    EXPECT_TRUE(Contains(again.out, "11 unchanged taken as they were")) << again.out;
    EXPECT_TRUE(Contains(again.out, "    Data/Tile_+001_+000/root_L2.osgb: ")) << again.out;
    EXPECT_EQ(Listing(production / "Data").size(), tiles.size());
}

} // namespace
} // namespace brindle
