#include "export/system/large_pages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace brindle {
namespace {

TEST(LargePages, TheHeapStillServesAndFreesAfterTheAdvice) {
    // Twice: the second call finds the heap grown already. Allocations across the advised
    // stretch, written and read back whole.
    AdviseLargePagesForHeap(std::size_t{8} << 20);
    AdviseLargePagesForHeap(std::size_t{8} << 20);
    std::vector<std::vector<char>> blocks;
    for (int i = 0; i < 64; ++i)
        blocks.emplace_back(std::size_t{256} << 10, static_cast<char>(i));
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(blocks[static_cast<std::size_t>(i)].back(), static_cast<char>(i));
}

} // namespace
} // namespace brindle
