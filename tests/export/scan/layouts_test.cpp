#include "export/export_run.h"
#include "export/scan/metadata_xml.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <limits>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadBytes;
using test::ReadIndex;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

using Names = std::vector<std::string>;

ExportReport Export(const std::vector<fs::path>& folders, bool force = false,
                    IndexKind kind = IndexKind::Proxy) {
    ExportOptions options;
    options.jobs = 2;
    options.index = kind;
    ExportCalls calls;
    if (force)
        calls.confirmReplace = [](const Problem&) { return true; };
    return ExportFolderIndexes(folders, options, calls);
}

// A tile whose root file is named after its folder, as production layouts name them.
void WriteNamedTile(const fs::path& folder) {
    WriteTile(folder);
    fs::path named = folder.filename();
    named += ".osgb";
    fs::rename(folder / "root.osgb", folder / named);
}

std::string Metadata(const std::string& origin, const std::string& srs = "EPSG:4547") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
           "  <SRS>" +
           srs + "</SRS>\n  <SRSOrigin>" + origin +
           "</SRSOrigin>\n  <Texture><ColorSource>Visible</ColorSource></Texture>\n"
           "</ModelMetadata>\n";
}

void WriteProduction(const fs::path& production) {
    WriteNamedTile(production / "Data" / "Tile_+000_+000");
    WriteNamedTile(production / "Data" / "Tile_+001_+000");
    fs::create_directories(production / "Data" / "Empty");
    WriteText(production / "metadata.xml", Metadata("512345.6,3400000.3,12.5"));
}

const FolderReport* ReportOf(const ExportReport& report, const fs::path& folder) {
    for (const FolderReport& f : report.folders)
        if (f.folder == folder)
            return &f;
    return nullptr;
}

TEST(TileRoots, ARootNamedAfterItsFolderIsListedAndRootOsgbWinsWhereBothExist) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteNamedTile(block / "Tile_+000_+000");
    WriteTile(block / "Both");
    WriteNamedTile(block / "Both"); // Both.osgb
    WriteTile(block / "Both");      // and root.osgb again
    WriteText(block / "Broken" / "Broken.osgb", "not a scene");
    WriteText(block / "Other" / "tile.osgb", "");

    for (const IndexKind kind : {IndexKind::Proxy, IndexKind::Paged}) {
        const ExportReport report = Export({block}, false, kind);
        ASSERT_TRUE(report.succeeded());
        const FolderReport& folder = report.folders.at(0);
        const char s = kind == IndexKind::Paged ? '/' : '\\';
        EXPECT_EQ(folder.entries,
                  (Names{std::string("Both") + s + "root.osgb",
                         std::string("Tile_+000_+000") + s + "Tile_+000_+000.osgb"}));
        ASSERT_EQ(folder.leftOut.size(), 2u);
        EXPECT_EQ(folder.leftOut[0].reason, TileStatus::LoadFailed);
        EXPECT_EQ(folder.leftOut[0].rootFile, "Broken.osgb") << "the reason names the file";
        EXPECT_EQ(folder.leftOut[1].reason, TileStatus::NoRootFile);
        EXPECT_TRUE(folder.leftOut[1].rootFile.empty());
        if (kind == IndexKind::Proxy) {
            EXPECT_EQ(ReadIndex(block / "root.osgb").loadedTiles, 2u)
                << "the entries must resolve to the tiles";
        }
    }
}

// A tile of real size switches on reading ahead; a folder of one such tile, named after its
// folder, must be read ahead and listed like any other.
TEST(TileRoots, AFolderOfOneRealSizeTileIsListed) {
    TempDir dir;
    const fs::path tile = dir / "Data" / "Tile_+000_+000";
    fs::create_directories(tile);
    SampleTileParams params;
    params.texturePx = 256;
    WriteSampleTile(tile / "Tile_+000_+000.osgb", params);
    ASSERT_GE(fs::file_size(tile / "Tile_+000_+000.osgb"), 64u * 1024);
    for (int run = 0; run < 3; ++run) {
        const ExportReport report = Export({dir / "Data"});
        ASSERT_TRUE(report.succeeded());
        EXPECT_EQ(report.folders[0].entries, (Names{"Tile_+000_+000\\Tile_+000_+000.osgb"}));
    }
}

