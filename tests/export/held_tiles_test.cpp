// The overview's tiles without grid names: their summaries wait in scratch outside the block
// until the build's end, and are placed then, branch by branch, as if they had been held in
// memory.
#include "export/fs/overview_folder.h"
#include "export/overview/overview_index.h"
#include "export/overview/tile_placement.h"
#include "export/tile/tile_check.h"
#include "tests/export/call_failure.h"
#include "tests/export/test_fixtures.h"

#include <osg/Geode>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

constexpr int kSide = 8; // held tiles on a side of the block
constexpr int kTiles = kSide * kSide;
constexpr double kTileMetres = 50;

// The held tiles' arrival order scatters them over the block, as checks that end in any
// order do: tile i lies at cell Cell(i).
int Cell(int i) {
    return (i * 29) % kTiles;
}

std::string HeldName(int i) {
    return "东区" + std::to_string(i);
}

Extent ExtentOf(int i) {
    const int column = Cell(i) % kSide, row = Cell(i) / kSide;
    const double x = kTileMetres * column, y = kTileMetres * row;
    return {x, y, x + kTileMetres, y + kTileMetres};
}

// Heights of a rolling surface, and colours of fields and their edges with a grain, as a
// photograph's are; all of the tile covered but its first column, which a tile that does not
// reach its extent's edge leaves.
TileSummary SummaryOf(int i) {
    TileSummary summary;
    summary.extent = ExtentOf(i);
    for (std::size_t k = 0; k < summary.heights.size(); ++k)
        summary.heights[k] = static_cast<float>(i) + std::sin(static_cast<float>(k) * 0.01f);
    for (int j = 0; j < kSummaryColourPixels; ++j)
        for (int x = 0; x < kSummaryColourPixels; ++x) {
            const int field = (x / 40 + j / 56 + i) % 3;
            const int grain = static_cast<int>((x * 7919 + j * 104729 + i) % 17) - 8;
            std::uint8_t* rgb = summary.Colour(x, j);
            rgb[0] = static_cast<std::uint8_t>(60 + 50 * field + grain);
            rgb[1] = static_cast<std::uint8_t>(90 + 30 * field + grain);
            rgb[2] = static_cast<std::uint8_t>(40 + 20 * field + grain);
            summary.Coverage(x, j) = x == 0 ? 0 : 255;
        }
    for (int j = 0; j < kSummaryColourPixels; ++j)
        std::fill_n(summary.Colour(0, j), 3, std::uint8_t{0});
    summary.lit = i % 2 == 0;
    return summary;
}

// A listed tile whose check found it lies in the square of a tile's side around the extent's
// centre.
LevelsCheck ListedAt(const Extent& extent) {
    LevelsCheck check;
    check.status = TileStatus::Valid;
    const double x = (extent.minX + extent.maxX) / 2, y = (extent.minY + extent.maxY) / 2;
    const double radius = kTileMetres / 2;
    check.bound = Extent{x - radius, y - radius, x + radius, y + radius};
    return check;
}

// kSide * kSide held tiles, then one listed tile that lies nowhere known: no summary, its
// bound only its references could tell.
std::vector<LevelsTile> HeldWork(const fs::path& block) {
    std::vector<LevelsTile> work;
    for (int i = 0; i <= kTiles; ++i) {
        TileCheck tile;
        tile.folder = block / fs::u8path(HeldName(i));
        work.push_back({tile.folder.filename(), tile.rootFileName()});
    }
    return work;
}
constexpr std::size_t kUnplaced = kTiles;

void HandInAll(OverviewBuild& build) {
    for (int i = 0; i < kTiles; ++i)
        build.tileChecked(static_cast<std::size_t>(i), ListedAt(ExtentOf(i)), SummaryState::Made,
                          std::make_shared<const TileSummary>(SummaryOf(i)));
    LevelsCheck nowhere;
    nowhere.status = TileStatus::Valid;
    build.tileChecked(kUnplaced, nowhere, SummaryState::NoSurface, nullptr);
}

std::map<std::string, std::string> NodeFiles(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".osgb")
            files[entry.path().filename().string()] = test::ReadBytes(entry.path());
    return files;
}

