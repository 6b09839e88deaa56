#include "export/export_run.h"
#include "export/isolation/check_settings.h"
#include "export/origin/spatial_reference.h"
#include "export/tiles3d/geometric_error.h"
#include "export/tiles3d/tileset_build.h"
#include "export/tiles3d/tileset_folder.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include "content_truth.h"
#include "walk_fixtures.h"
#include "walk_view.h"

#include <osgDB/ReadFile>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace test;

// A block in a projected CRS, 60 km west of its central meridian (CGCS2000, 3-degree zone
// of 114 E): far enough that the grid's north is turned and its scale is off one.
constexpr const char* kSrs = "EPSG:4547";
const Point3 kOrigin = {440000.0, 3380000.0, 30.0};

// A production-shaped block: 3 x 3 tiles, each a paged root over two written finer levels,
// textured, without normals; one tile's finest level damaged. Its index and overview levels
// written by the export run, as the run does before it converts.
fs::path WriteBlock(const fs::path& folder) {
    SampleBlockOptions options;
    options.tileCount = 9;
    options.minTexturePx = options.maxTexturePx = 32;
    options.minGridCells = options.maxGridCells = 4;
    options.pagedRoot = true;
    options.writtenLevels = 2;
    options.lightInTexture = true;
    options.originX = kOrigin[0];
    options.originY = kOrigin[1];
    options.originZ = kOrigin[2];
    WriteSampleBlock(folder, options);
    ExportOptions run;
    run.jobs = 2;
    run.index = IndexKind::Overview;
    const ExportReport report = ExportFolderIndexes({folder}, run);
    EXPECT_TRUE(fs::is_regular_file(folder / "root.osgb"));
    return folder;
}

// The damaged file: deep in one tile's tree.
fs::path DamageDeepFile(const fs::path& block) {
    const fs::path file = block / "Tile_+001_+001" / "root_L2.osgb";
    const std::string bytes = test::ReadBytes(file);
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), 40);
    return file;
}

class TilesetBuildTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        block_ = WriteBlock(dir_->path() / "Block");
        damaged_ = DamageDeepFile(block_);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::unique_ptr<BlockFrame> Frame(SpatialReferences& references) {
        return BlockFrame::Make(references, kSrs, kOrigin, {150, 150, 0});
    }

    static TempDir* dir_;
    static fs::path block_, damaged_;
};
TempDir* TilesetBuildTest::dir_ = nullptr;
fs::path TilesetBuildTest::block_, TilesetBuildTest::damaged_;