TEST(NoTiles, AFolderWithNothingToListFailsAndWritesNothingUnlessForced) {
    TempDir dir;
    const fs::path empty = dir / "empty";
    WriteText(empty / "A" / "readme.txt", "");
    ExportReport report = Export({empty});
    EXPECT_FALSE(report.succeeded());
    ASSERT_TRUE(report.folders[0].error);
    EXPECT_EQ(report.folders[0].error->kind, ProblemKind::NoTilesFound);
    EXPECT_FALSE(fs::exists(empty / "root.osgb"));
    ASSERT_EQ(report.folders[0].leftOut.size(), 1u) << "what was looked for, per subfolder";

    // A tile folder listed by mistake: its own .osgb files give it away.
    const fs::path tile = dir / "Tile_+000_+000";
    WriteNamedTile(tile);
    WriteText(tile / "Tile_+000_+000_L15_0.osgb", "");
    fs::create_directories(tile / "textures");
    report = Export({tile});
    ASSERT_TRUE(report.folders[0].error);
    EXPECT_EQ(report.folders[0].error->kind, ProblemKind::NoTilesLooksLikeTile);
    EXPECT_FALSE(fs::exists(tile / "root.osgb"));

    report = Export({empty}, true);
    EXPECT_TRUE(report.succeeded()) << "forced, the empty index is written";
    EXPECT_TRUE(ReadIndex(empty / "root.osgb").loaded);
}

TEST(MetadataXml, GivesAllThreeCoordinatesAndTheSpatialReference) {
    const MetadataReading good = ParseMetadataXml(Metadata(" 512345.6, 3400000.3 ,12.5 "));
    ASSERT_TRUE(good.origin);
    EXPECT_EQ(*good.origin, osg::Vec3d(512345.6, 3400000.3, 12.5));
    EXPECT_EQ(good.srs, "EPSG:4547");
    EXPECT_FALSE(good.problem);
    // A plus sign, as report.txt takes it too.
    const MetadataReading signed_ = ParseMetadataXml(Metadata("+512345.6, +3400000.3,-12.5"));
    ASSERT_TRUE(signed_.origin);
    EXPECT_EQ(*signed_.origin, osg::Vec3d(512345.6, 3400000.3, -12.5));

    const std::pair<std::string, ProblemKind> bad[] = {
        {Metadata("+-1,2,3"), ProblemKind::MetadataBadOrigin},
        {Metadata("++1,2,3"), ProblemKind::MetadataBadOrigin},
        {Metadata("+,2,3"), ProblemKind::MetadataBadOrigin},
        {Metadata("1,+ 2,3"), ProblemKind::MetadataBadOrigin},
        {"", ProblemKind::MetadataNotXml},
        {"X: 1 Y: 2 Z: 3", ProblemKind::MetadataNotXml},
        {"<ModelMetadata><SRSOrigin>1,2,3</SRSOrigin>", ProblemKind::MetadataNotXml},
        {"<ModelMetadata><SRS>EPSG:4547</SRS></ModelMetadata>", ProblemKind::MetadataNoOrigin},
        {Metadata("east,north,0"), ProblemKind::MetadataBadOrigin},
        {Metadata("1,2,inf"), ProblemKind::MetadataBadOrigin},
        {Metadata("nan,2,3"), ProblemKind::MetadataBadOrigin},
        {Metadata("1e999,2,3"), ProblemKind::MetadataBadOrigin},
        {Metadata("1,2,3,4"), ProblemKind::MetadataBadOrigin},
        {Metadata("1"), ProblemKind::MetadataBadOrigin},
        {Metadata("1,,3"), ProblemKind::MetadataBadOrigin},
        {std::string(kMaxMetadataBytes + 1, ' '), ProblemKind::MetadataTooLarge},
        {std::string(100000, '<'), ProblemKind::MetadataNotXml},
    };
    for (const auto& [bytes, kind] : bad) {
        const MetadataReading reading = ParseMetadataXml(bytes);
        EXPECT_FALSE(reading.origin) << bytes.substr(0, 80);
        ASSERT_TRUE(reading.problem) << bytes.substr(0, 80);
        EXPECT_EQ(*reading.problem, kind) << bytes.substr(0, 80);
    }
    // Deep nesting is just text to the parser.
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<a>";
    EXPECT_TRUE(ParseMetadataXml(deep).problem);
}

