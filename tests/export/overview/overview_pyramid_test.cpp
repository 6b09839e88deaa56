#include "export/fs/overview_folder.h"
#include "export/fs/regular_file.h"
#include "export/overview/held_summary_codec.h"
#include "export/overview/node_summaries.h"
#include "export/overview/overview_manifest.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_placement.h"
#include "tests/export/overview/summary_fixtures.h"

#include <osg/Geode>
#include <osg/Image>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osgDB/ReadFile>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>

namespace brindle {
namespace {
namespace fs = std::filesystem;

constexpr double kCellSize = 100;

class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("brindle-pyramid-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string CellName(int x, int y) {
    char name[32];
    std::snprintf(name, sizeof name, "Tile_%+04d_%+04d", x, y);
    return name;
}

std::string EntryFor(const std::string& name) {
    return "../" + name + "/" + name + ".osgb";
}

Extent CellExtent(int x, int y) {
    return Extent{x * kCellSize, y * kCellSize, (x + 1) * kCellSize, (y + 1) * kCellSize};
}

// A summary of a gently rolling surface over the extent, its colour a pattern a JPEG keeps.
TileSummary RollingSummary(const Extent& extent) {
    TileSummary summary;
    summary.extent = extent;
    test::SampleHeights(summary, [](double x, double y) {
        return static_cast<float>(20 + 5 * std::sin(x / 70) + 3 * std::cos(y / 90));
    });
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i) {
            std::uint8_t* rgb = summary.Colour(i, j);
            rgb[0] = static_cast<std::uint8_t>(i);
            rgb[1] = static_cast<std::uint8_t>(j);
            rgb[2] = static_cast<std::uint8_t>(((i / 32 + j / 32) % 2) * 200);
            summary.Coverage(i, j) = 255;
        }
    return summary;
}

// A block as the run gives it to the pyramid: tiles named by their cells (or not), placed,
// their entries relative to the pyramid's folder inside the listed folder.
struct Block {
    std::vector<OverviewTile> tiles;
    std::vector<std::string> entries;
    std::set<std::size_t> holes; // tiles given no summary
    OverviewTree tree;

    void Add(const std::string& name, const Extent& extent, bool hole = false) {
        if (hole)
            holes.insert(tiles.size());
        tiles.push_back(OverviewTile{name, extent});
        entries.push_back(EntryFor(name));
    }
    void Place() {
        OverviewLayout layout = PlaceTiles(tiles);
        ASSERT_TRUE(layout.unplaced.empty());
        ASSERT_TRUE(layout.bounds.IsEmpty());
        tree = std::move(layout.grid);
    }
    std::optional<TileSummary> SummaryOf(std::size_t tile) const {
        if (holes.count(tile) != 0)
            return std::nullopt;
        return RollingSummary(*tiles[tile].extent);
    }
};

// The node files the cells give, worked out from the cells alone: at each level the cells
// halved, up to the one node that holds them all.
std::set<std::string> ExpectedNodeFiles(const std::vector<std::pair<int, int>>& cells) {
    int minX = INT32_MAX, minY = INT32_MAX;
    for (const auto& [x, y] : cells)
        minX = std::min(minX, x), minY = std::min(minY, y);
    std::set<std::string> files;
    for (int level = 1;; ++level) {
        std::set<std::pair<int, int>> nodes;
        for (const auto& [x, y] : cells)
            nodes.insert({(x - minX) >> level, (y - minY) >> level});
        for (const auto& [x, y] : nodes)
            files.insert(NodeFileName(level, x, y));
        if (nodes.size() == 1)
            return files;
    }
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<fs::path> KeptSummaryFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == kKeptSummaryExtension)
            files.push_back(entry.path());
    return files;
}

Status FeedInOrder(OverviewPyramid& pyramid, const Block& block) {
    for (std::size_t t = 0; t < block.tiles.size(); ++t)
        if (const Status added = pyramid.addTile(t, block.SummaryOf(t)); !added)
            return added;
    return {};
}

// What a walk down the node files found.
struct Walk {
    std::map<std::string, int> entries; // tile entries reached, and how often
    std::map<std::string, int> files;   // node files read, and how often
    std::map<std::string, osg::ref_ptr<osg::PagedLOD>> nodes;
};

bool IsNodeFile(const std::string& name) {
    return name.rfind("L", 0) == 0 && name.find('/') == std::string::npos;
}

