// The export run with --3dtiles: each listed folder's tileset written beside the others in the
// output folder, once its overview index is written, and never a file into the tile folders.
// Files are converted in this process, standing for the workers.
#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "export/tiles3d/tileset_folder.h"
#include "export/tiles3d/tileset_names.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include "run_conversions.h"
#include "walk_fixtures.h"
#include "walk_view.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::NamedContents;
using test::StrayOrMissing;
using test::TempDir;
using test::WriteText;

// Every file and folder below `folder`, with each file's size and modification time: what a
// run must leave as it was.
std::map<std::string, std::string> Listing(const fs::path& folder) {
    std::map<std::string, std::string> listing;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it) {
        const std::string name = it->path().lexically_relative(folder).generic_string();
        if (it->is_regular_file())
            listing[name] = std::to_string(it->file_size()) + "@" +
                            std::to_string(it->last_write_time().time_since_epoch().count());
        else
            listing[name] = "folder";
    }
    return listing;
}

// Every file below `folder` with its bytes.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it)
        if (it->is_regular_file())
            contents[it->path().lexically_relative(folder).generic_string()] =
                test::ReadBytes(it->path());
    return contents;
}

// A production folder: metadata.xml in a projected CRS beside Data/, whose tiles are paged
// roots over two written finer levels.
fs::path WriteProduction(const fs::path& folder, unsigned tiles = 4) {
    SampleBlockOptions options;
    options.tileCount = static_cast<int>(tiles);
    options.minTexturePx = options.maxTexturePx = 16;
    options.minGridCells = options.maxGridCells = 4;
    options.pagedRoot = true;
    options.writtenLevels = 2;
    WriteSampleBlock(folder / "Data", options);
    fs::remove(folder / "Data" / "report.txt");
    WriteText(folder / "metadata.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
              "  <SRS>EPSG:4547</SRS>\n  <SRSOrigin>440000,3380000,30</SRSOrigin>\n"
              "</ModelMetadata>\n");
    return folder;
}

// Cuts a file of a tile's finest level short.
fs::path DamageDeepFile(const fs::path& production) {
    const fs::path file = production / "Data" / "Tile_+001_+001" / "root_L2.osgb";
    const std::string bytes = test::ReadBytes(file);
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), 40);
    return file;
}

using Conversions = test::RunConversions;

ExportOptions TilesetRun(const fs::path& out) {
    ExportOptions options;
    options.jobs = 2;
    options.index = IndexKind::Proxy; // the tileset makes it an overview index all the same
    options.tilesets.folder = out;
    return options;
}

