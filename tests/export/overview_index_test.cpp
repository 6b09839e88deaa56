#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "export/overview/held_summary_codec.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/run/folder_cache.h"
#include "tests/export/overview/summary_fixtures.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <set>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadIndex;
using test::TempDir;
using test::WriteText;

using Names = std::vector<std::string>;

ExportReport ExportAs(const fs::path& folder, IndexKind kind,
                      const std::atomic<bool>* cancel = nullptr,
                      std::function<void(const ExportProgress&)> progress = {},
                      const fs::path& verdictCache = {}) {
    ExportOptions options;
    options.verdictCache = verdictCache;
    options.jobs = 2;
    options.index = kind;
    ExportCalls calls;
    calls.cancel = cancel;
    calls.progress = std::move(progress);
    return ExportFolderIndexes({folder}, options, calls);
}

// A production tile at grid cell (x, y) of a block of 50 m tiles.
void WriteGridTile(const fs::path& block, const std::string& name, int x, int y) {
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = 8;
    params.sizeMetres = 50;
    params.offset = osg::Vec2d(50.0 * x, 50.0 * y);
    params.seed = static_cast<unsigned>(100 * x + y + 1);
    params.pagedRoot = true;
    fs::create_directories(block / name);
    WriteSampleTile(block / name / (name + ".osgb"), params);
}

std::string GridName(int x, int y) {
    char name[32];
    std::snprintf(name, sizeof name, "Tile_%+04d_%+04d", x, y);
    return name;
}

// What a viewer that comes close to everything reaches from an index: every file named by a
// proxy or a paged range below it, read as the pager reads them. The levels' own files are
// followed; the files they reach outside the levels' folder are the tiles, counted by path.
struct Reached {
    std::map<std::string, int> tiles; // by path relative to the block, '/'-separated
    std::size_t levelFiles = 0;
    bool everyLevelLoaded = true;
    // Each level switches to what is below it nearer than its parent does: at a distance as
    // its sphere's diameter over the pixels it switches at.
    bool coarserAbove = true;
};

std::string Relative(const fs::path& file, const fs::path& block) {
    return fs::relative(fs::weakly_canonical(file), fs::weakly_canonical(block)).generic_string();
}

void Walk(const fs::path& file, const fs::path& block, Reached& reached, float parentReach);

void WalkNode(osg::Node& node, const fs::path& folder, const fs::path& block, Reached& reached,
              float parentReach) {
    if (auto* paged = dynamic_cast<osg::PagedLOD*>(&node)) {
        float switchAt = 0;
        for (unsigned i = 0; i < paged->getNumFileNames(); ++i)
            if (!paged->getFileName(i).empty())
                switchAt = std::max(switchAt, paged->getMinRange(i));
        const float reach = switchAt > 0 ? 2 * paged->getRadius() / switchAt : 0;
        if (parentReach > 0 && reach > 0 && !(reach < parentReach))
            reached.coarserAbove = false;
        for (unsigned i = 0; i < paged->getNumFileNames(); ++i) {
            const std::string& name = paged->getFileName(i);
            if (!name.empty())
                Walk(folder / name, block, reached, reach);
        }
    } else if (auto* proxy = dynamic_cast<osg::ProxyNode*>(&node)) {
        for (unsigned i = 0; i < proxy->getNumFileNames(); ++i) {
            std::string name = proxy->getFileName(i);
            std::replace(name.begin(), name.end(), '\\', '/');
            Walk(folder / name, block, reached, parentReach);
        }
        return;
    }
    if (osg::Group* group = node.asGroup())
        for (unsigned i = 0; i < group->getNumChildren(); ++i)
            WalkNode(*group->getChild(i), folder, block, reached, parentReach);
}

void Walk(const fs::path& file, const fs::path& block, Reached& reached, float parentReach) {
    const std::string relative = Relative(file, block);
    if (relative.rfind("brindle-overview-", 0) != 0) {
        ++reached.tiles[relative];
        return;
    }
    ++reached.levelFiles;
    const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(file.string());
    if (!node) {
        reached.everyLevelLoaded = false;
        return;
    }
    WalkNode(*node, file.parent_path(), block, reached, parentReach);
}

Reached WalkIndex(const fs::path& block) {
    Reached reached;
    const osg::ref_ptr<osg::Node> root = osgDB::readRefNodeFile((block / "root.osgb").string());
    if (root) {
        // The index itself is not followed by its loader here: its proxies are walked by name.
        WalkNode(*root, block, block, reached, 0);
    } else {
        reached.everyLevelLoaded = false;
    }
    return reached;
}