TEST_F(TilesetBuildTest, EveryFileTheIndexReachesIsOneTileWithTheFilesItNamesAsChildren) {
    SpatialReferences references;
    const auto frame = Frame(references);
    ASSERT_TRUE(frame);
    TempDir out;
    const Built built = Build(block_, out.path(), frame.get());
    ASSERT_TRUE(built.built.written);

    // The truth: the files on disk, read by the scene-graph library's plain reader.
    const std::map<std::string, test::FileOnDisk> onDisk =
        test::FilesBelowIndex(block_ / "root.osgb");
    EXPECT_GT(onDisk.size(), 9u * 3u);
    // Each reached once: converted once, and nothing else converted.
    EXPECT_EQ(built.callsByFile.size(), onDisk.size());
    // The converter's threads kept busy: the walk gives it files from many trees at once.
    EXPECT_GE(built.mostInFlight, 3u);
    for (const auto& [file, disk] : onDisk)
        EXPECT_EQ(built.callsByFile.count(file) ? built.callsByFile.at(file) : 0, 1) << file;
    // The damaged file, and it alone, is left out, with why.
    ASSERT_EQ(built.built.leftOut.size(), 1u);
    EXPECT_EQ(Canonical(built.built.leftOut[0].file), Canonical(damaged_));
    EXPECT_EQ(built.built.leftOut[0].outcome.reason, TileStatus::LoadFailed);
    EXPECT_FALSE(onDisk.at(Canonical(damaged_)).loads);

    const ViewedTile root = ViewTileset(out.path());
    EXPECT_TRUE(root.content.empty()); // the index draws nothing
    std::map<std::string, std::vector<std::string>> tree;
    std::map<std::string, const ViewedTile*> tiles;
    ForEachTile(root, [&](const ViewedTile& tile) {
        const std::string source =
            tile.content.empty() ? Canonical(block_ / "root.osgb") : SourceOf(tile.content, block_);
        EXPECT_TRUE(tile.content.empty() || fs::is_regular_file(out.path() / tile.content))
            << tile.content;
        EXPECT_TRUE(tiles.emplace(source, &tile).second) << source << " is two tiles";
        for (const ViewedTile& child : tile.children)
            tree[source].push_back(SourceOf(child.content, block_));
    });
    // Every file that loads is a tile, its children the files it names that load.
    std::size_t loading = 0;
    for (const auto& [file, disk] : onDisk) {
        if (!disk.loads)
            continue;
        ++loading;
        EXPECT_TRUE(tiles.count(file)) << file;
        std::vector<std::string> expected;
        for (const std::string& finer : disk.finer)
            if (onDisk.at(finer).loads)
                expected.push_back(finer);
        EXPECT_EQ(tree[file], expected) << file;
    }
    EXPECT_EQ(tiles.size(), loading);
    EXPECT_EQ(built.built.tiles, loading - 1);
    // The tile whose finer file is damaged stays, as a leaf.
    const std::string aboveDamaged = Canonical(damaged_.parent_path() / "root_L1.osgb");
    ASSERT_TRUE(tiles.count(aboveDamaged));
    EXPECT_TRUE(tiles.at(aboveDamaged)->children.empty());
    EXPECT_FALSE(tiles.at(aboveDamaged)->content.empty());

    // Errors from the files' own switches, never growing downwards; tile roots and overview
    // nodes each with a transform of their own.
    ForEachTile(root, [&](const ViewedTile& tile) {
        for (const ViewedTile& child : tile.children)
            EXPECT_LE(child.error, tile.error);
    });
    const std::function<void(const ViewedTile&, double)> checkErrors = [&](const ViewedTile& tile,
                                                                           double ceiling) {
        const std::string source =
            tile.content.empty() ? Canonical(block_ / "root.osgb") : SourceOf(tile.content, block_);
        // The web viewer measures to the box of the file's own triangles, read plainly.
        double depth = 0;
        if (!tile.content.empty()) {
            const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(source);
            ASSERT_TRUE(scene);
            osg::BoundingBoxd bounds;
            for (const test::WorldTriangle& triangle : test::SceneTriangles(*scene))
                for (const osg::Vec3d& corner : triangle.corners)
                    bounds.expandBy(corner);
            depth = std::min({bounds.xMax() - bounds.xMin(), bounds.yMax() - bounds.yMin(),
                              bounds.zMax() - bounds.zMin()}) /
                    2;
        }
        double expected = 0;
        for (const FinerFile& named : onDisk.at(source).switches) {
            ASSERT_TRUE(named.pixels) << source;
            expected =
                std::max(expected, GeometricErrorForPixelSize(named.radius, named.switchAt, depth));
        }
        expected = std::min(expected, ceiling);
        EXPECT_NEAR(tile.error, expected, 1e-6 * (1 + expected)) << source;
        for (const ViewedTile& child : tile.children)
            checkErrors(child, tile.error);
    };
    // The index draws nothing and gives way before any of its children.
    for (const ViewedTile& child : root.children) {
        EXPECT_GE(root.error, child.error);
        checkErrors(child, root.error);
    }
    // Nothing written but below the output folder, a tileset for each tile root.
    EXPECT_EQ(built.built.tileTilesets, 9u);
    EXPECT_TRUE(fs::is_regular_file(out.path() / "Tile_+000_+000" / "root.osgb.v1.tileset.json"));
}

// Each of `points` (block offsets) where the tileset puts it on the earth, through the tile
// that holds it: its transform and every one above it.
struct PlacedPoint {
    Point3 offsets;
    Point3 earth;
};

