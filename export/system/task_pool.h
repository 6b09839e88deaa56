#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace brindle {

// Runs tasks on a few threads of its own, in the order they come. A task must not throw: a
// failure is the task's to record where its caller looks for it, never an exception on a
// thread nobody waits on.
//
// With fewer than two threads there are none: each task runs on the thread that submits it,
// and the work is the same whatever the count.
class TaskPool {
public:
    // `threads` run the tasks; at most twice as many wait, and submit() waits for room, so
    // that what the tasks hold stays few however fast they come.
    explicit TaskPool(unsigned threads);
    // Tasks still waiting are dropped; those running are waited for.
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    void submit(std::function<void()> task);
    // Returns once every task submitted so far has run.
    void waitIdle();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_, room_, idle_;
    std::deque<std::function<void()>> waiting_;
    std::size_t running_ = 0;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

} // namespace brindle
