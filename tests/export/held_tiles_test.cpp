// The overview's tiles without grid names: their summaries wait on disk until the build's end,
// and are placed then, branch by branch, as if they had been held in memory.
#include "export/fs/overview_folder.h"
#include "export/overview/tile_placement.h"
#include "export/overview_index.h"
#include "tests/export/call_failure.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <map>
#include <memory>
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

TileSummary SummaryOf(int i) {
    TileSummary summary;
    summary.extent = ExtentOf(i);
    for (std::size_t k = 0; k < summary.heights.size(); ++k)
        summary.heights[k] = static_cast<float>(i) + std::sin(static_cast<float>(k) * 0.01f);
    for (std::size_t k = 0; k < summary.colour.size(); ++k)
        summary.colour[k] = static_cast<std::uint8_t>(static_cast<std::size_t>(i) * 7 + k % 251);
    std::fill(summary.coverage.begin(), summary.coverage.end(), std::uint8_t{255});
    summary.lit = i % 2 == 0;
    return summary;
}

TileResult ListedAt(const Extent& extent) {
    TileResult result;
    result.outcome = TileOutcome(TileStatus::Valid);
    result.bound.kind = TileBound::Kind::Known;
    result.bound.centre[0] = (extent.minX + extent.maxX) / 2;
    result.bound.centre[1] = (extent.minY + extent.maxY) / 2;
    result.bound.radius = kTileMetres / 2;
    result.checked = true;
    return result;
}

// kSide * kSide held tiles, then one listed tile that lies nowhere known: no summary, its
// bound only its references could tell.
FolderWork HeldWork(const fs::path& block) {
    FolderWork work;
    for (int i = 0; i <= kTiles; ++i) {
        TileCheck tile;
        tile.folder = block / fs::u8path(HeldName(i));
        work.tiles.push_back(std::move(tile));
    }
    return work;
}
constexpr std::size_t kUnplaced = kTiles;

void HandInAll(OverviewBuild& build) {
    for (int i = 0; i < kTiles; ++i)
        build.tileChecked(static_cast<std::size_t>(i), ListedAt(ExtentOf(i)), SummaryState::Made,
                          std::make_shared<const TileSummary>(SummaryOf(i)));
    TileResult nowhere;
    nowhere.outcome = TileOutcome(TileStatus::Valid);
    nowhere.bound.kind = TileBound::Kind::Unknown;
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

// The held summaries go to disk as they come, and the levels made from them are those the
// summaries held in memory made, byte for byte, while the pyramid holds a branch's frontier,
// not the block; a tile that lies nowhere is reached from the top. Nothing but the levels
// stays in our folder.
TEST(HeldTiles, WaitOnDiskAndMakeTheLevelsMemoryWouldWhileFewAreInMemory) {
    TempDir dir;
    const fs::path block = dir / "block";
    fs::create_directories(block);
    const FolderWork work = HeldWork(block);
    Result<std::shared_ptr<OverviewBuild>> started = OverviewBuild::Start(block, "", work, 1);
    ASSERT_TRUE(started);
    OverviewBuild& build = **started;
    HandInAll(build);
    const fs::path held = build.folder() / std::string(kHeldSummariesName);
    ASSERT_TRUE(fs::is_regular_file(held));
    EXPECT_EQ(fs::file_size(held), std::uint64_t{kTiles} * kSummaryBytes);

    const Result<std::vector<std::string>> tops = build.finish();
    ASSERT_TRUE(tops);
    const std::string folderName = build.folder().filename().string();
    EXPECT_EQ(*tops, (std::vector<std::string>{HeldName(kUnplaced) + "\\root.osgb",
                                               folderName + "\\BL3_0_0.osgb"}));
    const std::map<std::string, std::string> made = NodeFiles(build.folder());
    EXPECT_EQ(made.size(), 21u); // 16 + 4 + 1 nodes over an 8 x 8 block
    EXPECT_TRUE(made == LevelsFromMemory(dir / "memory"));
    std::vector<std::string> expected;
    expected.reserve(made.size() + 2);
    for (const auto& file : made)
        expected.push_back(file.first);
    expected.emplace_back(kOverviewManifestName);
    expected.emplace_back(kOverviewMarkerName);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(build.folder()), expected);

    // At most a level-1 node's four tiles, and as many a level up, waiting on their siblings.
    const SummaryCount count = build.summaries();
    EXPECT_EQ(count.live, 0u);
    EXPECT_GE(count.peak, 4u);
    EXPECT_LE(count.peak, 12u) << "of " << kTiles;
}

test::CallFailure failing;
const std::error_code kNoRoom = SystemError(ENOSPC);

AppendFileCalls FailingCalls() {
    const AppendFileCalls real = SystemAppendFileCalls();
    return AppendFileCalls{
        [real](const fs::path& file) {
            return failing.failsNow("create") ? Status(kNoRoom) : real.create(file);
        },
        [real](const fs::path& file, std::string_view bytes) {
            return failing.failsNow("append") ? Status(kNoRoom) : real.append(file, bytes);
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
        const FolderWork work = HeldWork(block);
        Result<std::shared_ptr<OverviewBuild>> started =
            OverviewBuild::Start(block, "", work, 1, FailingCalls());
        ASSERT_TRUE(started);
        std::shared_ptr<OverviewBuild> build = std::move(*started);
        HandInAll(*build);
        EXPECT_EQ(failing.failed, failAt == 1 ? "create" : "append") << failAt;
        const Result<std::vector<std::string>> tops = build->finish();
        ASSERT_FALSE(tops) << failAt;
        EXPECT_EQ(tops.error(), kNoRoom) << failAt;
        EXPECT_FALSE(fs::exists(build->folder() / std::string(kHeldSummariesName))) << failAt;
        EXPECT_TRUE(NodeFiles(build->folder()).empty()) << failAt;
        const fs::path levels = build->folder();
        build.reset();
        EXPECT_FALSE(fs::exists(levels)) << failAt;
        EXPECT_TRUE(fs::is_empty(block)) << failAt;
    }
}

// A build that ends before finish(), as a cancelled run's does, takes its held summaries
// with its folder: nothing of it stays in the block.
TEST(HeldTiles, ABuildStoppedMidwayLeavesNoFolderBehind) {
    TempDir dir;
    const fs::path block = dir / "block";
    fs::create_directories(block);
    const FolderWork work = HeldWork(block);
    Result<std::shared_ptr<OverviewBuild>> started = OverviewBuild::Start(block, "", work, 1);
    ASSERT_TRUE(started);
    std::shared_ptr<OverviewBuild> build = std::move(*started);
    for (int i = 0; i < 3; ++i)
        build->tileChecked(static_cast<std::size_t>(i), ListedAt(ExtentOf(i)), SummaryState::Made,
                           std::make_shared<const TileSummary>(SummaryOf(i)));
    ASSERT_TRUE(fs::exists(build->folder() / std::string(kHeldSummariesName)));
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
    const FolderWork work = HeldWork(block);
    OverviewFolderCalls calls = SystemOverviewFolderCalls();
    calls.flushFolder = RecordFlush;
    flushes.clear();
    Result<std::shared_ptr<OverviewBuild>> started =
        OverviewBuild::Start(block, "", work, 1, SystemAppendFileCalls(), calls);
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
    Result<std::shared_ptr<OverviewBuild>> failing =
        OverviewBuild::Start(failBlock, "", HeldWork(failBlock), 1, SystemAppendFileCalls(), calls);
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