// The corners and centre of each content's own vertices, read from its file by the plain
// reader, as the tileset places them.
std::vector<PlacedPoint> PlacedVertices(const ViewedTile& root, const fs::path& block) {
    std::vector<PlacedPoint> placed;
    ForEachTile(root, [&](const ViewedTile& tile) {
        if (tile.content.empty())
            return;
        const fs::path source = SourceOf(tile.content, block);
        const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(source.string());
        ASSERT_TRUE(scene) << source;
        std::vector<osg::Vec3d> vertices;
        for (const test::WorldTriangle& triangle : test::SceneTriangles(*scene))
            vertices.insert(vertices.end(), triangle.corners.begin(), triangle.corners.end());
        ASSERT_FALSE(vertices.empty()) << source;
        // Farthest along each diagonal, and nearest the middle.
        const double directions[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        std::vector<osg::Vec3d> chosen;
        for (const auto& d : directions)
            chosen.push_back(*std::max_element(
                vertices.begin(), vertices.end(), [&](const osg::Vec3d& a, const osg::Vec3d& b) {
                    return d[0] * a.x() + d[1] * a.y() < d[0] * b.x() + d[1] * b.y();
                }));
        osg::Vec3d middle;
        for (const osg::Vec3d& v : chosen)
            middle += v / 4.0;
        chosen.push_back(*std::min_element(
            vertices.begin(), vertices.end(), [&](const osg::Vec3d& a, const osg::Vec3d& b) {
                return (a - middle).length2() < (b - middle).length2();
            }));
        for (const osg::Vec3d& v : chosen) {
            const Point3 offsets = {v.x(), v.y(), v.z()};
            placed.push_back({offsets, Apply(tile.toEarth, offsets)});
        }
    });
    return placed;
}

// What cs2cs (proj-bin), the projection library's own program, makes of `points`.
std::vector<Point3> Cs2cs(const std::string& from, const std::vector<Point3>& points) {
    const fs::path input = fs::temp_directory_path() / ("walk-cs2cs-" + std::to_string(getpid()));
    {
        std::ofstream out(input);
        out.precision(17);
        for (const Point3& p : points)
            out << p[0] << ' ' << p[1] << ' ' << p[2] << '\n';
    }
    const std::string command = "cs2cs -f %.10f " + from + " EPSG:4978 < " + input.string();
    std::vector<Point3> result;
    FILE* const pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        Point3 p{};
        if (std::sscanf(line, "%lf %lf %lf", &p[0], &p[1], &p[2]) == 3)
            result.push_back(p);
    }
    EXPECT_EQ(pclose(pipe), 0) << "failed (is proj-bin installed?): " << command;
    fs::remove(input);
    return result;
}

double Distance(const Point3& a, const Point3& b) {
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

TEST_F(TilesetBuildTest, EveryTilesCornersAndCentreLandWithinACentimetreOfTheProjectionLibrary) {
    SpatialReferences references;
    const auto frame = Frame(references);
    ASSERT_TRUE(frame);
    TempDir out;
    ASSERT_TRUE(Build(block_, out.path(), frame.get()).built.written);
    const std::vector<PlacedPoint> placed = PlacedVertices(ViewTileset(out.path()), block_);
    ASSERT_GT(placed.size(), 5u * 9u * 3u);
    std::vector<Point3> projected;
    for (const PlacedPoint& point : placed) // the CRS's own axis order: north, east
        projected.push_back({kOrigin[1] + point.offsets[1], kOrigin[0] + point.offsets[0],
                             kOrigin[2] + point.offsets[2]});
    const std::vector<Point3> truth = Cs2cs(kSrs, projected);
    ASSERT_EQ(truth.size(), placed.size());
    double worst = 0;
    for (std::size_t i = 0; i < truth.size(); ++i)
        worst = std::max(worst, Distance(placed[i].earth, truth[i]));
    EXPECT_LT(worst, 0.01);
}

TEST_F(TilesetBuildTest, AnEnuBlockIsPlacedInItsOwnFrame) {
    SpatialReferences references;
    const auto frame = BlockFrame::Make(references, "ENU:30.5,114.25", {10, -20, 5}, {150, 150, 0});
    ASSERT_TRUE(frame);
    TempDir out;
    ASSERT_TRUE(Build(block_, out.path(), frame.get()).built.written);
    const std::vector<PlacedPoint> placed = PlacedVertices(ViewTileset(out.path()), block_);
    std::vector<Point3> geographic = {{30.5, 114.25, 0.0}};
    const Point3 frameOrigin = Cs2cs("EPSG:4979", geographic).at(0);
    const ColumnMajor4x4& m = frame->frameToEarth();
    EXPECT_LT(Distance({m[12], m[13], m[14]}, frameOrigin), 0.01);
    for (const PlacedPoint& point : placed) {
        const Point3 local = {point.offsets[0] + 10, point.offsets[1] - 20, point.offsets[2] + 5};
        EXPECT_LT(Distance(point.earth, Apply(m, local)), 0.001);
    }
}

TEST_F(TilesetBuildTest, WithoutAFrameTheTilesetIsInTheBlocksOffsets) {
    TempDir out;
    ASSERT_TRUE(Build(block_, out.path(), nullptr).built.written);
    for (const PlacedPoint& point : PlacedVertices(ViewTileset(out.path()), block_))
        EXPECT_LT(Distance(point.earth, point.offsets), 1e-9);
    std::ifstream in(out.path() / kTilesetName);
    EXPECT_FALSE(Json::parse(in)["root"].contains("transform"));
}

std::map<std::string, std::string> JsonFiles(const fs::path& output) {
    std::map<std::string, std::string> files;
    for (const auto& [name, bytes] : test::FilesBelow(output))
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0)
            files[name] = bytes;
    return files;
}