std::vector<fs::path> Entries(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A sparse block: a 4 x 3 grid with holes, a tile whose name is no grid name, one that does
// not load, and one of points only, which loads but has nothing to see from above.
fs::path WriteSparseBlock(const fs::path& dir, std::set<std::string>& listed) {
    const fs::path block = dir / "block";
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {0, 0}, {1, 0}, {3, 0}, {0, 1}, {2, 1}, {3, 2}, {-1, 2}}) {
        WriteGridTile(block, GridName(x, y), x, y);
        listed.insert(GridName(x, y) + "/" + GridName(x, y) + ".osgb");
    }
    {
        SampleTileParams params;
        params.offset = osg::Vec2d(400, 400);
        params.pagedRoot = true;
        fs::create_directories(block / "Extra");
        WriteSampleTile(block / "Extra" / "root.osgb", params);
        listed.insert("Extra/root.osgb");
    }
    WriteText(block / "Broken" / "root.osgb", "not a scene");
    test::WriteSizedTile(block / "Points", 64 << 10);
    listed.insert("Points/root.osgb");
    return block;
}

TEST(OverviewIndex, LevelsAboveASparseBlockReachEveryListedTileOnceAndNothingElse) {
    TempDir dir;
    std::set<std::string> listed;
    const fs::path block = WriteSparseBlock(dir.path(), listed);

    const ExportReport report = ExportAs(block, IndexKind::Overview);
    ASSERT_TRUE(report.succeeded());
    const FolderReport& folder = report.folders.at(0);
    EXPECT_EQ(folder.status, FolderStatus::Written);
    EXPECT_EQ(folder.entries.size(), listed.size());
    ASSERT_EQ(folder.leftOut.size(), 1u);
    EXPECT_EQ(folder.leftOut[0].name, "Broken");
    // The points draw nothing from above: a hole in the levels, yet listed and reached.
    ASSERT_EQ(folder.overviewHoles.size(), 1u);
    EXPECT_EQ(folder.overviewHoles[0].name, "Points");
    EXPECT_EQ(folder.overviewHoles[0].reason, SummaryFailure::NoSurface);

    // Into the block go the index and one folder of ours, nothing else.
    const std::vector<fs::path> ours = OverviewFolders(block);
    ASSERT_EQ(ours.size(), 1u);
    std::vector<fs::path> expected{"Broken", "Extra", "Points", "root.osgb", ours[0].filename()};
    for (const std::string& tile : listed)
        if (tile.rfind("Tile_", 0) == 0)
            expected.push_back(tile.substr(0, tile.find('/')));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(block), expected);

    const Reached reached = WalkIndex(block);
    EXPECT_TRUE(reached.everyLevelLoaded);
    EXPECT_TRUE(reached.coarserAbove);
    EXPECT_GT(reached.levelFiles, 1u);
    std::set<std::string> tiles;
    for (const auto& [tile, times] : reached.tiles) {
        EXPECT_EQ(times, 1) << tile;
        tiles.insert(tile);
    }
    EXPECT_EQ(tiles, listed);
}

// A production folder: metadata.xml beside Data/, the tiles inside it with capital names, as
// copied from Windows. The levels go beside Data/, name the tiles through it, and a second run
// finds the same tiles with the first run's levels in the folder.
TEST(OverviewIndex, AProductionFolderGetsItsLevelsBesideItsDataAndARerunListsTheSame) {
    TempDir dir;
    const fs::path production = dir / "production";
    std::set<std::string> listed;
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y) {
            WriteGridTile(production / "Data", GridName(x, y), x, y);
            listed.insert("Data/" + GridName(x, y) + "/" + GridName(x, y) + ".osgb");
        }
    WriteText(production / "metadata.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
              "  <SRS>EPSG:4547</SRS>\n  <SRSOrigin>512345.6,3400000.3,12.5</SRSOrigin>\n"
              "</ModelMetadata>\n");
    for (int run = 0; run < 2; ++run) {
        const ExportReport report = ExportAs(production, IndexKind::Overview);
        ASSERT_TRUE(report.succeeded()) << run;
        const FolderReport& folder = report.folders.at(0);
        EXPECT_EQ(folder.entries.size(), listed.size()) << run;
        EXPECT_TRUE(folder.leftOut.empty()) << run;
        EXPECT_TRUE(folder.overviewHoles.empty()) << run;
        EXPECT_EQ(folder.originSource, OriginSource::Metadata) << run;
        EXPECT_EQ(ReadIndex(production / "root.osgb").translation,
                  osg::Vec3d(512345.6, 3400000.3, 12.5))
            << run;
        ASSERT_EQ(OverviewFolders(production).size(), 1u) << run;
        const Reached reached = WalkIndex(production);
        std::set<std::string> tiles;
        for (const auto& [tile, times] : reached.tiles)
            tiles.insert(tile);
        EXPECT_EQ(tiles, listed) << run;
        EXPECT_TRUE(reached.everyLevelLoaded) << run;
    }
}

