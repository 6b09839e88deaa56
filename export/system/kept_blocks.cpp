#include "export/system/kept_blocks.h"

namespace brindle {
namespace {
constexpr std::size_t kGranule = std::size_t{64} << 10;
} // namespace

std::size_t KeptBlocks::CapacityFor(std::size_t size) {
    if (size < kSmallestKept || size > ~std::size_t{0} - kGranule)
        return size;
    return (size + kGranule - 1) / kGranule * kGranule;
}

KeptBlocks::Block KeptBlocks::take(std::size_t size) {
    std::size_t best = count_;
    for (std::size_t i = 0; i < count_; ++i) {
        const std::size_t capacity = blocks_[i].capacity;
        if (capacity >= size && capacity / 2 <= size &&
            (best == count_ || capacity < blocks_[best].capacity))
            best = i;
    }
    if (best == count_)
        return {};
    const Block block = blocks_[best];
    blocks_[best] = blocks_[--count_];
    bytes_ -= block.capacity;
    return block;
}

bool KeptBlocks::keep(Block block) {
    if (!block.start || block.capacity < kSmallestKept || count_ == kMostKeptBlocks ||
        block.capacity > kMostKeptBytes - bytes_)
        return false;
    blocks_[count_++] = block;
    bytes_ += block.capacity;
    return true;
}

KeptBlocks::Block KeptBlocks::release() {
    if (count_ == 0)
        return {};
    const Block block = blocks_[--count_];
    bytes_ -= block.capacity;
    return block;
}

} // namespace brindle