TEST(MetadataXml, HostileFilesGiveAWarningNamingThemAndNoTranslation) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    ASSERT_EQ(::mkfifo((block / "metadata.xml").c_str(), 0600), 0);
    ExportReport report = Export({block});
    ASSERT_TRUE(report.succeeded()) << "a FIFO is never opened for reading";
    ASSERT_EQ(report.folders[0].warnings.size(), 1u);
    EXPECT_EQ(report.folders[0].warnings[0].kind, ProblemKind::MetadataNotRegularFile);
    EXPECT_EQ(report.folders[0].warnings[0].path, block / "metadata.xml");
    EXPECT_EQ(report.folders[0].translation, osg::Vec3d());

    fs::remove(block / "metadata.xml");
    WriteText(block / "metadata.xml", std::string(kMaxMetadataBytes + 10, 'x'));
    report = Export({block});
    ASSERT_EQ(report.folders[0].warnings.size(), 1u);
    EXPECT_EQ(report.folders[0].warnings[0].kind, ProblemKind::MetadataTooLarge);
}

TEST(ProductionFolders, ListingTheFolderOrItsDataOpensTheBlockInPlace) {
    TempDir dir;
    const fs::path production = dir / "Production";
    WriteProduction(production);

    ExportReport report = Export({production});
    ASSERT_TRUE(report.succeeded());
    const FolderReport& listed = report.folders.at(0);
    EXPECT_EQ(listed.entries, (Names{"Data\\Tile_+000_+000\\Tile_+000_+000.osgb",
                                     "Data\\Tile_+001_+000\\Tile_+001_+000.osgb"}));
    EXPECT_EQ(listed.translation, osg::Vec3d(512345.6, 3400000.3, 12.5));
    EXPECT_EQ(listed.originSource, OriginSource::Metadata);
    EXPECT_EQ(listed.originReport, production / "metadata.xml");
    EXPECT_EQ(listed.srs, "EPSG:4547");
    test::IndexContents index = ReadIndex(production / "root.osgb");
    EXPECT_EQ(index.loadedTiles, 2u);
    EXPECT_EQ(index.translation, osg::Vec3d(512345.6, 3400000.3, 12.5));

    report = Export({production / "Data"});
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, (Names{"Tile_+000_+000\\Tile_+000_+000.osgb",
                                                "Tile_+001_+000\\Tile_+001_+000.osgb"}));
    index = ReadIndex(production / "Data" / "root.osgb");
    EXPECT_EQ(index.loadedTiles, 2u);
    EXPECT_EQ(index.translation, osg::Vec3d(512345.6, 3400000.3, 12.5))
        << "the origin comes from the production folder's metadata.xml";

    // A report.txt gives the origin where there is one, with Z kept at 0 as always.
    WriteText(production / "Data" / "report.txt", "title\nX: 1.5 Y: 2.5 Z: 9\n");
    report = Export({production / "Data"});
    EXPECT_EQ(report.folders[0].translation, osg::Vec3d(1.5, 2.5, 0));
    EXPECT_EQ(report.folders[0].originSource, OriginSource::ThisFolder);
    EXPECT_TRUE(report.folders[0].srs.empty());
}

ExportReport ExportStrictly(const std::vector<fs::path>& folders) {
    ExportOptions options;
    options.jobs = 2;
    options.strict = true;
    return ExportFolderIndexes(folders, options);
}

