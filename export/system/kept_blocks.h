#pragma once

#include <array>
#include <cstddef>

namespace brindle {

// Large blocks a process freed, kept to serve its next allocations of about their size.
//
// Reading a tile allocates and frees buffers of several megabytes. Where the C library cannot
// be told to keep such blocks in its heap (Windows' heap hands every block above about 512 KB
// back to the system when it is freed), each tile would pay page faults for all of its memory
// again. The worker's allocation functions put freed large blocks here instead, up to a bound,
// and take them back for the next request a block fits.
//
// It allocates nothing itself, so that allocation functions can use it; it does not lock.
class KeptBlocks {
public:
    // Blocks smaller than this are the heap's own business.
    static constexpr std::size_t kSmallestKept = std::size_t{256} << 10;
    // No more than this is kept at once, so a worker holds little more than its last tile.
    static constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;
    static constexpr std::size_t kMostKeptBlocks = 64;

    struct Block {
        void* start = nullptr;
        std::size_t capacity = 0;
    };

    // The size of block to allocate for `size` bytes: large requests are rounded up, so that a
    // block serves later requests a little larger than its first.
    static std::size_t CapacityFor(std::size_t size);

    // A kept block of at least `size` bytes and at most about twice that, the smallest there
    // is; an empty block when none fits.
    Block take(std::size_t size);
    // Keeps `block` for later; false when it is too small to keep or there is no room, in which
    // case the caller frees it.
    bool keep(Block block);
    // Hands back a kept block for the caller to free (to make room when memory runs out); an
    // empty block when none is kept.
    Block release();

    std::size_t keptBytes() const { return bytes_; }

private:
    std::array<Block, kMostKeptBlocks> blocks_{};
    std::size_t count_ = 0;
    std::size_t bytes_ = 0;
};

} // namespace brindle