void WalkDown(const fs::path& folder, const std::string& file, Walk& walk) {
    ++walk.files[file];
    const osg::ref_ptr<osg::Node> read = osgDB::readRefNodeFile((folder / file).string());
    auto* lod = dynamic_cast<osg::PagedLOD*>(read.get());
    ASSERT_NE(lod, nullptr) << file;
    walk.nodes[file] = lod;
    ASSERT_EQ(lod->getNumChildren(), 1u) << file;
    ASSERT_NE(dynamic_cast<osg::Geode*>(lod->getChild(0)), nullptr) << file;
    for (unsigned i = 1; i < lod->getNumFileNames(); ++i) {
        const std::string& name = lod->getFileName(i);
        if (IsNodeFile(name))
            WalkDown(folder, name, walk);
        else
            ++walk.entries[name];
    }
}

TEST(OverviewPyramid, SparseBlockWritesItsNodesAndReachesEveryTileOnce) {
    // Tiles in clusters far apart, tiles with no grid name placed by their bounds, and tiles
    // without summaries: one beside others in its level-1 node, one alone in its own.
    const std::vector<std::pair<int, int>> named = {{0, 0}, {1, 0}, {0, 1},  {1, 1},  {2, 1},
                                                    {7, 2}, {6, 6}, {13, 9}, {12, 14}};
    Block block;
    for (const auto& [x, y] : named)
        block.Add(CellName(x, y), CellExtent(x, y), (x == 1 && y == 1) || (x == 13 && y == 9));
    block.Add("north annex", CellExtent(3, 12));
    // A second tile over the first cell: the leaf holds both, and merges their summaries.
    block.Add("first cell again", CellExtent(0, 0));
    block.Place();
    std::vector<std::pair<int, int>> cells = named;
    cells.emplace_back(3, 12);

    TempFolder folder;
    OverviewPyramid pyramid(block.tree, block.entries, folder.path());
    ASSERT_TRUE(FeedInOrder(pyramid, block));
    const Result<PyramidTop> top = pyramid.finish();
    ASSERT_TRUE(top) << top.error().message();

    const std::set<std::string> expected = ExpectedNodeFiles(cells);
    // Beside them the summaries of the nodes that show anything, one each: all but the
    // level-1 node over the lone tile without a summary, and the node above it alone.
    std::set<std::string> nodes, summaries, expectedSummaries;
    for (const std::string& file : FilesIn(folder.path()))
        (fs::path(file).extension() == kKeptSummaryExtension ? summaries : nodes).insert(file);
    EXPECT_EQ(nodes, expected);
    for (const std::string& node : expected)
        if (node != NodeFileName(1, 6, 4) && node != NodeFileName(2, 3, 2))
            expectedSummaries.insert(fs::path(node).replace_extension(".summary").string());
    EXPECT_EQ(summaries, expectedSummaries);
    EXPECT_EQ(top->nodeFiles, expected.size());
    EXPECT_EQ(top->file, NodeFileName(4, 0, 0));
    std::uint64_t bytes = 0;
    for (const std::string& file : expected)
        bytes += fs::file_size(folder.path() / file);
    EXPECT_EQ(top->bytes, bytes);

    Walk walk;
    WalkDown(folder.path(), top->file, walk);
    std::map<std::string, int> everyTileOnce;
    for (const std::string& entry : block.entries)
        everyTileOnce[entry] = 1;
    EXPECT_EQ(walk.entries, everyTileOnce);
    EXPECT_EQ(walk.files.size(), expected.size());
    for (const auto& [file, times] : walk.files)
        EXPECT_EQ(times, 1) << file;

    // The top's sphere holds the whole block, as the run's index will store it.
    ASSERT_TRUE(top->bound.valid());
    for (const auto& [x, y] : cells)
        for (const double h : {15.0, 28.0}) {
            const Extent e = CellExtent(x, y);
            for (const osg::Vec3d corner :
                 {osg::Vec3d(e.minX, e.minY, h), osg::Vec3d(e.maxX, e.maxY, h)})
                EXPECT_LE((corner - osg::Vec3d(top->bound.center())).length(), top->bound.radius());
        }

    // The level-1 node whose one tile has no summary shows nothing, yet names the tile.
    const osg::PagedLOD& lonely = *walk.nodes.at(NodeFileName(1, 6, 4));
    EXPECT_EQ(lonely.getChild(0)->asGeode()->getNumDrawables(), 0u);
    EXPECT_EQ(lonely.getFileName(1), EntryFor(CellName(13, 9)));
    // The one beside tiles with summaries shows theirs.
    EXPECT_EQ(walk.nodes.at(NodeFileName(1, 0, 0))->getChild(0)->asGeode()->getNumDrawables(), 1u);
}