TEST(TilesetExport, ABlocksTilesetIsWrittenBesideItAndReplacedWholeByARerun) {
    TempDir dir;
    const fs::path production = WriteProduction(dir / "production");
    const fs::path damaged = DamageDeepFile(production);
    const fs::path out = dir / "web";
    const auto tilesBefore = Listing(production / "Data");

    Conversions first;
    const ExportReport report = ExportFolderIndexes({production}, TilesetRun(out), first.calls());
    ASSERT_EQ(report.folders.size(), 1u);
    const FolderReport& folder = report.folders[0];
    EXPECT_TRUE(report.succeeded());
    EXPECT_EQ(folder.index, IndexKind::Overview);
    ASSERT_TRUE(folder.tileset);
    const TilesetReport& tileset = *folder.tileset;
    EXPECT_EQ(tileset.status, TilesetStatus::Written);
    EXPECT_EQ(tileset.folder, out / "production");
    EXPECT_TRUE(fs::is_regular_file(out / "production" / kTilesetName));
    EXPECT_TRUE(IsTilesetFolderOfOurs(out / "production"));
    // Nothing but the tileset in the output folder, and nothing new among the tiles.
    EXPECT_EQ(Listing(out).count("production.brindle-new"), 0u);
    EXPECT_EQ(Listing(production / "Data"), tilesBefore);

    // The damaged file is left out with its reason, and named nowhere; the rest is there.
    ASSERT_EQ(tileset.leftOut.size(), 1u);
    EXPECT_EQ(tileset.leftOut[0].rootFile, damaged);
    EXPECT_EQ(tileset.leftOut[0].name, fs::path("Data/Tile_+001_+001/root_L2.osgb"));
    EXPECT_EQ(tileset.leftOut[0].reason, TileStatus::LoadFailed);
    const auto leftOutWarnings =
        std::count_if(folder.warnings.begin(), folder.warnings.end(), [&](const Problem& p) {
            return p.kind == ProblemKind::TilesetFileLeftOut && p.path == damaged;
        });
    EXPECT_EQ(leftOutWarnings, 1);
    for (const Problem& warning : folder.warnings)
        EXPECT_NE(warning.kind, ProblemKind::TilesetLocalFrame);
    const std::set<std::string> named = NamedContents(out / "production");
    for (const std::string& content : named)
        EXPECT_TRUE(fs::is_regular_file(out / "production" / content)) << content;
    // A first build is generation 1.
    EXPECT_EQ(named.count(Tagged(ContentName(damaged, production), 1).generic_string()), 0u);
    // Each of the 4 tiles' three levels is a tile with content, but the damaged one.
    const std::string finest =
        Tagged(ContentName(production / "Data" / "Tile_+000_+000" / "root_L2.osgb", production), 1)
            .generic_string();
    EXPECT_EQ(named.count(finest), 1u) << finest;
    EXPECT_GE(tileset.tiles, 4u * 3 - 1);
    EXPECT_EQ(tileset.converted, first.converter.callCount());
    EXPECT_EQ(tileset.reused, 0u);

    const auto listedFirst = Listing(out / "production");

    // A re-run with one file touched converts that file, and the index the run wrote again;
    // the rest is taken from the tileset it replaces.
    const fs::path touched = production / "Data" / "Tile_+000_+001" / "root_L1.osgb";
    const std::string bytes = test::ReadBytes(touched);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ofstream(touched, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::seconds(2));
    Conversions second;
    const ExportReport rerun = ExportFolderIndexes({production}, TilesetRun(out), second.calls());
    ASSERT_TRUE(rerun.folders.at(0).tileset);
    EXPECT_EQ(rerun.folders[0].tileset->status, TilesetStatus::Written);
    std::set<std::string> converted;
    for (const auto& [file, times] : second.converter.calls()) {
        // Once each, those given ahead of the walk included.
        EXPECT_EQ(times, 1) << file;
        converted.insert(fs::path(file).filename() == "root.osgb" &&
                                 fs::path(file).parent_path() == fs::canonical(production)
                             ? "the index"
                             : file);
    }
    EXPECT_TRUE(converted.count(test::Canonical(touched))) << touched;
    converted.erase(test::Canonical(touched));
    converted.erase("the index");
    // The damaged file is tried again: it may have been mended.
    converted.erase(test::Canonical(damaged));
    // The overview's nodes above the touched tile may be made again, in a levels folder of
    // their own: those are new files. No other tile's file is converted again.
    for (auto it = converted.begin(); it != converted.end();)
        it = HasOverviewFolderName(fs::path(*it).parent_path().filename()) ? converted.erase(it)
                                                                           : std::next(it);
    EXPECT_TRUE(converted.empty()) << *converted.begin();
    EXPECT_GT(rerun.folders[0].tileset->reused, 4u);
    EXPECT_EQ(Listing(out).count("production.brindle-new"), 0u);
    EXPECT_EQ(Listing(out).count("production.brindle-old"), 0u);

    // Updated where it is: the contents taken over are the files they were, untouched, the
    // touched file's is new, and nothing the new tileset does not name is left.
    const std::set<std::string> renamed = NamedContents(out / "production");
    EXPECT_EQ(StrayOrMissing(out / "production"), std::set<std::string>{});
    const std::string was = Tagged(ContentName(touched, production), 1).generic_string();
    const std::string now = Tagged(ContentName(touched, production), 2).generic_string();
    EXPECT_EQ(renamed.count(was), 0u);
    EXPECT_EQ(renamed.count(now), 1u);
    const auto listedNow = Listing(out / "production");
    std::size_t kept = 0;
    for (const std::string& content : renamed)
        if (named.count(content) != 0) {
            ++kept;
            EXPECT_EQ(listedNow.at(content), listedFirst.at(content)) << content;
        }
    EXPECT_GE(kept, rerun.folders[0].tileset->reused);
}

// The asset version of every tileset in `folder` (the top one and the tiles' own), by name.
std::map<std::string, std::string> Versions(const fs::path& folder) {
    std::map<std::string, std::string> versions;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file() && name.size() > 5 && name.substr(name.size() - 5) == ".json") {
            std::ifstream in(it->path());
            versions[it->path().lexically_relative(folder).generic_string()] =
                Json::parse(in)["asset"]["version"].get<std::string>();
        }
    }
    return versions;
}

