#include "export/system/large_pages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace brindle {
namespace {

std::vector<std::string> With(std::vector<const char*> entries) {
    entries.push_back(nullptr);
    return EnvironmentWithLargePageHeap(entries.data());
}

#if defined(__GLIBC__) && defined(__linux__)
TEST(LargePages, WorkersAskTheCLibraryForThemAndKeepTheUsersTunables) {
    EXPECT_EQ(With({"HOME=/home/a", "LANG=zh_CN.UTF-8"}),
              (std::vector<std::string>{"HOME=/home/a", "LANG=zh_CN.UTF-8",
                                        "GLIBC_TUNABLES=glibc.malloc.hugetlb=1"}));
    EXPECT_EQ(With({"GLIBC_TUNABLES=glibc.malloc.arena_max=2", "PATH=/bin"}),
              (std::vector<std::string>{
                  "GLIBC_TUNABLES=glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1", "PATH=/bin"}));
    EXPECT_EQ(With({"GLIBC_TUNABLES="}),
              (std::vector<std::string>{"GLIBC_TUNABLES=glibc.malloc.hugetlb=1"}));
    // The user turned them off, or asked for reserved pages: that stands.
    EXPECT_EQ(With({"GLIBC_TUNABLES=glibc.malloc.hugetlb=0"}),
              (std::vector<std::string>{"GLIBC_TUNABLES=glibc.malloc.hugetlb=0"}));
    // A name that only begins alike is another variable.
    EXPECT_EQ(With({"GLIBC_TUNABLES_OLD=x"}),
              (std::vector<std::string>{"GLIBC_TUNABLES_OLD=x",
                                        "GLIBC_TUNABLES=glibc.malloc.hugetlb=1"}));
}
#else
TEST(LargePages, ElsewhereTheEnvironmentIsPassedOnAsItIs) {
    EXPECT_EQ(With({"HOME=/home/a", "GLIBC_TUNABLES=x"}),
              (std::vector<std::string>{"HOME=/home/a", "GLIBC_TUNABLES=x"}));
}
#endif

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
