#include "export/worker/worker_allocation.h"

#include <cstdlib>

// Elsewhere than Windows the worker's heap is the C library's own, told to keep the large
// blocks it frees (heap_reuse.h).

namespace brindle {

void* AllocateWorkerBlock(std::size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void FreeWorkerBlock(void* block) noexcept {
    std::free(block);
}

} // namespace brindle