TEST(OverviewPyramid, EachParentSwitchesToItsChildrenFartherAwayThanTheyDo) {
    Block block;
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y)
            if ((x + 2 * y) % 5 != 0)
                block.Add(CellName(x, y), CellExtent(x, y));
    block.Place();
    TempFolder folder;
    OverviewPyramid pyramid(block.tree, block.entries, folder.path());
    ASSERT_TRUE(FeedInOrder(pyramid, block));
    const Result<PyramidTop> top = pyramid.finish();
    ASSERT_TRUE(top);
    Walk walk;
    WalkDown(folder.path(), top->file, walk);
    ASSERT_EQ(walk.nodes.size(), 1u + 4 + 16);

    // The distance at which a node switches to its children, in units that are the same for
    // every node: its sphere's diameter over the pixel size it switches at.
    const auto switchDistance = [](const osg::PagedLOD& lod) {
        return 2 * lod.getRadius() / lod.getMaxRange(0);
    };
    for (const auto& [file, lod] : walk.nodes) {
        EXPECT_EQ(lod->getRangeMode(), osg::LOD::PIXEL_SIZE_ON_SCREEN) << file;
        EXPECT_EQ(lod->getCenterMode(), osg::LOD::USER_DEFINED_CENTER) << file;
        // Read from its file, a node finds the names it stores in the file's own folder.
        EXPECT_EQ(fs::path(lod->getDatabasePath()) / "x", folder.path() / "x") << file;
        const float switchAt = lod->getMaxRange(0);
        EXPECT_EQ(lod->getMinRange(0), 0.0f) << file;
        // The mesh's 256 texels across its extent cover as many pixels each as the options
        // say when it gives way.
        const double side = file.rfind("L1_", 0) == 0   ? 2 * kCellSize
                            : file.rfind("L2_", 0) == 0 ? 4 * kCellSize
                                                        : 8 * kCellSize;
        const double texelsOnScreen = switchAt * side / (2 * lod->getRadius());
        EXPECT_NEAR(texelsOnScreen, 256 * PyramidOptions{}.texelPixels, 1) << file;
        for (unsigned i = 1; i < lod->getNumFileNames(); ++i) {
            EXPECT_EQ(lod->getMinRange(i), switchAt) << file;
            EXPECT_EQ(lod->getMaxRange(i), FLT_MAX) << file;
            const std::string& child = lod->getFileName(i);
            if (!IsNodeFile(child))
                continue;
            const osg::PagedLOD& below = *walk.nodes.at(child);
            EXPECT_GT(switchDistance(*lod), 1.8 * switchDistance(below)) << file << " " << child;
        }
        // The sphere is known before anything is loaded, and holds the mesh it shows.
        const osg::Geode& mesh = *lod->getChild(0)->asGeode();
        ASSERT_EQ(mesh.getNumDrawables(), 1u) << file;
        const osg::BoundingBox box = mesh.getDrawable(0)->getBoundingBox();
        for (unsigned c = 0; c < 8; ++c)
            EXPECT_LE((osg::Vec3d(box.corner(c)) - osg::Vec3d(lod->getCenter())).length(),
                      lod->getRadius() * (1 + 1e-6))
                << file;
    }
}

// The node files a pyramid writes, captured in memory.
struct Captured {
    std::mutex mutex;
    std::map<fs::path, std::string> files;
    NodeFileCalls Calls() {
        NodeFileCalls calls;
        calls.create = [this](const fs::path& file, std::string_view bytes) -> Status {
            const std::lock_guard<std::mutex> lock(mutex);
            files[file] = std::string(bytes);
            return {};
        };
        return calls;
    }
};

osg::ref_ptr<osg::Node> ReadFromMemory(const std::string& bytes) {
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    if (!reader)
        return nullptr;
    std::istringstream in(bytes, std::ios::in | std::ios::binary);
    return reader->readNode(in).getNode();
}