// b3dm contents are version 1.0's, glb ones 1.1's: a re-run that switches converts every file
// again into contents of the other kind, and leaves none of the earlier kind behind.
TEST(TilesetExport, ARerunSwitchingBetweenGlbAndB3dmConvertsEveryFileAgain) {
    TempDir dir;
    const fs::path production = WriteProduction(dir / "production", 2);
    const fs::path out = dir / "web";
    std::size_t firstCalls = 0;
    for (const bool b3dm : {true, false, true}) {
        SCOPED_TRACE(b3dm ? "b3dm" : "glb");
        ExportOptions options = TilesetRun(out);
        options.tilesets.b3dm = b3dm;
        Conversions run;
        const ExportReport report = ExportFolderIndexes({production}, options, run.calls());
        ASSERT_TRUE(report.folders.at(0).tileset);
        const TilesetReport& tileset = *report.folders[0].tileset;
        EXPECT_EQ(tileset.status, TilesetStatus::Written);
        EXPECT_EQ(tileset.reused, 0u);
        if (firstCalls == 0)
            firstCalls = run.converter.callCount();
        EXPECT_EQ(run.converter.callCount(), firstCalls);

        const std::map<std::string, std::string> versions = Versions(out / "production");
        ASSERT_GT(versions.size(), 2u); // the top tileset and the tiles' own
        for (const auto& [name, version] : versions)
            EXPECT_EQ(version, b3dm ? "1.0" : "1.1") << name;
        const std::set<std::string> named = NamedContents(out / "production");
        std::size_t contents = 0;
        for (const std::string& content : named) {
            if (fs::path(content).extension() == ".json")
                continue;
            ++contents;
            EXPECT_EQ(fs::path(content).extension(), b3dm ? ".b3dm" : ".glb") << content;
            const std::string bytes = test::ReadBytes(out / "production" / content);
            EXPECT_EQ(bytes.substr(0, 4), b3dm ? "b3dm" : "glTF") << content;
        }
        EXPECT_EQ(contents, tileset.tiles);
        for (fs::recursive_directory_iterator it(out / "production"), end; it != end; ++it)
            EXPECT_NE(it->path().extension(), b3dm ? ".glb" : ".b3dm") << it->path();
    }
}

TEST(TilesetExport, AnInterruptedRunLeavesTheOldTilesetAsItWas) {
    TempDir dir;
    const fs::path production = WriteProduction(dir / "production");
    const fs::path out = dir / "web";
    Conversions first;
    ASSERT_TRUE(ExportFolderIndexes({production}, TilesetRun(out), first.calls()).succeeded());
    const auto before = Contents(out);

    // Every file changed, so that every one is converted again; the run stops after a few.
    for (fs::recursive_directory_iterator it(production / "Data"), end; it != end; ++it)
        if (it->is_regular_file())
            fs::last_write_time(it->path(),
                                fs::last_write_time(it->path()) + std::chrono::seconds(5));
    Conversions stopped;
    stopped.cancelAfter = 3;
    const ExportReport report = ExportFolderIndexes({production}, TilesetRun(out), stopped.calls());
    ASSERT_TRUE(report.folders.at(0).tileset);
    EXPECT_EQ(report.folders[0].tileset->status, TilesetStatus::Cancelled);
    EXPECT_FALSE(report.succeeded());
    // The tileset there is the old one, whole: tileset.json and every file it names as they
    // were. What the run wrote beside them, no tileset names.
    const auto after = Contents(out);
    const std::string folder = "production/";
    EXPECT_EQ(after.at(folder + kTilesetName), before.at(folder + kTilesetName));
    for (const std::string& name : NamedContents(out / "production"))
        EXPECT_TRUE(after.count(folder + name) &&
                    after.at(folder + name) == before.at(folder + name))
            << name;

    // The next run completes the update and leaves nothing of the one cut short.
    Conversions next;
    const ExportReport done = ExportFolderIndexes({production}, TilesetRun(out), next.calls());
    ASSERT_TRUE(done.folders.at(0).tileset);
    EXPECT_EQ(done.folders[0].tileset->status, TilesetStatus::Written);
    EXPECT_EQ(StrayOrMissing(out / "production"), std::set<std::string>{});
    std::set<std::string> beside;
    for (const fs::directory_entry& entry : fs::directory_iterator(out))
        beside.insert(entry.path().filename().string());
    EXPECT_EQ(beside, std::set<std::string>{"production"});
}