// The levels as the held tiles in memory, added as they came, make them.
std::map<std::string, std::string> LevelsFromMemory(const fs::path& folder) {
    std::vector<OverviewTile> tiles;
    std::vector<std::string> entries;
    tiles.reserve(kTiles);
    entries.reserve(kTiles);
    for (int i = 0; i < kTiles; ++i) {
        tiles.push_back({std::string(), ExtentOf(i)});
        entries.push_back("../" + HeldName(i) + "/root.osgb");
    }
    const OverviewLayout layout = PlaceTiles(tiles);
    fs::create_directories(folder);
    PyramidOptions options;
    options.namePrefix = "B";
    OverviewPyramid pyramid(layout.bounds, entries, folder, options);
    for (int i = 0; i < kTiles; ++i)
        EXPECT_TRUE(pyramid.addTile(static_cast<std::size_t>(i), SummaryOf(i)));
    EXPECT_TRUE(pyramid.finish());
    return NodeFiles(folder);
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A node file's texture, as a viewer decodes it.
osg::ref_ptr<osg::Image> NodeTexture(const std::string& bytes) {
    std::istringstream in(bytes);
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    if (reader == nullptr)
        return nullptr;
    const osg::ref_ptr<osg::Node> node = reader->readNode(in).getNode();
    auto* lod = dynamic_cast<osg::PagedLOD*>(node.get());
    const osg::Geode* mesh =
        lod && lod->getNumChildren() > 0 ? lod->getChild(0)->asGeode() : nullptr;
    if (mesh == nullptr || mesh->getNumDrawables() == 0 || !mesh->getDrawable(0)->getStateSet())
        return nullptr;
    const auto* texture = dynamic_cast<const osg::Texture2D*>(
        mesh->getDrawable(0)->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    return texture ? const_cast<osg::Image*>(texture->getImage()) : nullptr;
}

double Psnr(const osg::Image& a, const osg::Image& b) {
    if (a.s() != b.s() || a.t() != b.t() || a.getTotalSizeInBytes() != b.getTotalSizeInBytes())
        return 0;
    double squares = 0;
    for (std::size_t k = 0; k < a.getTotalSizeInBytes(); ++k) {
        const double d = double(a.data()[k]) - double(b.data()[k]);
        squares += d * d;
    }
    const double mean = squares / static_cast<double>(a.getTotalSizeInBytes());
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// The held summaries wait in scratch as they come, nowhere in the block and under no name even
// in the scratch folder, and the levels made from them are those the summaries held in memory
// make, but for the colours' second JPEG, while the pyramid holds a branch's frontier, not the
// block; a tile that lies nowhere is reached from the top. Nothing but the levels stays in our
// folder.
TEST(HeldTiles, WaitInScratchAndMakeTheLevelsMemoryWouldWhileFewAreInMemory) {
    TempDir dir;
    const fs::path block = dir / "block";
    const fs::path scratch = dir / "scratch";
    fs::create_directories(block);
    fs::create_directories(scratch);
    const std::vector<LevelsTile> work = HeldWork(block);
    Result<std::shared_ptr<OverviewBuild>> started =
        OverviewBuild::Start(block, "", work, 1, SystemScratchFileCalls(), scratch);
    ASSERT_TRUE(started);
    OverviewBuild& build = **started;
    HandInAll(build);
    EXPECT_EQ(Names(build.folder()), std::vector<std::string>{std::string(kOverviewMarkerName)});
    EXPECT_EQ(Names(block), std::vector<std::string>{build.folder().filename().string()});
#ifdef _WIN32
    // Windows names a file until its last handle closes: the scratch file alone, hidden.
    for (const std::string& name : Names(scratch))
        EXPECT_EQ(name.rfind(".brindle-scratch-", 0), 0u) << name;
    EXPECT_LE(Names(scratch).size(), 1u);
#else
    EXPECT_TRUE(fs::is_empty(scratch));
#endif

    const Result<std::vector<std::string>> tops = build.finish();
    ASSERT_TRUE(tops);
    const std::string folderName = build.folder().filename().string();
    EXPECT_EQ(*tops, (std::vector<std::string>{HeldName(kUnplaced) + "\\root.osgb",
                                               folderName + "\\BL3_0_0.osgb"}));
    const std::map<std::string, std::string> made = NodeFiles(build.folder());
    EXPECT_EQ(made.size(), 21u); // 16 + 4 + 1 nodes over an 8 x 8 block
    const std::map<std::string, std::string> memory = LevelsFromMemory(dir / "memory");
    ASSERT_EQ(made.size(), memory.size());
    for (const auto& [name, bytes] : made) {
        const auto inMemory = memory.find(name);
        ASSERT_NE(inMemory, memory.end()) << name;
        const osg::ref_ptr<osg::Image> spilled = NodeTexture(bytes);
        const osg::ref_ptr<osg::Image> kept = NodeTexture(inMemory->second);
        ASSERT_TRUE(spilled && kept) << name;
        EXPECT_GE(Psnr(*spilled, *kept), 38.0) << name;
    }
    std::vector<std::string> expected;
    expected.reserve(made.size() + 2);
    for (const auto& file : made)
        expected.push_back(file.first);
    expected.emplace_back(kOverviewManifestName);
    expected.emplace_back(kOverviewMarkerName);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(build.folder()), expected);
    EXPECT_TRUE(fs::is_empty(scratch));

    // At most a level-1 node's four tiles, and as many a level up, waiting on their siblings.
    const SummaryCount count = build.summaries();
    EXPECT_EQ(count.live, 0u);
    EXPECT_GE(count.peak, 4u);
    EXPECT_LE(count.peak, 12u) << "of " << kTiles;
}

test::CallFailure failing;
const std::error_code kNoRoom = SystemError(ENOSPC);

ScratchFileCalls FailingCalls() {
    const ScratchFileCalls real = SystemScratchFileCalls();
    return ScratchFileCalls{[real](const fs::path& folder) -> Result<std::unique_ptr<ScratchFile>> {
                                if (failing.failsNow("create"))
                                    return kNoRoom;
                                return real.create(folder);
                            },
                            [real](ScratchFile& file, std::string_view bytes) {
                                return failing.failsNow("append") ? Status(kNoRoom)
                                                                  : real.append(file, bytes);
                            }};
}

// A held summary that cannot be written fails the levels with its cause, as a node file not
// written does, whichever call fails; the rest of the tiles still come in, the file goes, and
// the levels' folder goes with the build.
TEST(HeldTiles, ASummaryNotWrittenFailsTheLevelsAndLeavesNothing) {
    for (const int failAt : {1, 2, 40}) {
        TempDir dir;
        const fs::path block = dir / "block";
        fs::create_directories(block);
        failing = test::FailAt(failAt);
        const std::vector<LevelsTile> work = HeldWork(block);
        Result<std::shared_ptr<OverviewBuild>> started =
            OverviewBuild::Start(block, "", work, 1, FailingCalls());
        ASSERT_TRUE(started);
        std::shared_ptr<OverviewBuild> build = std::move(*started);
        HandInAll(*build);
        EXPECT_EQ(failing.failed, failAt == 1 ? "create" : "append") << failAt;
        const Result<std::vector<std::string>> tops = build->finish();
        ASSERT_FALSE(tops) << failAt;
        EXPECT_EQ(tops.error(), kNoRoom) << failAt;
        EXPECT_TRUE(NodeFiles(build->folder()).empty()) << failAt;
        const fs::path levels = build->folder();
        build.reset();
        EXPECT_FALSE(fs::exists(levels)) << failAt;
        EXPECT_TRUE(fs::is_empty(block)) << failAt;
    }
}

// A build that ends before finish(), as a cancelled run's does, leaves nothing of it in the
// block, and its held summaries were never there.
TEST(HeldTiles, ABuildStoppedMidwayLeavesNoFolderBehind) {
    TempDir dir;
    const fs::path block = dir / "block";
    fs::create_directories(block);
    const std::vector<LevelsTile> work = HeldWork(block);
    Result<std::shared_ptr<OverviewBuild>> started = OverviewBuild::Start(block, "", work, 1);
    ASSERT_TRUE(started);
    std::shared_ptr<OverviewBuild> build = std::move(*started);
    for (int i = 0; i < 3; ++i)
        build->tileChecked(static_cast<std::size_t>(i), ListedAt(ExtentOf(i)), SummaryState::Made,
                           std::make_shared<const TileSummary>(SummaryOf(i)));
    EXPECT_EQ(Names(build->folder()), std::vector<std::string>{std::string(kOverviewMarkerName)});
    build.reset();
    EXPECT_TRUE(fs::is_empty(block));
}

// What the levels' folder held when it was flushed, by each flush.
std::vector<std::vector<std::string>> flushes;
Status RecordFlush(const fs::path& folder) {
    flushes.push_back(Names(folder));
    return SystemOverviewFolderCalls().flushFolder(folder);
}
Status FailFlush(const fs::path&) {
    return kNoRoom;
}

// The levels are on disk before finish() gives their tops to an index: one flush of their
// folder once every node file is in it. A flush that fails fails the levels with its cause,
// and the levels' folder goes with the build.
TEST(HeldTiles, TheLevelsAreFlushedOnceWholeBeforeAnIndexMayNameThem) {
    TempDir dir;
    const fs::path block = dir / "block";
    fs::create_directories(block);
    const std::vector<LevelsTile> work = HeldWork(block);
    OverviewFolderCalls calls = SystemOverviewFolderCalls();
    calls.flushFolder = RecordFlush;
    flushes.clear();
    Result<std::shared_ptr<OverviewBuild>> started =
        OverviewBuild::Start(block, "", work, 1, SystemScratchFileCalls(), {}, {}, calls);
    ASSERT_TRUE(started);
    HandInAll(**started);
    EXPECT_TRUE(flushes.empty()) << "not before the levels are whole";
    ASSERT_TRUE((*started)->finish());
    ASSERT_EQ(flushes.size(), 1u);
    for (const auto& file : NodeFiles((*started)->folder()))
        EXPECT_TRUE(std::count(flushes[0].begin(), flushes[0].end(), file.first)) << file.first;
    EXPECT_TRUE(std::count(flushes[0].begin(), flushes[0].end(), kOverviewManifestName));

    TempDir failDir;
    const fs::path failBlock = failDir / "block";
    fs::create_directories(failBlock);
    calls.flushFolder = FailFlush;
    Result<std::shared_ptr<OverviewBuild>> failing = OverviewBuild::Start(
        failBlock, "", HeldWork(failBlock), 1, SystemScratchFileCalls(), {}, {}, calls);
    ASSERT_TRUE(failing);
    std::shared_ptr<OverviewBuild> build = std::move(*failing);
    HandInAll(*build);
    const Result<std::vector<std::string>> tops = build->finish();
    ASSERT_FALSE(tops);
    EXPECT_EQ(tops.error(), kNoRoom);
    build.reset();
    EXPECT_TRUE(fs::is_empty(failBlock));
}

} // namespace
} // namespace brindle