TEST(OverviewPyramid, TextureIsEmbeddedAsJpeg) {
    // One tile: its pyramid is one level-1 node above it, which is the top.
    Block block;
    block.Add(CellName(3, 4), CellExtent(3, 4));
    block.Place();
    // A file of the name the texture is stored under, in the working folder, where the
    // binary writer looks first for the file to embed.
    TempFolder working;
    std::ofstream(working.path() / kEmbeddedJpegName) << "not a picture";
    const fs::path before = fs::current_path();
    fs::current_path(working.path());

    Captured captured;
    OverviewPyramid pyramid(block.tree, block.entries, "levels", {}, {}, captured.Calls());
    ASSERT_TRUE(FeedInOrder(pyramid, block));
    const Result<PyramidTop> top = pyramid.finish();
    fs::current_path(before);
    ASSERT_TRUE(top);
    EXPECT_EQ(top->file, NodeFileName(1, 0, 0));
    ASSERT_EQ(captured.files.size(), 2u); // the node and its summary kept
    const std::string& bytes = captured.files.at(fs::path("levels") / top->file);
    constexpr std::size_t kRawRgb = std::size_t{kSummaryColourPixels} * kSummaryColourPixels * 3;
    EXPECT_LT(bytes.size(), kRawRgb / 4);

    const osg::ref_ptr<osg::Node> read = ReadFromMemory(bytes);
    auto* lod = dynamic_cast<osg::PagedLOD*>(read.get());
    ASSERT_NE(lod, nullptr);
    // No folder stored: the tiles' names are relative to the file's own folder.
    EXPECT_EQ(lod->getDatabasePath(), "");
    ASSERT_EQ(lod->getNumFileNames(), 2u);
    EXPECT_EQ(lod->getFileName(1), block.entries[0]);
    const osg::Geode* mesh = lod->getChild(0)->asGeode();
    ASSERT_EQ(mesh->getNumDrawables(), 1u);
    const osg::StateSet* state = mesh->getDrawable(0)->getStateSet();
    ASSERT_NE(state, nullptr);
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_NE(texture, nullptr);
    const osg::Image* image = texture->getImage();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->getFileName(), kEmbeddedJpegName);
    ASSERT_EQ(image->s(), kSummaryColourPixels);
    ASSERT_EQ(image->t(), kSummaryColourPixels);
    ASSERT_EQ(image->getPixelFormat(), static_cast<GLenum>(GL_RGB));
    // Drawn in the viewer's default material, which multiplies them by its 0.8 grey, the
    // pixels decoded show the tile in the node's lower left quadrant at half its resolution,
    // within what a JPEG of quality 80 loses, and black beside it. The tile's pixel (x, y) is
    // (x, y, 200 on every other square of 32): each two of them across and up, (2i + 0.5,
    // 2j + 0.5, as they are); brighter than 0.8 of white the texture cannot show.
    double onTileDifference = 0, besideDifference = 0;
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i) {
            const bool onTile = i < kSummaryColourPixels / 2 && j < kSummaryColourPixels / 2;
            const double tile[3] = {2 * i + 0.5, 2 * j + 0.5, ((i / 16 + j / 16) % 2) * 200.0};
            for (int c = 0; c < 3; ++c) {
                const double drawn = 0.8 * image->data(i, j)[c];
                (onTile ? onTileDifference : besideDifference) +=
                    std::abs(drawn - (onTile ? std::min(0.8 * 255, tile[c]) : 0.0));
            }
        }
    // On the tile, about 4.7 of those units on average at quality 80 (its squares' edges are
    // sharp); beside it, the black stays black.
    EXPECT_LT(onTileDifference / (kRawRgb / 4), 6.0);
    EXPECT_LT(besideDifference / (kRawRgb * 3 / 4), 0.5);
}

TEST(OverviewPyramid, SameFilesWhateverTheThreadCount) {
    Block block;
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 10; ++y)
            if ((x * 7 + y * 3) % 4 != 0)
                block.Add(CellName(x, y), CellExtent(x, y), (x * y) % 9 == 4);
    block.Place();
    std::map<fs::path, std::string> firstFiles;
    for (const unsigned threads : {1u, 3u}) {
        Captured captured;
        PyramidOptions options;
        options.threads = threads;
        OverviewPyramid pyramid(block.tree, block.entries, "levels", options, {}, captured.Calls());
        ASSERT_TRUE(FeedInOrder(pyramid, block));
        const Result<PyramidTop> top = pyramid.finish();
        ASSERT_TRUE(top);
        // The node files and their summaries kept.
        EXPECT_EQ(2 * top->nodeFiles, captured.files.size());
        if (threads == 1) {
            firstFiles = captured.files;
            EXPECT_GT(firstFiles.size(), 20u);
        } else {
            EXPECT_TRUE(captured.files == firstFiles);
        }
    }
}

