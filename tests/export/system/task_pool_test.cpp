#include "export/system/task_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace brindle {
namespace {

// Without threads of its own, a task has run on the caller's thread by the time submit()
// returns, in the order they came.
TEST(TaskPool, WithOneThreadOrNoneEachTaskRunsOnTheCallerBeforeSubmitReturns) {
    for (const unsigned threads : {0u, 1u}) {
        TaskPool pool(threads);
        std::vector<int> ran;
        const std::thread::id caller = std::this_thread::get_id();
        for (int i = 0; i < 5; ++i) {
            pool.submit([&ran, caller, i] {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                ran.push_back(i);
            });
            ASSERT_EQ(ran.size(), static_cast<std::size_t>(i + 1)) << threads;
        }
        EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4})) << threads;
    }
}

// With threads, every task runs once, off the caller's thread, never more at once than there
// are threads, and waitIdle() returns only once all have.
TEST(TaskPool, WithThreadsEveryTaskRunsOnceOffTheCallerAndNoMoreAtOnceThanThreads) {
    constexpr unsigned kThreads = 3;
    constexpr int kTasks = 60;
    TaskPool pool(kThreads);
    std::mutex mutex;
    std::multiset<int> ran;
    std::set<std::thread::id> on;
    std::atomic<int> running{0}, most{0};
    const std::thread::id caller = std::this_thread::get_id();
    for (int i = 0; i < kTasks; ++i)
        pool.submit([&, i] {
            const int now = running.fetch_add(1) + 1;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            {
                const std::lock_guard<std::mutex> lock(mutex);
                ran.insert(i);
                on.insert(std::this_thread::get_id());
            }
            running.fetch_sub(1);
        });
    pool.waitIdle();
    const std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(ran.size(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i)
        EXPECT_EQ(ran.count(i), 1u) << i;
    EXPECT_EQ(on.count(caller), 0u);
    EXPECT_LE(on.size(), kThreads);
    EXPECT_LE(most.load(), static_cast<int>(kThreads));
    EXPECT_GE(most.load(), 1);
}

} // namespace
} // namespace brindle