TEST(ProductionFolders, AnOriginInDegreesIsNoTranslationUnlessForced) {
    TempDir dir;
    const fs::path production = dir / "Production";
    WriteProduction(production);
    ASSERT_TRUE(Export({production}).succeeded());
    const std::string projectedIndex = ReadBytes(production / "root.osgb");

    const fs::path metadata = production / "metadata.xml";
    WriteText(metadata, Metadata("114.31,30.52,20", "EPSG:4326"));
    ExportReport report = Export({production});
    EXPECT_FALSE(report.succeeded());
    const FolderReport& failed = report.folders.at(0);
    EXPECT_EQ(failed.status, FolderStatus::Failed);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->kind, ProblemKind::MetadataGeographicSrs);
    EXPECT_EQ(failed.error->path, metadata);
    ASSERT_EQ(failed.error->srs.size(), 1u);
    EXPECT_EQ(failed.error->srs[0].srs, "EPSG:4326");
    EXPECT_EQ(failed.srsKind, SrsKind::Geographic);
    EXPECT_EQ(ReadBytes(production / "root.osgb"), projectedIndex) << "the old index is kept";

    // CGCS2000's geographic CRS is in degrees as well; a dry run says so too.
    WriteText(metadata, Metadata("114.31,30.52,20", "EPSG:4490"));
    ExportOptions dry;
    dry.jobs = 2;
    dry.dryRun = true;
    report = ExportFolderIndexes({production}, dry);
    ASSERT_TRUE(report.folders.at(0).error);
    EXPECT_EQ(report.folders[0].error->kind, ProblemKind::MetadataGeographicSrs);

    // Forced, it is written as it always was, and the warning says what was done.
    std::vector<ProblemKind> asked;
    ExportOptions forced;
    forced.jobs = 2;
    ExportCalls calls;
    calls.confirmReplace = [&](const Problem& why) {
        asked.push_back(why.kind);
        return true;
    };
    report = ExportFolderIndexes({production}, forced, calls);
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(asked, std::vector<ProblemKind>{ProblemKind::MetadataGeographicSrs});
    const FolderReport& written = report.folders.at(0);
    EXPECT_EQ(written.translation, osg::Vec3d(114.31, 30.52, 20));
    ASSERT_EQ(written.warnings.size(), 1u);
    EXPECT_EQ(written.warnings[0].kind, ProblemKind::MetadataGeographicSrsForced);
    EXPECT_EQ(written.warnings[0].path, metadata);
    EXPECT_EQ(ReadIndex(production / "root.osgb").translation, osg::Vec3d(114.31, 30.52, 20));
}

// An origin in degrees is refused before any tile is read, whichever index is asked for: no
// tile is checked (an overview would otherwise summarise the whole block first), no levels are
// made, nothing is counted, and the question comes once.
TEST(ProductionFolders, AnOriginInDegreesIsRefusedBeforeAnyTileIsRead) {
    TempDir dir;
    const fs::path production = dir / "Production";
    WriteProduction(production);
    for (int x = 2; x < 8; ++x)
        WriteNamedTile(production / "Data" / ("Tile_+00" + std::to_string(x) + "_+000"));
    WriteText(production / "metadata.xml", Metadata("114.31,30.52,20", "EPSG:4326"));
    for (const IndexKind kind : {IndexKind::Proxy, IndexKind::Overview}) {
        ExportOptions options;
        options.jobs = 2;
        options.index = kind;
        std::size_t checked = 0;
        ExportCalls calls;
        calls.progress = [&](const ExportProgress& p) {
            checked = std::max(checked, p.subfoldersDone);
        };
        std::size_t asked = 0;
        calls.confirmReplace = [&](const Problem& why) {
            asked += why.kind == ProblemKind::MetadataGeographicSrs;
            return false;
        };
        const ExportReport report = ExportFolderIndexes({production}, options, calls);
        const FolderReport& folder = report.folders.at(0);
        EXPECT_EQ(folder.status, FolderStatus::Failed);
        ASSERT_TRUE(folder.error);
        EXPECT_EQ(folder.error->kind, ProblemKind::MetadataGeographicSrs);
        EXPECT_EQ(folder.srsKind, SrsKind::Geographic);
        EXPECT_EQ(asked, 1u);
        EXPECT_EQ(checked, 0u) << "tiles were read for a folder that was refused";
        EXPECT_EQ(report.totals().entries, 0u);
        EXPECT_FALSE(fs::exists(production / "root.osgb"));
        for (const auto& entry : fs::directory_iterator(production))
            EXPECT_TRUE(entry.path().filename() == "Data" ||
                        entry.path().filename() == "metadata.xml")
                << entry.path();
    }
}

