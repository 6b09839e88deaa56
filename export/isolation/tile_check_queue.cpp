#include "export/isolation/tile_check_queue.h"

#include <stdexcept>

namespace brindle {

void TileCheckQueue::add(std::size_t folder, std::size_t tiles) {
    if (closed_)
        throw std::logic_error("tile-check queue: a folder added after the queue was closed");
    for (std::size_t t = 0; t < tiles; ++t)
        jobs_.push_back({folder, t});
    settle();
}

std::optional<TileCheckQueue::Job> TileCheckQueue::take() {
    if (next_ == jobs_.size())
        return std::nullopt;
    const Job job = jobs_[next_++];
    settle();
    return job;
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
    // The workers may have taken every job the read-ahead had yet to reach.
    if (ahead_ < next_)
        ahead_ = next_;
    if (next_ > ahead_ || ahead_ > jobs_.size())
        throw std::logic_error("tile-check queue: its places are out of order");
}

} // namespace brindle
