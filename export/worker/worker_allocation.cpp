#include "export/worker/worker_allocation.h"
#include "export/worker/tile_check_worker.h"

#include <new>

// The worker program's allocation functions, over its heap (worker_allocation.h). A request the
// heap cannot meet is noted before the new-handler answers for it, so that the run learns how
// much the tile asked for at once; then the new-handler is called, as the standard's own
// allocation function does. The delete functions are given too, so that every block goes back
// the way it came.

void* operator new(std::size_t size) {
    for (;;) {
        if (void* block = brindle::AllocateWorkerBlock(size))
            return block;
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
    brindle::FreeWorkerBlock(block);
}

void operator delete[](void* block) noexcept {
    brindle::FreeWorkerBlock(block);
}

void operator delete(void* block, std::size_t) noexcept {
    brindle::FreeWorkerBlock(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    brindle::FreeWorkerBlock(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    brindle::FreeWorkerBlock(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    brindle::FreeWorkerBlock(block);
}