TEST(ProductionFolders, TheSpatialReferenceChangesWhatIsSaidNeverTheBytesWritten) {
    TempDir dir;
    // The same tiles and origin under a projected CRS, an ENU frame and no SRS at all.
    const struct {
        const char* name;
        const char* srs;
        SrsKind kind;
    } cases[] = {{"Projected", "EPSG:4547", SrsKind::Projected},
                 {"Enu", "ENU:30.52,114.31", SrsKind::Enu},
                 {"None", "", SrsKind::Unknown},
                 {"Garbage", "what is this", SrsKind::Unknown}};
    std::string first;
    for (const auto& c : cases) {
        const fs::path production = dir / c.name;
        WriteProduction(production);
        WriteText(production / "metadata.xml", Metadata("512345.6,3400000.3,12.5", c.srs));
        const ExportReport report = Export({production});
        ASSERT_TRUE(report.succeeded()) << c.name;
        const FolderReport& folder = report.folders.at(0);
        EXPECT_EQ(folder.srsKind, c.kind) << c.name;
        EXPECT_EQ(folder.localFrame(), c.kind != SrsKind::Projected) << c.name;
        EXPECT_TRUE(folder.warnings.empty()) << c.name;
        EXPECT_EQ(folder.translation, osg::Vec3d(512345.6, 3400000.3, 12.5)) << c.name;
        const std::string bytes = ReadBytes(production / "root.osgb");
        if (first.empty())
            first = bytes;
        EXPECT_EQ(bytes, first) << c.name;
    }
    // A report.txt origin names no SRS, and says nothing of frames.
    const ExportReport plain = Export({dir / "Projected" / "Data"});
    ASSERT_TRUE(plain.succeeded());
    EXPECT_EQ(plain.folders[0].srsKind, SrsKind::Projected) << "Data finds its parent's metadata";
    WriteText(dir / "Projected" / "Data" / "report.txt", "title\nX: 1 Y: 2 Z: 0\n");
    const ExportReport reported = Export({dir / "Projected" / "Data"});
    EXPECT_EQ(reported.folders.at(0).srsKind, SrsKind::None);
    EXPECT_FALSE(reported.folders[0].localFrame());
}

TEST(FoldersOfBlocks, BlocksInDifferentSpatialReferencesAreCombinedOnlyWithAWarning) {
    TempDir dir;
    const fs::path project = dir / "Project";
    WriteProduction(project / "Block_A"); // EPSG:4547
    WriteProduction(project / "Block_B");
    WriteText(project / "Block_B" / "metadata.xml", Metadata("0,0,0", "ENU:30.52,114.31"));

    ExportReport report = Export({project});
    ASSERT_TRUE(report.succeeded());
    const FolderReport* master = ReportOf(report, project);
    ASSERT_TRUE(master);
    EXPECT_EQ(master->entries, (Names{"Block_A\\root.osgb", "Block_B\\root.osgb"}));
    ASSERT_EQ(master->warnings.size(), 1u);
    const Problem& differ = master->warnings[0];
    EXPECT_EQ(differ.kind, ProblemKind::BlocksSrsDiffer);
    EXPECT_EQ(differ.path, project);
    ASSERT_EQ(differ.srs.size(), 2u);
    EXPECT_EQ(differ.srs[0].of, project / "Block_A");
    EXPECT_EQ(differ.srs[0].srs, "EPSG:4547");
    EXPECT_EQ(differ.srs[1].of, project / "Block_B");
    EXPECT_EQ(differ.srs[1].srs, "ENU:30.52,114.31");
    EXPECT_TRUE(ReportOf(report, project / "Block_B")->localFrame());
    EXPECT_FALSE(ReportOf(report, project / "Block_A")->localFrame());
    const std::string combined = ReadBytes(project / "root.osgb");

    // Strict, it is an error: the blocks are written, the folder of blocks keeps its index.
    report = ExportStrictly({project});
    EXPECT_FALSE(report.succeeded());
    master = ReportOf(report, project);
    ASSERT_TRUE(master && master->error);
    EXPECT_EQ(master->error->kind, ProblemKind::BlocksSrsDiffer);
    EXPECT_EQ(master->error->srs.size(), 2u);
    EXPECT_EQ(master->status, FolderStatus::Failed);
    EXPECT_EQ(ReportOf(report, project / "Block_A")->status, FolderStatus::Written);
    EXPECT_EQ(ReadBytes(project / "root.osgb"), combined);
    fs::remove(project / "root.osgb");
    EXPECT_FALSE(ExportStrictly({project}).succeeded());
    EXPECT_FALSE(fs::exists(project / "root.osgb")) << "no index without one before either";

    // One CRS written two ways is one CRS: strict or not, no warning.
    WriteText(project / "Block_B" / "metadata.xml",
              Metadata("512345.6,3400000.3,12.5", " epsg:4547"));
    report = ExportStrictly({project});
    ASSERT_TRUE(report.succeeded());
    EXPECT_TRUE(ReportOf(report, project)->warnings.empty());
}