TEST(OverviewIndex, ARerunReplacesTheLevelsAndProxyRemovesThem) {
    TempDir dir;
    std::set<std::string> listed;
    const fs::path block = WriteSparseBlock(dir.path(), listed);
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::vector<fs::path> first = OverviewFolders(block);
    ASSERT_EQ(first.size(), 1u);

    // A folder merely named like ours is the user's: never a tile, never removed.
    fs::create_directories(block / "brindle-overview-7");
    WriteText(block / "brindle-overview-7" / "notes.txt", "mine");

    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::vector<fs::path> second = OverviewFolders(block);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    EXPECT_FALSE(fs::exists(first[0]));
    EXPECT_EQ(WalkIndex(block).tiles.size(), listed.size());

    const ExportReport proxy = ExportAs(block, IndexKind::Proxy);
    ASSERT_TRUE(proxy.succeeded());
    EXPECT_TRUE(proxy.folders[0].warnings.empty());
    EXPECT_TRUE(OverviewFolders(block).empty());
    EXPECT_TRUE(fs::exists(block / "brindle-overview-7" / "notes.txt"));
    EXPECT_EQ(ReadIndex(block / "root.osgb").entries.size(), listed.size());
}

TEST(OverviewIndex, AnInterruptedOrFailedBuildLeavesTheOldIndexAndLevelsWorking) {
    TempDir dir;
    std::set<std::string> listed;
    const fs::path block = WriteSparseBlock(dir.path(), listed);
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::string before = test::ReadBytes(block / "root.osgb");
    const std::vector<fs::path> old = OverviewFolders(block);
    ASSERT_EQ(old.size(), 1u);

    // Cancelled once some tiles are in: the new levels go, the old stay as they were.
    std::atomic<bool> cancel{false};
    const ExportReport cancelled =
        ExportAs(block, IndexKind::Overview, &cancel, [&](const ExportProgress& progress) {
            if (progress.subfoldersDone >= 3)
                cancel = true;
        });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(test::ReadBytes(block / "root.osgb"), before);
    EXPECT_EQ(OverviewFolders(block), old);
    EXPECT_EQ(WalkIndex(block).tiles.size(), listed.size());

#ifndef _WIN32
    // No room for new levels: the folder fails, saying where, and nothing is touched.
    if (::geteuid() != 0) {
        fs::permissions(block, fs::perms::owner_write, fs::perm_options::remove);
        const ExportReport failed = ExportAs(block, IndexKind::Overview);
        fs::permissions(block, fs::perms::owner_write, fs::perm_options::add);
        ASSERT_EQ(failed.folders.size(), 1u);
        EXPECT_EQ(failed.folders[0].status, FolderStatus::Failed);
        ASSERT_TRUE(failed.folders[0].error);
        EXPECT_EQ(failed.folders[0].error->kind, ProblemKind::OverviewNotWritten);
        EXPECT_TRUE(failed.folders[0].error->cause);
        EXPECT_EQ(test::ReadBytes(block / "root.osgb"), before);
        EXPECT_EQ(OverviewFolders(block), old);
    }
#endif
}

#ifndef _WIN32
// The node files of the block's one overview folder, by name: which file each is (a node taken
// from an earlier run is that run's file, linked) and its bytes.
struct LevelFile {
    ino_t inode = 0;
    std::string bytes;
};
std::map<std::string, LevelFile> LevelFiles(const fs::path& block) {
    std::map<std::string, LevelFile> files;
    const std::vector<fs::path> ours = OverviewFolders(block);
    if (ours.size() != 1)
        return files;
    for (const auto& entry : fs::directory_iterator(ours[0])) {
        if (entry.path().extension() != ".osgb")
            continue;
        struct stat facts {};
        if (::stat(entry.path().c_str(), &facts) == 0)
            files[entry.path().filename().string()] = {facts.st_ino, test::ReadBytes(entry.path())};
    }
    return files;
}
#endif