TEST(OverviewPyramid, FailedWriteStopsThePyramidWithItsFileAndCause) {
    Block block;
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 6; ++y)
            block.Add(CellName(x, y), CellExtent(x, y));
    block.Place();
    for (const unsigned threads : {1u, 2u}) {
        int written = 0, afterFailure = 0;
        bool failed = false;
        std::mutex mutex;
        PyramidOptions options;
        options.threads = threads;
        const fs::path full = fs::path("levels") / NodeFileName(1, 1, 0);
        NodeFileCalls files;
        files.create = [&](const fs::path& file, std::string_view) -> Status {
            const std::lock_guard<std::mutex> lock(mutex);
            afterFailure += failed ? 1 : 0;
            if (file == full) {
                failed = true;
                return std::error_code(ENOSPC, std::system_category());
            }
            ++written;
            return {};
        };
        OverviewPyramid pyramid(block.tree, block.entries, "levels", options, {}, files);
        Status status;
        std::size_t t = 0;
        for (; t < block.tiles.size() && status; ++t)
            status = pyramid.addTile(t, block.SummaryOf(t));
        if (status) {
            ASSERT_EQ(t, block.tiles.size());
            const Result<PyramidTop> top = pyramid.finish();
            ASSERT_FALSE(top);
            status = top.error();
        } else {
            // Every later tile is turned away with the same cause.
            if (t < block.tiles.size()) {
                EXPECT_EQ(pyramid.addTile(t, block.SummaryOf(t)).error(), status.error());
            }
        }
        EXPECT_EQ(status.error(), std::error_code(ENOSPC, std::system_category()));
        EXPECT_EQ(pyramid.failedFile(), full);
        if (threads == 1) {
            EXPECT_EQ(afterFailure, 0);
        }
        EXPECT_LT(written, 13); // of the 9 + 4 + 1 nodes, not all
    }
}

TEST(OverviewPyramid, SummariesHeldStayAtTheFrontierOfTilesFedColumnByColumn) {
    constexpr int kSide = 64;
    Block block;
    for (int x = 0; x < kSide; ++x)
        for (int y = 0; y < kSide; ++y)
            block.Add(CellName(x, y), CellExtent(x, y));
    block.Place();
    std::size_t files = 0;
    NodeFileCalls calls;
    calls.create = [&](const fs::path& file, std::string_view) -> Status {
        files += file.extension() == ".osgb" ? 1 : 0;
        return {};
    };
    OverviewPyramid pyramid(block.tree, block.entries, "levels", {}, {}, calls);
    TileSummary flat;
    for (std::size_t t = 0; t < block.tiles.size(); ++t) {
        flat.extent = *block.tiles[t].extent;
        std::fill(flat.heights.begin(), flat.heights.end(), 10.0f);
        ASSERT_TRUE(pyramid.addTile(t, flat));
    }
    ASSERT_TRUE(pyramid.finish());
    EXPECT_EQ(files, 1365u); // 32^2 + 16^2 + ... + 1
    // A column of leaves waiting for the next, half a column of level-1 nodes waiting for
    // theirs, and so on up: about two columns, not the block.
    EXPECT_LE(pyramid.summaries().peak, 2u * kSide + 8);
    EXPECT_EQ(pyramid.summaries().live, 0u);
}

// Sixteen tiles, four by four, placed.
Block FourByFourBlock() {
    Block block;
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            block.Add(CellName(x, y), CellExtent(x, y));
    block.Place();
    return block;
}

// The place of the tile named `name` in the block.
std::size_t TileNamed(const Block& block, const std::string& name) {
    for (std::size_t t = 0; t < block.tiles.size(); ++t)
        if (block.tiles[t].name == name)
            return t;
    ADD_FAILURE() << "no tile " << name;
    return 0;
}

// A 4 x 4 block whose pyramid is written into `folder` (which exists), taking from `previous`
// what it can, with the tiles' stamps `stamps`; its manifest.
OverviewManifest BuildFourByFour(const Block& block, const fs::path& folder,
                                 const fs::path& previousFolder,
                                 std::shared_ptr<const OverviewManifest> previous) {
    OverviewPyramid pyramid(block.tree, block.entries, folder, {},
                            EarlierPyramid{previousFolder, std::move(previous)});
    EXPECT_TRUE(FeedInOrder(pyramid, block));
    EXPECT_TRUE(pyramid.finish());
    return pyramid.manifest();
}