void WriteBlock(const fs::path& block, double x) {
    WriteTile(block / "Tile_1");
    WriteTile(block / "Tile_2");
    WriteText(block / "report.txt", "title\nX: " + std::to_string(x) + " Y: 7 Z: 0\n");
}

TEST(FoldersOfBlocks, EachBlockIsPlacedOnceWhateverTheOrder) {
    TempDir dir;
    const fs::path project = dir / "Project";
    WriteBlock(project / "Block_A", 100);
    WriteBlock(project / "Block_B", 200);
    WriteProduction(project / "Block_C");

    const std::vector<std::vector<fs::path>> orders = {
        {project},
        {project / "Block_A", project / "Block_B", project},
        {project, project / "Block_A"},
    };
    for (const auto& order : orders) {
        const ExportReport report = Export(order);
        ASSERT_TRUE(report.succeeded());
        const FolderReport* master = ReportOf(report, project);
        ASSERT_TRUE(master);
        EXPECT_EQ(master->entries,
                  (Names{"Block_A\\root.osgb", "Block_B\\root.osgb", "Block_C\\root.osgb"}));
        EXPECT_EQ(master->blocks.size(), 3u);
        EXPECT_EQ(master->originSource, OriginSource::Blocks);
        const test::IndexContents index = ReadIndex(project / "root.osgb");
        EXPECT_EQ(index.translation, osg::Vec3d()) << "blocks carry their own translation";
        EXPECT_EQ(index.entries, master->entries);
        EXPECT_EQ(ReadIndex(project / "Block_A" / "root.osgb").translation, osg::Vec3d(100, 7, 0));
        EXPECT_EQ(ReadIndex(project / "Block_B" / "root.osgb").translation, osg::Vec3d(200, 7, 0));
        EXPECT_EQ(ReadIndex(project / "Block_C" / "root.osgb").translation,
                  osg::Vec3d(512345.6, 3400000.3, 12.5));
        // Blocks come before their folder of blocks, each naming it.
        const auto at = [&](const fs::path& f) { return ReportOf(report, f) - &report.folders[0]; };
        EXPECT_LT(at(project / "Block_C"), at(project));
        EXPECT_EQ(ReportOf(report, project / "Block_C")->master, project);
        // A block listed on its own as well is exported once, where it comes first; its other
        // listing is told as a repeat of that one.
        std::size_t repeats = 0;
        for (const fs::path& block :
             {project / "Block_A", project / "Block_B", project / "Block_C"}) {
            std::size_t written = 0;
            for (const FolderReport& f : report.folders) {
                if (f.folder != block)
                    continue;
                written += f.status == FolderStatus::Written;
                if (f.status == FolderStatus::ListedTwice) {
                    ++repeats;
                    EXPECT_EQ(f.firstListing, block);
                }
            }
            EXPECT_EQ(written, 1u) << block;
        }
        EXPECT_EQ(repeats, order.size() - 1);
    }
}

TEST(FoldersOfBlocks, ABlockThatFailedWhereItWasListedIsLeftOutOfItsFolderOfBlocks) {
    TempDir dir;
    const fs::path project = dir / "Project";
    WriteBlock(project / "Block_A", 100);
    WriteBlock(project / "Block_B", 200);
    // Block_B's tiles do not load, so it gets no index: the folder of blocks, listed after it,
    // must not name it, nor try it a second time.
    WriteText(project / "Block_B" / "Tile_1" / "root.osgb", "not a scene");
    WriteText(project / "Block_B" / "Tile_2" / "root.osgb", "not a scene");

    const ExportReport report = Export({project / "Block_B", project});
    ASSERT_EQ(report.folders.size(), 4u);
    EXPECT_EQ(report.folders[0].status, FolderStatus::Failed);
    EXPECT_EQ(report.folders[2].folder, project / "Block_B");
    EXPECT_EQ(report.folders[2].status, FolderStatus::ListedTwice);
    const FolderReport& master = report.folders[3];
    EXPECT_EQ(master.folder, project);
    EXPECT_EQ(master.entries, (Names{"Block_A\\root.osgb"}));
    ASSERT_EQ(master.leftOut.size(), 1u);
    EXPECT_EQ(master.leftOut[0].name, "Block_B");
    EXPECT_EQ(master.leftOut[0].reason, TileStatus::BlockNotWritten);
}

} // namespace
} // namespace brindle
