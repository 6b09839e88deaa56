// The progress the run's callback is told: the pools' counts, with the tileset stage of the
// folder in hand beside them, throttled but for each stage's first and last.
#include "export/run/progress_relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace brindle {
namespace {

ExportProgress Validated(std::size_t done) {
    ExportProgress progress;
    progress.folderCount = 2;
    progress.subfolderCount = 10;
    progress.subfoldersDone = done;
    progress.folder = "/data/a";
    return progress;
}

TilesetProgress Converted(std::uint64_t files, bool ended = false) {
    TilesetProgress stage;
    stage.converted = files;
    stage.tileCount = 4;
    stage.folder = "/data/a";
    stage.ended = ended;
    return stage;
}

TEST(ProgressRelay, TellsTheStageWithThePoolsAndThrottlesAllButItsFirstAndLast) {
    std::vector<ExportProgress> told;
    const ProgressRelay relay([&](const ExportProgress& p) { told.push_back(p); },
                              std::chrono::hours(1));
    const auto listed = relay.forListed();
    const auto blocks = relay.forBlocks();
    const auto stage = relay.forTilesets();
    listed(Validated(10));
    stage(Converted(0));
    stage(Converted(5)); // within the interval: kept for the pools' next
    stage(Converted(9));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_FALSE(told[0].tileset);
    ASSERT_TRUE(told[1].tileset);
    EXPECT_EQ(told[1].tileset->converted, 0u);
    EXPECT_EQ(told[1].subfoldersDone, 10u) << "with the pool's last";

    // The next folder's tiles validated meanwhile come with the stage's latest.
    listed(Validated(11));
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[2].subfoldersDone, 11u);
    ASSERT_TRUE(told[2].tileset);
    EXPECT_EQ(told[2].tileset->converted, 9u);

    stage(Converted(12, true));
    ASSERT_EQ(told.size(), 4u);
    ASSERT_TRUE(told[3].tileset);
    EXPECT_EQ(told[3].tileset->converted, 12u) << "the last is always told";
    EXPECT_TRUE(told[3].tileset->ended);
    EXPECT_EQ(told[3].subfoldersDone, 11u);

    // Over: the pools are told alone again, blocks' counts added as before.
    blocks(Validated(3));
    ASSERT_EQ(told.size(), 5u);
    EXPECT_FALSE(told[4].tileset);
    EXPECT_EQ(told[4].subfoldersDone, 14u);
    // And the next stage's first is told at once, and a block's first within it.
    stage(Converted(1));
    ASSERT_EQ(told.size(), 6u);
    EXPECT_EQ(told[5].tileset->converted, 1u);
    TilesetProgress nextBlock = Converted(2);
    nextBlock.folder = "/data/a/south";
    stage(nextBlock);
    stage(Converted(3)); // back in /data/a: a block's first as well
    nextBlock.converted = 4;
    stage(nextBlock);
    stage(nextBlock); // the same block again, within the interval
    ASSERT_EQ(told.size(), 9u);
    EXPECT_EQ(told[6].tileset->folder, "/data/a/south");
    EXPECT_EQ(told[8].tileset->converted, 4u);
}

TEST(ProgressRelay, TellsEveryStepOfTheStageOnceTheIntervalHasPassed) {
    std::vector<std::uint64_t> told;
    const ProgressRelay relay(
        [&](const ExportProgress& p) { told.push_back(p.tileset ? p.tileset->converted : 99); },
        std::chrono::steady_clock::duration::zero());
    const auto stage = relay.forTilesets();
    for (std::uint64_t files = 0; files < 5; ++files)
        stage(Converted(files, files == 4));
    EXPECT_EQ(told, (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
    // Without a callback there is nothing to call.
    EXPECT_FALSE(ProgressRelay({}).forTilesets());
}

} // namespace
} // namespace brindle