TEST(TilesetExport, AFolderOfBlocksGetsATilesetABlockAndOneNamingThem) {
    TempDir dir;
    const fs::path blocks = dir / "survey";
    SampleBlockOptions options;
    options.tileCount = 2;
    options.minTexturePx = options.maxTexturePx = 16;
    options.minGridCells = options.maxGridCells = 4;
    options.pagedRoot = true;
    options.writtenLevels = 1;
    for (const char* block : {"north", "south"}) {
        WriteSampleBlock(blocks / block, options);
        // A block of nothing but tiles: the sample's broken folders are the blocks' own
        // business, not the folder of blocks'.
        for (const char* extra : {"Empty_Tile", "Corrupt_Tile", "Nested_Tile", "notes.txt"})
            fs::remove_all(blocks / block / extra);
        options.originX += 1000;
    }
    const fs::path out = dir / "web";
    Conversions conversions;
    const ExportReport report = ExportFolderIndexes({blocks}, TilesetRun(out), conversions.calls());
    const FolderReport& folder = report.folders.back();
    ASSERT_EQ(folder.blocks.size(), 2u);
    ASSERT_TRUE(folder.tileset);
    EXPECT_EQ(folder.tileset->status, TilesetStatus::Written);
    std::ifstream in(out / "survey" / kTilesetName);
    const Json root = Json::parse(in);
    std::set<std::string> named;
    for (const Json& child : root["root"]["children"])
        named.insert(child["content"]["uri"].get<std::string>());
    EXPECT_EQ(named, (std::set<std::string>{"north/tileset.json", "south/tileset.json"}));
    for (const char* block : {"north", "south"})
        EXPECT_TRUE(fs::is_regular_file(out / "survey" / block / kTilesetName)) << block;
    EXPECT_EQ(root["asset"]["version"], "1.1");
    // With b3dm contents, the folder's tileset is of version 1.0 as its blocks' are.
    ExportOptions b3dm = TilesetRun(out);
    b3dm.tilesets.b3dm = true;
    Conversions again;
    ASSERT_TRUE(ExportFolderIndexes({blocks}, b3dm, again.calls()).folders.back().tileset);
    std::ifstream b3dmRoot(out / "survey" / kTilesetName);
    EXPECT_EQ(Json::parse(b3dmRoot)["asset"]["version"], "1.0");
    // Their report.txt gives an origin and no spatial reference: each block in a local frame.
    const auto localFrames =
        std::count_if(folder.warnings.begin(), folder.warnings.end(),
                      [](const Problem& p) { return p.kind == ProblemKind::TilesetLocalFrame; });
    EXPECT_EQ(localFrames, 2);

    // Listed as a user types it, relative to the working folder: the same tileset a block.
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    Conversions relative;
    const ExportReport typed =
        ExportFolderIndexes({"survey"}, TilesetRun(dir / "typed"), relative.calls());
    fs::current_path(before);
    ASSERT_TRUE(typed.folders.back().tileset);
    EXPECT_EQ(typed.folders.back().tileset->status, TilesetStatus::Written);
    std::ifstream typedRoot(dir / "typed" / "survey" / kTilesetName);
    const Json typedTileset = Json::parse(typedRoot);
    std::set<std::string> typedNamed;
    for (const Json& child : typedTileset["root"]["children"])
        typedNamed.insert(child["content"]["uri"].get<std::string>());
    EXPECT_EQ(typedNamed, (std::set<std::string>{"north/tileset.json", "south/tileset.json"}));
}

TEST(TilesetExport, AnOutputFolderThatIsNotOursOrInsideATileFolderIsRefused) {
    TempDir dir;
    const fs::path production = WriteProduction(dir / "production", 1);
    Conversions conversions;

    // The output folder inside the listed one: nothing is made there.
    const fs::path inside = production / "web";
    ExportReport report =
        ExportFolderIndexes({production}, TilesetRun(inside), conversions.calls());
    ASSERT_TRUE(report.folders.at(0).tileset);
    EXPECT_EQ(report.folders[0].tileset->status, TilesetStatus::Failed);
    EXPECT_FALSE(report.succeeded());
    EXPECT_EQ(report.folders[0].warnings.back().kind, ProblemKind::TilesetInsideListed);
    EXPECT_FALSE(fs::exists(inside));
    // Its parent, whose folder of the listed folder's name is the listed folder itself.
    report = ExportFolderIndexes({production}, TilesetRun(dir.path()), conversions.calls());
    EXPECT_EQ(report.folders.at(0).warnings.back().kind, ProblemKind::TilesetInsideListed);

    // A folder of that name holding the user's files.
    const fs::path out = dir / "web";
    WriteText(out / "production" / "index.html", "the user's");
    const auto before = Listing(out);
    report = ExportFolderIndexes({production}, TilesetRun(out), conversions.calls());
    EXPECT_FALSE(report.succeeded());
    EXPECT_EQ(report.folders.at(0).warnings.back().kind, ProblemKind::TilesetFolderNotOurs);
    EXPECT_EQ(report.folders[0].warnings.back().path, out / "production");
    EXPECT_EQ(Listing(out), before);

    // A dry run writes nothing, not even the output folder.
    ExportOptions dry = TilesetRun(dir / "elsewhere");
    dry.dryRun = true;
    report = ExportFolderIndexes({production}, dry, conversions.calls());
    EXPECT_EQ(report.folders.at(0).tileset->status, TilesetStatus::DryRun);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

} // namespace
} // namespace brindle
