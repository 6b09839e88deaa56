#include "export/system/kept_blocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace brindle {
namespace {

constexpr std::size_t kMB = std::size_t{1} << 20;

// Blocks are only kept and handed back, never touched: distinct addresses are enough.
KeptBlocks::Block Fake(std::uintptr_t id, std::size_t capacity) {
    return {reinterpret_cast<void*>(id * 4096), capacity};
}

TEST(KeptBlocks, HandsBackTheSmallestBlockThatFitsAndNoneTwiceTheSize) {
    KeptBlocks kept;
    ASSERT_TRUE(kept.keep(Fake(1, 4 * kMB)));
    ASSERT_TRUE(kept.keep(Fake(2, 2 * kMB)));
    ASSERT_TRUE(kept.keep(Fake(3, 3 * kMB)));
    EXPECT_EQ(kept.keptBytes(), 9 * kMB);

    EXPECT_EQ(kept.take(5 * kMB).start, nullptr) << "no block is large enough";
    EXPECT_EQ(kept.take(kMB - 1).start, nullptr) << "a 2 MB block is too wasteful for 1 MB";
    const KeptBlocks::Block fits = kept.take(2 * kMB + 1);
    EXPECT_EQ(fits.start, Fake(3, 0).start);
    EXPECT_EQ(fits.capacity, 3 * kMB);
    EXPECT_EQ(kept.take(kMB).start, Fake(2, 0).start);
    EXPECT_EQ(kept.take(3 * kMB).start, Fake(1, 0).start);
    EXPECT_EQ(kept.take(3 * kMB).start, nullptr) << "each block is handed out once";
    EXPECT_EQ(kept.keptBytes(), 0u);
}

TEST(KeptBlocks, KeepsOnlyLargeBlocksAndNoMoreThanItsBounds) {
    KeptBlocks kept;
    EXPECT_FALSE(kept.keep(Fake(1, KeptBlocks::kSmallestKept - 1)));
    EXPECT_FALSE(kept.keep(Fake(0, 4 * kMB))) << "a null block";
    EXPECT_FALSE(kept.keep(Fake(2, KeptBlocks::kMostKeptBytes + 1)));

    // By bytes: the bound is reached exactly, and one more byte does not fit.
    ASSERT_TRUE(kept.keep(Fake(3, KeptBlocks::kMostKeptBytes - kMB)));
    EXPECT_FALSE(kept.keep(Fake(4, kMB + 1)));
    EXPECT_TRUE(kept.keep(Fake(5, kMB)));
    EXPECT_EQ(kept.keptBytes(), KeptBlocks::kMostKeptBytes);
    while (kept.release().start) {
    }
    EXPECT_EQ(kept.keptBytes(), 0u);

    // By count.
    std::size_t count = 0;
    while (kept.keep(Fake(10 + count, KeptBlocks::kSmallestKept)))
        ++count;
    EXPECT_EQ(count, KeptBlocks::kMostKeptBlocks);
}

TEST(KeptBlocks, ReleaseHandsBackEveryBlockOnce) {
    KeptBlocks kept;
    ASSERT_TRUE(kept.keep(Fake(1, kMB)));
    ASSERT_TRUE(kept.keep(Fake(2, 2 * kMB)));
    std::vector<void*> released;
    for (KeptBlocks::Block block = kept.release(); block.start; block = kept.release())
        released.push_back(block.start);
    EXPECT_EQ(released, (std::vector<void*>{Fake(2, 0).start, Fake(1, 0).start}));
    EXPECT_EQ(kept.take(kMB).start, nullptr);
}

TEST(KeptBlocks, RoundsLargeRequestsUpToWholeGranulesOnly) {
    EXPECT_EQ(KeptBlocks::CapacityFor(100), 100u);
    EXPECT_EQ(KeptBlocks::CapacityFor(KeptBlocks::kSmallestKept - 1),
              KeptBlocks::kSmallestKept - 1);
    EXPECT_EQ(KeptBlocks::CapacityFor(KeptBlocks::kSmallestKept), KeptBlocks::kSmallestKept);
    EXPECT_EQ(KeptBlocks::CapacityFor(kMB + 1), kMB + (std::size_t{64} << 10));
    const std::size_t huge = ~std::size_t{0} - 10;
    EXPECT_EQ(KeptBlocks::CapacityFor(huge), huge) << "no overflow past the largest size";
}

} // namespace
} // namespace brindle
