#include "export/worker/tile_check_worker.h"

#include <cstdlib>
#include <new>

// The worker program's allocation functions elsewhere than Windows: the heap's own, as the
// standard's are, but a request the heap cannot meet is noted before the new-handler answers
// for it, so that the run learns how much the tile asked for at once. The delete functions
// are given too, so that every block goes back the way it came.

void* operator new(std::size_t size) {
    for (;;) {
        if (void* block = std::malloc(size == 0 ? 1 : size))
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
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