// A 4 x 4 grid: a level-1 node over each 2 x 2 quarter, the top above them.
fs::path WriteFullGrid(const fs::path& dir) {
    const fs::path block = dir / "grid";
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            WriteGridTile(block, GridName(x, y), x, y);
    return block;
}

void ExpectEveryTileReachedOnce(const fs::path& block, std::size_t tiles) {
    const Reached reached = WalkIndex(block);
    EXPECT_TRUE(reached.everyLevelLoaded);
    EXPECT_EQ(reached.tiles.size(), tiles);
    for (const auto& [tile, times] : reached.tiles)
        EXPECT_EQ(times, 1) << tile;
}

#ifndef _WIN32
// A re-run takes every node whose tiles did not change from the levels before it, as they
// are, and rewrites only those above a tile that did; the new levels still reach every tile.
TEST(OverviewIndex, ARerunRewritesOnlyTheNodesAboveTouchedTiles) {
    TempDir dir;
    const fs::path block = WriteFullGrid(dir.path());
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::map<std::string, LevelFile> first = LevelFiles(block);
    ASSERT_EQ(first.size(), 5u);
    ASSERT_TRUE(fs::is_regular_file(OverviewFolders(block).at(0) / "brindle-overview.manifest"));

    // Nothing touched: every node is the earlier file, with the same bytes.
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::map<std::string, LevelFile> untouched = LevelFiles(block);
    ASSERT_EQ(untouched.size(), first.size());
    for (const auto& [name, file] : first) {
        EXPECT_EQ(untouched.at(name).inode, file.inode) << name;
        EXPECT_EQ(untouched.at(name).bytes, file.bytes) << name;
    }
    ExpectEveryTileReachedOnce(block, 16);

    // Tile (0, 0) rewritten: its level-1 node and the top are new, the other three stay.
    const std::string touched = GridName(0, 0);
    fs::remove(block / touched / (touched + ".osgb"));
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = 8;
    params.sizeMetres = 50;
    params.seed = 4242;
    params.pagedRoot = true;
    WriteSampleTile(block / touched / (touched + ".osgb"), params);
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::map<std::string, LevelFile> after = LevelFiles(block);
    ASSERT_EQ(after.size(), first.size());
    std::set<std::string> rewritten;
    for (const auto& [name, file] : first)
        if (after.at(name).inode != file.inode)
            rewritten.insert(name);
        else
            EXPECT_EQ(after.at(name).bytes, file.bytes) << name;
    EXPECT_EQ(rewritten, (std::set<std::string>{"L1_0_0.osgb", "L2_0_0.osgb"}));
    EXPECT_NE(after.at("L1_0_0.osgb").bytes, first.at("L1_0_0.osgb").bytes);
    ExpectEveryTileReachedOnce(block, 16);
}

// A manifest that is not as the program writes it is no guide: every node is built again.
TEST(OverviewIndex, ADamagedManifestRebuildsEveryNode) {
    TempDir dir;
    const fs::path block = WriteFullGrid(dir.path());
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::map<std::string, LevelFile> first = LevelFiles(block);
    const fs::path manifest = OverviewFolders(block).at(0) / "brindle-overview.manifest";
    std::string text = test::ReadBytes(manifest);
    ASSERT_GT(text.size(), 40u);
    text.resize(text.size() - 3); // cut short mid-line
    fs::remove(manifest);
    WriteText(manifest, text);

    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::map<std::string, LevelFile> after = LevelFiles(block);
    ASSERT_EQ(after.size(), first.size());
    for (const auto& [name, file] : first) {
        EXPECT_NE(after.at(name).inode, file.inode) << name;
        EXPECT_EQ(after.at(name).bytes, file.bytes) << name;
    }
    ExpectEveryTileReachedOnce(block, 16);
}

// A re-run cancelled after it took nodes from the levels before it leaves those levels whole.
TEST(OverviewIndex, AnInterruptedRerunLeavesTheOldLevelsWhole) {
    TempDir dir;
    const fs::path block = WriteFullGrid(dir.path());
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::map<std::string, LevelFile> first = LevelFiles(block);
    const std::string index = test::ReadBytes(block / "root.osgb");
    std::atomic<bool> cancel{false};
    const ExportReport cancelled =
        ExportAs(block, IndexKind::Overview, &cancel, [&](const ExportProgress& progress) {
            if (progress.subfoldersDone >= 12)
                cancel = true;
        });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(test::ReadBytes(block / "root.osgb"), index);
    const std::map<std::string, LevelFile> after = LevelFiles(block);
    ASSERT_EQ(after.size(), first.size());
    for (const auto& [name, file] : first)
        EXPECT_EQ(after.at(name).bytes, file.bytes) << name;
    ExpectEveryTileReachedOnce(block, 16);
}
#endif

