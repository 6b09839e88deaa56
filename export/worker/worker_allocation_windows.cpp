#include "export/system/kept_blocks.h"
#include "export/worker/tile_check_worker.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <new>

// The worker program's allocation functions on Windows. glibc's heap is told to keep the
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

// When memory runs out, the kept blocks go first; then the new-handler is called, as the
// standard's own allocation function does.
void* operator new(std::size_t size) {
    for (;;) {
        if (void* block = Allocate(size))
            return block;
        if (FreeOneKept())
            continue;
        brindle::NoteFailedAllocation(size);
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* block) noexcept {
    Free(block);
}

void operator delete[](void* block) noexcept {
    Free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    Free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    Free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    Free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    Free(block);
}
