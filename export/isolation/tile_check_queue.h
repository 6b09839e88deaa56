#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brindle {

// The tiles queued for checking, in list order, with two places in that order: the next job
// to hand to a worker, and the next job whose tile is to be read ahead of its check. Reading
// ahead is only worth it for jobs no worker has taken yet, so `next <= ahead <= size` always
// holds: settle() moves `ahead` up to `next` after every step and keeps the order.
// It has no lock of its own; the pool guards it with its own.
class TileCheckQueue {
public:
    struct Job {
        std::size_t folder; // the folder's handle in the pool
        std::size_t tile;   // the tile's place among the folder's tiles
    };

    // Reads ahead at most `window` jobs past the next one to hand out.
    explicit TileCheckQueue(std::size_t window) : window_(window) {}

    // Queues the folder's tiles; false, and nothing queued, once the queue is closed.
    [[nodiscard]] bool add(std::size_t folder, std::size_t tiles);

    // No job comes after those queued: once they are handed out, workers are told so.
    void close() { closed_ = true; }
    bool closed() const { return closed_; }

    // True when take() has an answer now: a job, or, once closed, the end of the queue.
    bool canTake() const { return next_ < jobs_.size() || closed_; }
    // The next job for a worker; nothing when none is queued.
    std::optional<Job> take();
    // Up to `most` consecutive jobs for one worker; none when none is queued.
    std::vector<Job> take(std::size_t most);
    // Jobs queued that no worker has taken yet.
    std::size_t waiting() const { return jobs_.size() - next_; }

    // From now on tiles are read ahead (a tile worth it was seen).
    void startReadingAhead() { readingAhead_ = true; }
    bool readingAhead() const { return readingAhead_; }
    // True when takeAhead() has a job: reading ahead, and a job no worker has taken lies
    // within the window.
    bool canReadAhead() const;
    std::optional<Job> takeAhead();
    // True when no job is left to read ahead and none will be queued.
    bool doneReadingAhead() const { return closed_ && ahead_ == jobs_.size(); }

    std::size_t size() const { return jobs_.size(); }
    std::size_t next() const { return next_; }
    std::size_t ahead() const { return ahead_; }

private:
    void settle();

    std::vector<Job> jobs_;
    std::size_t next_ = 0;
    std::size_t ahead_ = 0;
    std::size_t window_;
    bool closed_ = false;
    bool readingAhead_ = false;
};

// How small tiles are handed to a worker several at once, so that a batch costs one wake-up
// of each side instead of one a tile.
struct BatchLimits {
    std::size_t mostTiles = 32;
    std::uint64_t mostBytes = std::uint64_t{1} << 20; // the tiles' files, in all
    // Only tiles below this size share a send; a larger one takes long enough to parse that
    // its exchange costs nothing worth saving.
    std::uint64_t smallTile = std::uint64_t{64} * 1024;
    // The requests of one send, in all: the channel holds them at once, so the run never
    // waits to send while the worker waits to send its replies.
    std::size_t mostRequestBytes = 16 * 1024;
};

// How many consecutive jobs a worker takes at once, with `waiting` jobs queued and `workers`
// sharing them: up to `most`, and near the queue's end at most waiting / (2 * workers), so no
// worker idles while another holds many; at least one.
std::size_t BatchTake(std::size_t waiting, std::size_t workers, std::size_t most);

// One check of a batch in hand: its file's size and its request's.
struct BatchItem {
    std::uint64_t fileSize = 0;
    std::size_t requestBytes = 0;
};

// How many of `items`, from `first` on, go to the worker in one send: a run of small tiles
// within the limits, or a large tile alone. At least one while `first` is within `items`.
std::size_t BatchRun(const std::vector<BatchItem>& items, std::size_t first,
                     const BatchLimits& limits);

} // namespace brindle
