#include "export/system/kept_blocks.h"
#include "export/worker/worker_allocation.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>

// The worker's heap on Windows (worker_allocation.h). glibc's heap is told to keep the
// large blocks it frees (heap_reuse.h); Windows' heap cannot be, so these keep them instead:
// without them every tile pays the page faults of its buffers again. Each block starts with
// a header giving its capacity, so that a freed block can be told large or small.
//
// The kept blocks and their lock are process-wide, as the allocation functions are. Both are
// all zeros to begin with, so they are ready before any constructor runs.

namespace {

struct alignas(16) Header {
    std::size_t capacity;
};

SRWLOCK g_keptLock = SRWLOCK_INIT;
brindle::KeptBlocks g_kept;

void* Allocate(std::size_t size) {
    const std::size_t capacity = brindle::KeptBlocks::CapacityFor(size);
    if (capacity >= brindle::KeptBlocks::kSmallestKept) {
        AcquireSRWLockExclusive(&g_keptLock);
        const brindle::KeptBlocks::Block kept = g_kept.take(size);
        ReleaseSRWLockExclusive(&g_keptLock);
        if (kept.start)
            return kept.start;
    }
    if (capacity > ~std::size_t{0} - sizeof(Header))
        return nullptr;
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + capacity));
    if (!header)
        return nullptr;
    header->capacity = capacity;
    return header + 1;
}

void Free(void* block) {
    if (!block)
        return;
    Header* header = static_cast<Header*>(block) - 1;
    if (header->capacity >= brindle::KeptBlocks::kSmallestKept) {
        AcquireSRWLockExclusive(&g_keptLock);
        const bool kept = g_kept.keep({block, header->capacity});
        ReleaseSRWLockExclusive(&g_keptLock);
        if (kept)
            return;
    }
    std::free(header);
}

// Gives one kept block back to the system; false when none is kept.
bool FreeOneKept() {
    AcquireSRWLockExclusive(&g_keptLock);
    const brindle::KeptBlocks::Block kept = g_kept.release();
    ReleaseSRWLockExclusive(&g_keptLock);
    if (!kept.start)
        return false;
    std::free(static_cast<Header*>(kept.start) - 1);
    return true;
}

} // namespace

namespace brindle {

// When memory runs out, the kept blocks go first.
void* AllocateWorkerBlock(std::size_t size) noexcept {
    for (;;) {
        if (void* block = Allocate(size == 0 ? 1 : size))
            return block;
        if (!FreeOneKept())
            return nullptr;
    }
}

void FreeWorkerBlock(void* block) noexcept {
    Free(block);
}

} // namespace brindle