// A node over a taken node that did not read back shows nothing of it, and says so in its
// hash: a later run finds it changed and builds it again, rather than keep the blank quarter
// for good once the node below is whole again.
TEST(OverviewPyramid, ANodeOverAChildThatDidNotReadBackIsNotTakenAgain) {
    TempFolder dir;
    const Block block = FourByFourBlock();
    fs::create_directories(dir.path() / "first");
    const auto first = std::make_shared<const OverviewManifest>(
        BuildFourByFour(block, dir.path() / "first", {}, nullptr));
    ASSERT_EQ(first->nodes.size(), 5u);

    // Every tile known but one of L1_0_0's: the other three level-1 nodes are taken, and the
    // first of those the top wants does not read back. Without the summaries the first run
    // kept, the taken nodes' files are read back.
    for (const fs::path& kept : KeptSummaryFiles(dir.path() / "first"))
        ASSERT_TRUE(fs::remove(kept));
    fs::create_directories(dir.path() / "second");
    OverviewPyramid second(block.tree, block.entries, dir.path() / "second", {},
                           EarlierPyramid{dir.path() / "first", first});
    std::vector<std::optional<KnownTile>> known(block.tiles.size(), KnownTile{0, true});
    known[TileNamed(block, CellName(0, 0))] = std::nullopt;
    const UnchangedNodesTaken settled = second.takeUnchangedNodes(known);
    ASSERT_EQ(settled.summariesWanted.size(), 3u);
    ASSERT_TRUE(second.addNodeSummary(0, std::nullopt));
    for (std::size_t k = 1; k < 3; ++k)
        ASSERT_TRUE(second.addNodeSummary(k, RollingSummary(CellExtent(0, 0))));
    for (std::size_t t = 0; t < block.tiles.size(); ++t) {
        if (!settled.tilesUnderTakenNodes[t]) {
            ASSERT_TRUE(second.addTile(t, block.SummaryOf(t)));
        }
    }
    ASSERT_TRUE(second.finish());
    const OverviewManifest secondManifest = second.manifest();
    EXPECT_EQ(secondManifest.nodes.count(settled.summariesWanted[0]), 0u);
    // The two read back keep their summaries now, for the next run to take instead.
    EXPECT_FALSE(fs::exists(KeptSummaryPath(dir.path() / "second", settled.summariesWanted[0])));
    for (std::size_t k = 1; k < 3; ++k) {
        const std::string& name = settled.summariesWanted[k];
        EXPECT_TRUE(ReadKeptSummary(KeptSummaryPath(dir.path() / "second", name),
                                    secondManifest.nodes.at(name).hash))
            << name;
    }
    ASSERT_EQ(secondManifest.nodes.count("L2_0_0.osgb"), 1u);
    EXPECT_NE(secondManifest.nodes.at("L2_0_0.osgb").hash, first->nodes.at("L2_0_0.osgb").hash);

    // The next build from the same tiles makes the top again, and comes to the first's hash.
    fs::create_directories(dir.path() / "third");
    const OverviewManifest third =
        BuildFourByFour(block, dir.path() / "third", dir.path() / "second",
                        std::make_shared<const OverviewManifest>(secondManifest));
    EXPECT_EQ(third.nodes.at("L2_0_0.osgb").hash, first->nodes.at("L2_0_0.osgb").hash);
    EXPECT_NE(third.nodes.at("L2_0_0.osgb").file.facts.inode,
              secondManifest.nodes.at("L2_0_0.osgb").file.facts.inode);
}

// RollingSummary's surface in smooth colours of the tile's own (`tint`), so that a node shown
// in another's place shows.
TileSummary Tinted(const Extent& extent, int tint) {
    TileSummary summary = RollingSummary(extent);
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int i = 0; i < kSummaryColourPixels; ++i)
            summary.Colour(i, j)[2] = static_cast<std::uint8_t>(tint);
    return summary;
}

// The mean of the absolute differences of two pictures' bytes; infinite when their sizes differ.
double MeanDifference(const ReportImage& a, const ReportImage& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return HUGE_VAL;
    double sum = 0;
    for (std::size_t k = 0; k < a.rgb.size(); ++k)
        sum += std::abs(static_cast<int>(a.rgb[k]) - static_cast<int>(b.rgb[k]));
    return sum / static_cast<double>(a.rgb.size());
}