TEST_F(TilesetBuildTest, ARerunConvertsOnlyTheFilesThatChanged) {
    SpatialReferences references;
    const auto frame = Frame(references);
    TempDir out;
    const Built first = Build(block_, out.path() / "first", frame.get());
    ASSERT_TRUE(first.built.written);

    // Touched: the same bytes, a newer time.
    const fs::path touched = block_ / "Tile_+002_+000" / "root_L1.osgb";
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::seconds(5));
    const Built second = Build(block_, out.path() / "second", frame.get(), out.path() / "first");
    ASSERT_TRUE(second.built.written);
    // The touched file, the index and the damaged file (never recorded) are converted again.
    std::set<std::string> again;
    for (const auto& [file, times] : second.callsByFile)
        again.insert(file);
    EXPECT_EQ(again, (std::set<std::string>{Canonical(touched), Canonical(block_ / "root.osgb"),
                                            Canonical(damaged_)}));
    EXPECT_EQ(second.built.reused + 1, first.built.tiles);
    // A viewer meets the same tileset; the touched file's content and its tile's tileset are
    // the new build's.
    EXPECT_EQ(SeenTileset(out.path() / "first"), SeenTileset(out.path() / "second"));
    EXPECT_TRUE(
        fs::is_regular_file(out.path() / "second" / "Tile_+002_+000" / "root_L1.osgb.v2.glb"));
    // A content taken over is the same file, or its copy, under the name it had.
    const fs::path content = fs::path("Tile_+000_+000") / "root_L2.osgb.v1.glb";
    EXPECT_EQ(test::ReadBytes(out.path() / "first" / content),
              test::ReadBytes(out.path() / "second" / content));

    // A manifest that names a content no longer there is not trusted at all.
    fs::remove(out.path() / "first" / content);
    const Built third = Build(block_, out.path() / "third", frame.get(), out.path() / "first");
    EXPECT_EQ(third.calls, first.calls);
    EXPECT_EQ(third.built.reused, 0u);
    // Nor one that does not read.
    {
        std::ofstream(out.path() / "second" / kConversionManifestName, std::ios::app)
            << "{\"file\":";
    }
    const Built fourth = Build(block_, out.path() / "fourth", frame.get(), out.path() / "second");
    EXPECT_EQ(fourth.calls, first.calls);
    EXPECT_EQ(SeenTileset(out.path() / "second"), SeenTileset(out.path() / "fourth"));
}

