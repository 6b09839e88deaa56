#include "export/isolation/tile_check_queue.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace brindle {
namespace {

using Place = std::pair<std::size_t, std::size_t>; // folder, tile

std::vector<Place> TakeAll(TileCheckQueue& queue) {
    std::vector<Place> taken;
    while (const auto job = queue.take())
        taken.emplace_back(job->folder, job->tile);
    return taken;
}

std::vector<Place> ReadAheadAll(TileCheckQueue& queue) {
    std::vector<Place> read;
    while (const auto job = queue.takeAhead())
        read.emplace_back(job->folder, job->tile);
    return read;
}

void ExpectInOrder(const TileCheckQueue& queue) {
    EXPECT_LE(queue.next(), queue.ahead());
    EXPECT_LE(queue.ahead(), queue.size());
}

TEST(TileCheckQueue, HandsOutJobsInListOrderAndEndsOnceClosed) {
    TileCheckQueue queue(8);
    EXPECT_FALSE(queue.canTake()) << "a worker waits while the queue is open and empty";
    ASSERT_TRUE(queue.add(0, 2));
    ASSERT_TRUE(queue.add(1, 0));
    ASSERT_TRUE(queue.add(2, 1));
    EXPECT_TRUE(queue.canTake());
    EXPECT_EQ(TakeAll(queue), (std::vector<Place>{{0, 0}, {0, 1}, {2, 0}}));
    EXPECT_FALSE(queue.canTake());
    queue.close();
    EXPECT_TRUE(queue.canTake());
    EXPECT_FALSE(queue.take());
    EXPECT_FALSE(queue.add(3, 1)) << "nothing is queued once closed";
    EXPECT_FALSE(queue.take());
}

TEST(TileCheckQueue, ClosedWhileEmptyEndsBothWorkersAndReadAhead) {
    TileCheckQueue queue(8);
    queue.startReadingAhead();
    queue.close();
    EXPECT_TRUE(queue.canTake());
    EXPECT_FALSE(queue.take());
    EXPECT_FALSE(queue.canReadAhead());
    EXPECT_FALSE(queue.takeAhead());
    EXPECT_TRUE(queue.doneReadingAhead());
    ExpectInOrder(queue);
}

// A single big tile: the worker has taken it before its size turns reading ahead on.
TEST(TileCheckQueue, OneJobTakenBeforeReadingAheadStartsLeavesNothingToRead) {
    TileCheckQueue queue(8);
    ASSERT_TRUE(queue.add(0, 1));
    ASSERT_TRUE(queue.take());
    queue.startReadingAhead();
    EXPECT_FALSE(queue.canReadAhead());
    EXPECT_FALSE(queue.takeAhead());
    ExpectInOrder(queue);
    queue.close();
    EXPECT_TRUE(queue.doneReadingAhead());
}

// The big tile comes last: every job is with a worker by the time it is seen.
TEST(TileCheckQueue, BigJobLastLeavesNothingToRead) {
    TileCheckQueue queue(8);
    ASSERT_TRUE(queue.add(0, 5));
    queue.close();
    EXPECT_EQ(TakeAll(queue).size(), 5u);
    queue.startReadingAhead();
    EXPECT_FALSE(queue.takeAhead());
    EXPECT_EQ(queue.ahead(), queue.size());
    EXPECT_TRUE(queue.doneReadingAhead());
}

// As many jobs as workers, or fewer: they are all taken at once.
TEST(TileCheckQueue, NoMoreJobsThanWorkersLeavesNothingToRead) {
    TileCheckQueue queue(8 * 4);
    ASSERT_TRUE(queue.add(0, 3));
    queue.startReadingAhead();
    for (int worker = 0; worker < 3; ++worker)
        ASSERT_TRUE(queue.take());
    EXPECT_FALSE(queue.canReadAhead());
    EXPECT_FALSE(queue.takeAhead());
    ExpectInOrder(queue);
}

TEST(TileCheckQueue, ReadsAheadOnlyJobsNoWorkerHasTakenWithinTheWindow) {
    TileCheckQueue queue(3);
    ASSERT_TRUE(queue.add(0, 10));
    EXPECT_FALSE(queue.takeAhead()) << "off until a tile worth it is seen";
    queue.startReadingAhead();
    ASSERT_TRUE(queue.take());
    ASSERT_TRUE(queue.take());
    EXPECT_EQ(ReadAheadAll(queue), (std::vector<Place>{{0, 2}, {0, 3}, {0, 4}}));
    // Workers overtake the read-ahead: it carries on past them, never behind.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(queue.take());
    ExpectInOrder(queue);
    EXPECT_EQ(ReadAheadAll(queue), (std::vector<Place>{{0, 6}, {0, 7}, {0, 8}}));
}

// Read-ahead caught up with every job queued, then the scan queued another folder.
TEST(TileCheckQueue, AFolderQueuedAfterReadAheadCaughtUpIsReadAhead) {
    TileCheckQueue queue(8);
    ASSERT_TRUE(queue.add(0, 2));
    queue.startReadingAhead();
    EXPECT_EQ(ReadAheadAll(queue).size(), 2u);
    EXPECT_FALSE(queue.canReadAhead());
    EXPECT_FALSE(queue.doneReadingAhead()) << "the queue is still open";
    ASSERT_TRUE(queue.take());
    ASSERT_TRUE(queue.take());
    ASSERT_TRUE(queue.add(1, 2));
    EXPECT_EQ(ReadAheadAll(queue), (std::vector<Place>{{1, 0}, {1, 1}}));
    queue.close();
    EXPECT_TRUE(queue.doneReadingAhead());
    EXPECT_EQ(TakeAll(queue), (std::vector<Place>{{1, 0}, {1, 1}}));
    ExpectInOrder(queue);
}

// Batches: a worker takes several consecutive jobs at once, fewer as the queue runs low.
TEST(TileCheckQueue, ABatchTakesConsecutiveJobsAcrossFolders) {
    TileCheckQueue queue(8);
    ASSERT_TRUE(queue.add(0, 3));
    ASSERT_TRUE(queue.add(1, 2));
    const auto batch = queue.take(4);
    ASSERT_EQ(batch.size(), 4u);
    EXPECT_EQ(Place(batch[2].folder, batch[2].tile), Place(0, 2));
    EXPECT_EQ(Place(batch[3].folder, batch[3].tile), Place(1, 0));
    EXPECT_EQ(queue.waiting(), 1u);
    EXPECT_EQ(queue.take(4).size(), 1u) << "the last job, however many are asked for";
    EXPECT_TRUE(queue.take(4).empty());
    ExpectInOrder(queue);
}

TEST(BatchTake, ShrinksNearTheQueuesEndSoNoWorkerIdles) {
    EXPECT_EQ(BatchTake(10000, 2, 32), 32u);
    // 100 jobs left for 2 workers: 25 each would leave one waiting for the other's last.
    EXPECT_EQ(BatchTake(100, 2, 32), 25u);
    EXPECT_EQ(BatchTake(9, 2, 32), 2u);
    // As many jobs as workers, or fewer, or one: one at a time.
    EXPECT_EQ(BatchTake(4, 4, 32), 1u);
    EXPECT_EQ(BatchTake(3, 4, 32), 1u);
    EXPECT_EQ(BatchTake(1, 1, 32), 1u);
    EXPECT_EQ(BatchTake(0, 2, 32), 1u);
    EXPECT_EQ(BatchTake(1000, 2, 1), 1u) << "a worker that takes one at a time";
}

std::vector<std::size_t> Runs(const std::vector<BatchItem>& items, const BatchLimits& limits) {
    std::vector<std::size_t> runs;
    for (std::size_t first = 0; first < items.size();) {
        const std::size_t count = BatchRun(items, first, limits);
        if (count == 0)
            break;
        runs.push_back(count);
        first += count;
    }
    return runs;
}

TEST(BatchRun, SmallTilesShareASendWithinTheCountAndTheBytes) {
    BatchLimits limits;
    limits.mostTiles = 4;
    limits.mostBytes = 10000;
    limits.smallTile = 5000;
    limits.mostRequestBytes = 1000;
    const BatchItem small{2000, 100};
    EXPECT_EQ(Runs(std::vector<BatchItem>(10, small), limits), (std::vector<std::size_t>{4, 4, 2}));
    // The bytes run out before the count: five tiles of 2,000 bytes fill 10,000.
    limits.mostTiles = 8;
    EXPECT_EQ(Runs(std::vector<BatchItem>(12, small), limits), (std::vector<std::size_t>{5, 5, 2}));
    // So do the requests' bytes: long paths.
    EXPECT_EQ(Runs(std::vector<BatchItem>(7, BatchItem{100, 400}), limits),
              (std::vector<std::size_t>{2, 2, 2, 1}));
    // A tile that alone passes a limit still goes, by itself.
    EXPECT_EQ(Runs({BatchItem{100, 5000}, small}, limits), (std::vector<std::size_t>{1, 1}));
    EXPECT_EQ(Runs({small}, limits), (std::vector<std::size_t>{1}));
    EXPECT_EQ(BatchRun({small}, 1, limits), 0u);
}

TEST(BatchRun, ALargeTileGoesAloneAndEndsTheRunBeforeIt) {
    BatchLimits limits;
    limits.smallTile = 5000;
    const BatchItem small{2000, 100};
    const BatchItem large{5000, 100};
    EXPECT_EQ(Runs({small, small, small, large}, limits), (std::vector<std::size_t>{3, 1}));
    EXPECT_EQ(Runs({large, small, small}, limits), (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(Runs({small, large, large, small}, limits), (std::vector<std::size_t>{1, 1, 1, 1}));
}

} // namespace
} // namespace brindle