// A re-run builds a node again over the nodes it takes from the summaries the earlier run kept
// of them, needing none of their files read back, and shows what a build from every tile as it
// is now shows. Damaged summary files leave the taken nodes to be read back.
TEST(OverviewPyramid, ANodeBuiltAgainOverTakenNodesStartsFromTheSummariesKeptOfThem) {
    TempFolder dir;
    const Block block = FourByFourBlock();
    const std::size_t changed = TileNamed(block, CellName(0, 0));
    const auto summaryOf = [&](std::size_t t, bool repainted) {
        return Tinted(*block.tiles[t].extent, repainted ? 255 : static_cast<int>(t) * 15);
    };
    constexpr std::uint64_t kRepaintedStamp = 1; // its root file's stamp now
    const auto build = [&](const std::string& name, bool repainted) {
        fs::create_directories(dir.path() / name);
        OverviewPyramid pyramid(block.tree, block.entries, dir.path() / name);
        for (std::size_t t = 0; t < block.tiles.size(); ++t) {
            if (repainted && t == changed) {
                EXPECT_TRUE(pyramid.addTile(t, summaryOf(t, true), kRepaintedStamp));
            } else {
                EXPECT_TRUE(pyramid.addTile(t, summaryOf(t, false)));
            }
        }
        Result<PyramidTop> top = pyramid.finish();
        EXPECT_TRUE(top);
        return std::make_pair(top ? top->picture : ReportImage{}, pyramid.manifest());
    };
    const auto [firstPicture, firstManifest] = build("first", false);
    const auto [freshPicture, freshManifest] = build("fresh", true);
    ASSERT_FALSE(freshPicture.empty());
    ASSERT_GT(MeanDifference(firstPicture, freshPicture), 4.0) << "the repainted tile shows";
    const auto earlier = std::make_shared<const OverviewManifest>(firstManifest);

    // Every tile known but the repainted one: L1_0_0 and the top are built again.
    std::vector<std::optional<KnownTile>> known(block.tiles.size(), KnownTile{0, true});
    known[changed] = std::nullopt;
    const auto rerun = [&](const std::string& name) {
        fs::create_directories(dir.path() / name);
        auto pyramid = std::make_unique<OverviewPyramid>(
            block.tree, block.entries, dir.path() / name, PyramidOptions{},
            EarlierPyramid{dir.path() / "first", earlier});
        const UnchangedNodesTaken taken = pyramid->takeUnchangedNodes(known);
        std::size_t kept = 0;
        for (std::size_t k = 0; k < taken.summariesWanted.size(); ++k) {
            if (taken.keptSummaries.at(k).empty())
                continue;
            ++kept;
            EXPECT_TRUE(pyramid->addNodeSummary(k, DecodeKeptSummary(taken.keptSummaries[k])));
        }
        for (std::size_t t = 0; t < block.tiles.size(); ++t) {
            if (t == changed) {
                EXPECT_TRUE(pyramid->addTile(t, summaryOf(t, true), kRepaintedStamp));
            } else if (!taken.tilesUnderTakenNodes[t]) {
                EXPECT_TRUE(pyramid->addTile(t, summaryOf(t, false)));
            }
        }
        return std::make_pair(std::move(pyramid), taken.summariesWanted.size() - kept);
    };
    const auto [kept, unkept] = rerun("second");
    EXPECT_EQ(unkept, 0u);
    const Result<PyramidTop> keptTop = kept->finish();
    ASSERT_TRUE(keptTop);
    EXPECT_EQ(keptTop->reusedFiles, 3u);
    // Only the colours pass through JPEG on the way.
    EXPECT_LT(MeanDifference(keptTop->picture, freshPicture), 1.5);
    EXPECT_EQ(kept->manifest().nodes.at("L2_0_0.osgb").hash,
              freshManifest.nodes.at("L2_0_0.osgb").hash);
    // The re-run keeps every node's summary in turn, of its subtree now, so that the next one
    // starts from them too.
    const OverviewManifest secondManifest = kept->manifest();
    ASSERT_EQ(secondManifest.nodes.size(), 5u);
    for (const auto& [name, node] : secondManifest.nodes)
        EXPECT_TRUE(ReadKeptSummary(KeptSummaryPath(dir.path() / "second", name), node.hash))
            << name;

    // One bit of each flipped, as a disk may.
    for (const fs::path& summary : KeptSummaryFiles(dir.path() / "first")) {
        std::fstream file(summary, std::ios::binary | std::ios::in | std::ios::out);
        const auto middle = static_cast<std::streamoff>(fs::file_size(summary) / 2);
        char byte = 0;
        file.seekg(middle);
        file.get(byte);
        file.seekp(middle);
        file.put(static_cast<char>(byte ^ 0x10));
    }
    const auto [read, toRead] = rerun("third");
    EXPECT_EQ(toRead, 3u);
    for (std::size_t k = 0; k < toRead; ++k)
        ASSERT_TRUE(read->addNodeSummary(k, RollingSummary(CellExtent(0, 0))));
    EXPECT_TRUE(read->finish());
}

// A tile or node summary the pyramid does not wait for is refused with an error, never thrown:
// the pyramid is fed from the pool's threads.
TEST(OverviewPyramid, UnexpectedInputIsRefusedNotThrown) {
    Block block;
    for (int x = 0; x < 2; ++x)
        block.Add(CellName(x, 0), CellExtent(x, 0));
    block.Place();
    NodeFileCalls files;
    files.create = [](const fs::path&, std::string_view) -> Status { return {}; };
    OverviewPyramid pyramid(block.tree, block.entries, "levels", {}, {}, files);
    const std::error_code misuse = SystemError(std::errc::invalid_argument);
    EXPECT_EQ(pyramid.addNodeSummary(0, std::nullopt).error(), misuse);
    EXPECT_EQ(pyramid.addTile(7, std::nullopt).error(), misuse);
    const Result<PyramidTop> early = pyramid.finish();
    ASSERT_FALSE(early);
    EXPECT_EQ(early.error(), misuse);
    ASSERT_TRUE(pyramid.addTile(0, block.SummaryOf(0)));
    EXPECT_EQ(pyramid.addTile(0, block.SummaryOf(0)).error(), misuse);
}

