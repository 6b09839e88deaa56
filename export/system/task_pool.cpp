#include "export/system/task_pool.h"

#include <utility>

namespace brindle {

TaskPool::TaskPool(unsigned threads) {
    for (unsigned i = 0; threads > 1 && i < threads; ++i)
        threads_.emplace_back([this] { run(); });
}

TaskPool::~TaskPool() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        waiting_.clear();
    }
    wake_.notify_all();
    room_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void TaskPool::submit(std::function<void()> task) {
    if (threads_.empty()) {
        task();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return closing_ || waiting_.size() < 2 * threads_.size(); });
    if (closing_)
        return;
    waiting_.push_back(std::move(task));
    wake_.notify_one();
}

void TaskPool::waitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return waiting_.empty() && running_ == 0; });
}

void TaskPool::run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
            if (waiting_.empty())
                return;
            task = std::move(waiting_.front());
            waiting_.pop_front();
            ++running_;
        }
        room_.notify_one();
        task();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            --running_;
        }
        idle_.notify_all();
    }
}

} // namespace brindle