// The node files of the block's one overview folder, by name, with their bytes.
std::map<std::string, std::string> LevelBytes(const fs::path& block) {
    std::map<std::string, std::string> files;
    const std::vector<fs::path> ours = OverviewFolders(block);
    if (ours.size() != 1)
        return files;
    for (const auto& entry : fs::directory_iterator(ours[0]))
        if (entry.path().extension() == ".osgb")
            files[entry.path().filename().string()] = test::ReadBytes(entry.path());
    return files;
}

// Verdicts are kept only on files that have not changed for a while.
void LetSettle() {
    std::this_thread::sleep_for(kSettleTime + std::chrono::milliseconds(100));
}

void RewriteGridTile(const fs::path& block, int x, int y, unsigned seed) {
    const std::string name = GridName(x, y);
    fs::remove(block / name / (name + ".osgb"));
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = 8;
    params.sizeMetres = 50;
    params.offset = osg::Vec2d(50.0 * x, 50.0 * y);
    params.seed = seed;
    params.pagedRoot = true;
    WriteSampleTile(block / name / (name + ".osgb"), params);
}

// The mean brightness of each quadrant (q = dx + 2 * dy) of a node file's coarse texture.
std::array<double, 4> QuadrantBrightness(const fs::path& nodeFile) {
    std::array<double, 4> mean{};
    const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(nodeFile.string());
    auto* lod = dynamic_cast<osg::PagedLOD*>(node.get());
    const osg::Geode* mesh =
        lod && lod->getNumChildren() > 0 ? lod->getChild(0)->asGeode() : nullptr;
    const osg::Image* image = test::FirstTextureImage(mesh);
    if (image == nullptr || image->getPixelFormat() != GL_RGB)
        return mean;
    const int size = image->s();
    std::array<std::size_t, 4> counts{};
    for (int row = 0; row < image->t(); ++row)
        for (int column = 0; column < size; ++column) {
            const unsigned char* pixel = image->data(column, row);
            const std::size_t q = (column >= size / 2 ? 1 : 0) + (row >= image->t() / 2 ? 2 : 0);
            mean[q] += (pixel[0] + pixel[1] + pixel[2]) / 3.0;
            ++counts[q];
        }
    for (std::size_t q = 0; q < 4; ++q)
        mean[q] /= std::max<std::size_t>(counts[q], 1);
    return mean;
}

// With the verdict cache a re-run reads only the tiles it has to: none when nothing changed,
// and beside a touched tile only its level-1 node's tiles. The nodes above it are made with
// the untouched nodes' pictures read back from their files; the holes stay told.
TEST(OverviewIndex, ACachedRerunReadsOnlyTheTilesBesideATouchedOne) {
    TempDir dir;
    const fs::path cache = dir.path() / "cache";
    const fs::path block = WriteFullGrid(dir.path());
    fs::remove_all(block / GridName(3, 3));
    test::WriteSizedTile(block / GridName(3, 3), 64 << 10); // points only: a hole
    LetSettle();
    const auto expectOneHole = [&](const ExportReport& report) {
        ASSERT_EQ(report.folders.size(), 1u);
        ASSERT_EQ(report.folders[0].overviewHoles.size(), 1u);
        EXPECT_EQ(report.folders[0].overviewHoles[0].name, fs::path(GridName(3, 3)));
        EXPECT_EQ(report.folders[0].overviewHoles[0].reason, SummaryFailure::NoSurface);
    };
    const ExportReport built = ExportAs(block, IndexKind::Overview, nullptr, {}, cache);
    ASSERT_TRUE(built.succeeded());
    expectOneHole(built);
    const std::map<std::string, std::string> first = LevelBytes(block);
    ASSERT_EQ(first.size(), 5u);

    // No tile read: every node is taken as it was.
    const ExportReport untouched = ExportAs(block, IndexKind::Overview, nullptr, {}, cache);
    ASSERT_TRUE(untouched.succeeded());
    EXPECT_EQ(untouched.folders[0].cachedVerdicts, 16u);
    expectOneHole(untouched);
    EXPECT_EQ(LevelBytes(block), first);
    ExpectEveryTileReachedOnce(block, 16);

    RewriteGridTile(block, 0, 0, 4242);
    const ExportReport touched = ExportAs(block, IndexKind::Overview, nullptr, {}, cache);
    ASSERT_TRUE(touched.succeeded());
    EXPECT_EQ(touched.folders[0].cachedVerdicts, 12u); // the touched tile and its three siblings
    expectOneHole(touched);
    const std::map<std::string, std::string> after = LevelBytes(block);
    ASSERT_EQ(after.size(), first.size());
    std::set<std::string> rewritten;
    for (const auto& [name, bytes] : after)
        if (bytes != first.at(name))
            rewritten.insert(name);
    EXPECT_EQ(rewritten, (std::set<std::string>{"L1_0_0.osgb", "L2_0_0.osgb"}));
    ExpectEveryTileReachedOnce(block, 16);
    // The top shows the untouched quarters as before, from their nodes' files.
    const fs::path levels = OverviewFolders(block).at(0);
    const std::array<double, 4> top = QuadrantBrightness(levels / "L2_0_0.osgb");
    WriteFullGrid(dir.path() / "fresh");
    fs::remove_all(dir.path() / "fresh" / "grid" / GridName(3, 3));
    test::WriteSizedTile(dir.path() / "fresh" / "grid" / GridName(3, 3), 64 << 10);
    RewriteGridTile(dir.path() / "fresh" / "grid", 0, 0, 4242);
    ASSERT_TRUE(ExportAs(dir.path() / "fresh" / "grid", IndexKind::Overview).succeeded());
    const std::array<double, 4> fresh =
        QuadrantBrightness(OverviewFolders(dir.path() / "fresh" / "grid").at(0) / "L2_0_0.osgb");
    for (std::size_t q = 0; q < 4; ++q) {
        EXPECT_GT(top[q], 10.0) << q;
        EXPECT_NEAR(top[q], fresh[q], 4.0) << q;
    }
}