TEST(NodeFileCalls, CreateNeverReplacesAFile) {
    TempFolder folder;
    const fs::path file = folder.path() / "L1_0_0.osgb";
    std::ofstream(file) << "kept";
    const Status created = SystemNodeFileCalls().create(file, "new bytes");
#ifdef _WIN32
    constexpr int kFileExists = 80; // ERROR_FILE_EXISTS
#else
    constexpr int kFileExists = EEXIST;
#endif
    EXPECT_EQ(created.error(), std::error_code(kFileExists, std::system_category()));
    std::ifstream in(file);
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "kept");
    const fs::path other = folder.path() / "L1_1_0.osgb";
    ASSERT_TRUE(SystemNodeFileCalls().create(other, "new bytes"));
    EXPECT_EQ(fs::file_size(other), 9u);
}

// A manifest reads back as written; any line not as written makes the whole of it no guide,
// and so does one of the earlier layout, which says nothing of the node files.
TEST(OverviewManifest, ReadsBackAsWrittenAndADamagedOneIsNone) {
    OverviewManifest manifest;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    NodeFileStamp stamp;
    stamp.facts.type = fs::file_type::regular;
    stamp.facts.size = 123456;
    stamp.facts.modified = -1; // before 1970
    stamp.facts.changed = 1700000000123456789;
    stamp.facts.device = 0xffffffffffffffffull;
    stamp.facts.inode = 42;
    stamp.content = 0x8000000000000001ull;
    manifest.nodes["L1_0_0.osgb"] = {0x0123456789abcdefull, {-0.1, 1e300, -0.0, 3, nan, 5}, stamp};
    manifest.nodes["BL2_-1_3.osgb"] = {
        7, {FLT_MAX, FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX, 0}, {{fs::file_type::regular}, 0}};
    manifest.tiles["../Tile_+000_+000/Tile_+000_+000.osgb"] = {0xfedcba9876543210ull, 1};
    manifest.tiles["../Data/瓦片 1/瓦片 1.osgb"] = {0, 5};
    manifest.tiles["../a\nb/a.osgb"] = {1, 1}; // no line of its own: read again next time
    const std::string text = ManifestText(manifest);
    const std::optional<OverviewManifest> back = ParseManifest(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->nodes.size(), 2u);
    EXPECT_EQ(back->nodes.at("BL2_-1_3.osgb"), manifest.nodes.at("BL2_-1_3.osgb"));
    const ManifestNode& first = back->nodes.at("L1_0_0.osgb");
    EXPECT_EQ(first.hash, 0x0123456789abcdefull);
    EXPECT_TRUE(std::signbit(first.box[2]));
    EXPECT_TRUE(std::isnan(first.box[4]));
    EXPECT_EQ(first.box[1], 1e300);
    EXPECT_TRUE(first.file == stamp);
    manifest.tiles.erase("../a\nb/a.osgb");
    EXPECT_EQ(back->tiles, manifest.tiles);
    EXPECT_TRUE(ParseManifest(ManifestText({})));

    const std::string head = "brindle-overview-manifest 3\n";
    const std::string six = " 0000000000000000 0000000000000000 0000000000000000 "
                            "0000000000000000 0000000000000000 0000000000000000";
    const std::string box = six + six + " ";
    const std::string node = "N 0123456789abcdef" + box;
    EXPECT_TRUE(ParseManifest(head + node + "L1_0_0.osgb\n"));
    for (const std::string& damaged : std::vector<std::string>{
             "", text.substr(0, text.size() - 1), "brindle-overview-manifest 1\n" + node.substr(2),
             "brindle-overview-manifest 2\nN 0123456789abcdef" + six + " L1_0_0.osgb\n",
             head + node + "L1_0_0.osgb\n" + node + "L1_0_0.osgb\n",
             head + "N 0123456789ABCDEF" + box + "L1_0_0.osgb\n",
             head + "N 0123456789abcde" + box + "L1_0_0.osgb\n",
             head + "N 0123456789abcdef" + box.substr(17) + "L1_0_0.osgb\n",
             head + node + "../root.osgb\n", head + node + "L1_0_0.txt\n", head + node + "\n",
             head + node + std::string("L1\0.osgb\n", 9), head + "X 0123456789abcdef 01 a\n",
             head + "T 0123456789abcdef 1 ../a/a.osgb\n", head + "T 0123456789abcdef 01 \n",
             head + "T 0123456789abcdef 01 a\nT 0123456789abcdef 02 a\n"})
        EXPECT_FALSE(ParseManifest(damaged)) << damaged;
}

} // namespace
} // namespace brindle
