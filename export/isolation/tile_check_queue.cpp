#include "export/isolation/tile_check_queue.h"

#include <algorithm>

namespace brindle {

bool TileCheckQueue::add(std::size_t folder, std::size_t tiles) {
    if (closed_)
        return false;
    for (std::size_t t = 0; t < tiles; ++t)
        jobs_.push_back({folder, t});
    settle();
    return true;
}

std::optional<TileCheckQueue::Job> TileCheckQueue::take() {
    if (next_ == jobs_.size())
        return std::nullopt;
    const Job job = jobs_[next_++];
    settle();
    return job;
}

std::vector<TileCheckQueue::Job> TileCheckQueue::take(std::size_t most) {
    const std::size_t count = std::min(most, jobs_.size() - next_);
    std::vector<Job> taken(jobs_.begin() + static_cast<std::ptrdiff_t>(next_),
                           jobs_.begin() + static_cast<std::ptrdiff_t>(next_ + count));
    next_ += count;
    settle();
    return taken;
}

bool TileCheckQueue::canReadAhead() const {
    return readingAhead_ && ahead_ < jobs_.size() && ahead_ - next_ < window_;
}

std::optional<TileCheckQueue::Job> TileCheckQueue::takeAhead() {
    if (!canReadAhead())
        return std::nullopt;
    const Job job = jobs_[ahead_++];
    settle();
    return job;
}

void TileCheckQueue::settle() {
    // The workers may have taken every job the read-ahead had yet to reach. Kept in order
    // here rather than checked and thrown over: this runs on the pool's threads, where nothing
    // may be thrown.
    next_ = std::min(next_, jobs_.size());
    ahead_ = std::clamp(ahead_, next_, jobs_.size());
}

std::size_t BatchTake(std::size_t waiting, std::size_t workers, std::size_t most) {
    return std::max<std::size_t>(1,
                                 std::min(most, waiting / (2 * std::max<std::size_t>(1, workers))));
}

std::size_t BatchRun(const std::vector<BatchItem>& items, std::size_t first,
                     const BatchLimits& limits) {
    if (first >= items.size())
        return 0;
    std::size_t count = 0;
    std::uint64_t bytes = 0;
    std::size_t requestBytes = 0;
    for (std::size_t i = first; i < items.size() && count < limits.mostTiles; ++i) {
        const BatchItem& item = items[i];
        if (item.fileSize >= limits.smallTile)
            return count == 0 ? 1 : count;
        if (count > 0 && (bytes + item.fileSize > limits.mostBytes ||
                          requestBytes + item.requestBytes > limits.mostRequestBytes))
            break;
        bytes += item.fileSize;
        requestBytes += item.requestBytes;
        ++count;
    }
    return count;
}

} // namespace brindle