#ifndef _WIN32
// Files this process writes may grow to `bytes` and no further while it lives, as on a disk
// that fills: a write past it fails (EFBIG) instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = before_;
        limit.rlim_cur = bytes;
        set_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, signal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return set_; }

private:
    rlimit before_{};
    void (*signal_)(int) = SIG_DFL;
    bool set_ = false;
};

// Tiles whose names are no grid names have their summaries written to scratch as they come: a
// disk that fills meanwhile fails the levels, and the run says so for the folder, keeps its
// index and levels, and still has every tile's verdict.
TEST(OverviewIndex, HeldSummariesThatFindNoRoomFailTheFolderAndKeepItsIndex) {
    TempDir dir;
    const fs::path block = dir / "block";
    std::set<std::string> listed;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "东区" + std::to_string(i);
        WriteGridTile(block, name, i % 3, i / 3);
        listed.insert(name);
    }
    WriteText(block / "坏块" / "root.osgb", "not a scene");
    ASSERT_TRUE(ExportAs(block, IndexKind::Overview).succeeded());
    const std::string before = test::ReadBytes(block / "root.osgb");
    const std::vector<fs::path> old = OverviewFolders(block);
    ASSERT_EQ(old.size(), 1u);
    const std::map<std::string, std::string> levels = LevelBytes(block);

    ExportReport failed;
    {
        // Room for the marker and a summary or two of the six, which take 9 KB and more each
        // for their heights alone.
        const FileSizeLimit limit(kHeldSummaryMaxBytes + 1000);
        ASSERT_TRUE(limit.set());
        failed = ExportAs(block, IndexKind::Overview);
    }
    ASSERT_EQ(failed.folders.size(), 1u);
    const FolderReport& folder = failed.folders[0];
    EXPECT_EQ(folder.status, FolderStatus::Failed);
    ASSERT_TRUE(folder.error);
    EXPECT_EQ(folder.error->kind, ProblemKind::OverviewNotWritten);
    EXPECT_EQ(folder.error->cause, SystemError(EFBIG));
    std::set<std::string> entries;
    for (const std::string& entry : folder.entries)
        entries.insert(entry.substr(0, entry.find('\\')));
    EXPECT_EQ(entries, listed);
    ASSERT_EQ(folder.leftOut.size(), 1u);
    EXPECT_EQ(folder.leftOut[0].name, fs::path("坏块"));
    EXPECT_EQ(test::ReadBytes(block / "root.osgb"), before);
    EXPECT_EQ(OverviewFolders(block), old);
    EXPECT_EQ(LevelBytes(block), levels);
    EXPECT_EQ(WalkIndex(block).tiles.size(), listed.size());
}
#endif

} // namespace
} // namespace brindle