// In place, a re-run writes only what changed, under names of its own generation, and leaves
// the folder holding what its tileset names and nothing else; a manifest that does not read,
// or a build cut short before, leaves no file of the earlier builds behind either.
TEST_F(TilesetBuildTest, ATilesetUpdatedInPlaceHoldsWhatItNamesAndNothingMore) {
    SpatialReferences references;
    const auto frame = Frame(references);
    TempDir out;
    const fs::path tileset = out.path() / "tileset";
    // Marked ours, as the run makes every tileset's folder.
    WriteText(tileset / std::string(kTilesetMarkerName), std::string(kTilesetMarkerText));
    const Built first = Build(block_, tileset, frame.get());
    ASSERT_TRUE(first.built.written);
    const std::string seen = SeenTileset(tileset);

    const fs::path touched = block_ / "Tile_+001_+001" / "root.osgb";
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::seconds(5));
    const Built second = Build(block_, tileset, frame.get(), tileset);
    ASSERT_TRUE(second.built.written);
    // Converted once, though the walk reaches it only after the files above it.
    EXPECT_EQ(second.callsByFile.count(Canonical(touched)), 1u);
    for (const auto& [file, times] : second.callsByFile)
        EXPECT_EQ(times, 1) << file;
    EXPECT_EQ(second.built.reused + 1, first.built.tiles);
    EXPECT_EQ(SeenTileset(tileset), seen);
    EXPECT_EQ(StrayOrMissing(tileset), std::set<std::string>{});
    const std::set<std::string> named = NamedContents(tileset);
    EXPECT_EQ(named.count("Tile_+001_+001/root.osgb.v2.glb"), 1u);
    EXPECT_EQ(named.count("Tile_+001_+001/root.osgb.v2.tileset.json"), 1u);

    // A manifest whose lines do not read: every file is converted again, and the earlier
    // generations' files go.
    std::ofstream(tileset / kConversionManifestName, std::ios::app) << "{\"file\":\n";
    const Built third = Build(block_, tileset, frame.get(), tileset);
    EXPECT_EQ(third.calls, first.calls);
    EXPECT_EQ(SeenTileset(tileset), seen);
    EXPECT_EQ(StrayOrMissing(tileset), std::set<std::string>{});
    for (const std::string& name : NamedContents(tileset))
        EXPECT_NE(name.find(".v3."), std::string::npos) << name;

    // Folders by the names of the update's own files stop no update.
    WriteText(tileset / kUpdatePendingName / "stray.txt", "");
    WriteText(tileset / kManifestScratchName / "stray.txt", "");
    ASSERT_TRUE(Build(block_, tileset, frame.get(), tileset).built.written);
    EXPECT_EQ(StrayOrMissing(tileset), std::set<std::string>{});
    EXPECT_EQ(SeenTileset(tileset), seen);

    // What a build cut short wrote is named by no tileset, and goes with the next update.
    WriteText(tileset / "Tile_+000_+000" / "root.osgb.v4.glb", "cut short");
    WriteText(tileset / kUpdatePendingName, "");
    const Built fourth = Build(block_, tileset, frame.get(), tileset);
    EXPECT_EQ(fourth.built.reused, first.built.tiles);
    EXPECT_EQ(SeenTileset(tileset), seen);
    EXPECT_EQ(StrayOrMissing(tileset), std::set<std::string>{});
}

// Contents made with other settings are none of the new build's: each setting alone makes
// every file convert again, and the same settings again take them all.
TEST_F(TilesetBuildTest, ARerunWithOtherContentSettingsConvertsEveryFileAgain) {
    SpatialReferences references;
    const auto frame = Frame(references);
    TempDir out;
    const ContentSettings all{true, true, true};
    const Built first = Build(block_, out.path() / "first", frame.get(), {}, all);
    ASSERT_TRUE(first.built.written);
    const Built same = Build(block_, out.path() / "same", frame.get(), out.path() / "first", all);
    EXPECT_EQ(same.built.reused, first.built.tiles);
    int run = 0;
    for (const ContentSettings& other :
         {ContentSettings{false, true, true}, ContentSettings{true, false, true},
          ContentSettings{true, true, false}}) {
        const fs::path output = out.path() / ("other" + std::to_string(run++));
        const Built again = Build(block_, output, frame.get(), out.path() / "first", other);
        EXPECT_EQ(again.calls, first.calls) << run;
        EXPECT_EQ(again.built.reused, 0u) << run;
    }
}

// A file of a hand-made tree: a mesh at `x` (block offsets) under a paged node naming `finer`.
TEST_F(TilesetBuildTest, TheWorkersConversionsGiveTheTilesetAPlainReadGives) {
    SpatialReferences references;
    const auto frame = Frame(references);
    TempDir out;
    const Built plain = Build(block_, out.path() / "plain", frame.get());
    ASSERT_TRUE(plain.built.written);

    CheckSettings settings;
    settings.workerProgram = BRINDLE_TILE_CHECK_PROGRAM;
    settings.jobs = 2;
    Result<std::unique_ptr<FileConversions>> pool = FileConversions::Start(settings);
    ASSERT_TRUE(pool);
    fs::create_directories(out.path() / "workers");
    TilesetBuildOptions options;
    options.listedFolder = block_;
    options.frame = frame.get();
    options.output = out.path() / "workers";
    const Result<TilesetBuilt> built =
        BuildTileset(options, [&](ConversionJob job, FileConversions::Done done) {
            (*pool)->convert(std::move(job), std::move(done));
        });
    ASSERT_TRUE(built);
    ASSERT_TRUE(built->written) << built->converted << " converted, " << built->tiles << " tiles, "
                                << built->withoutContent << " without content";
    EXPECT_EQ(built->tiles, plain.built.tiles);
    EXPECT_EQ(built->converted, plain.calls);
    ASSERT_EQ(built->leftOut.size(), 1u);
    EXPECT_EQ(Canonical(built->leftOut[0].file), Canonical(damaged_));
    EXPECT_EQ(JsonFiles(out.path() / "workers"), JsonFiles(out.path() / "plain"));
}

} // namespace
} // namespace brindle
