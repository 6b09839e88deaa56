#pragma once

#include <cstddef>

namespace brindle {

// The heap as the worker program's allocation functions (worker_allocation.cpp) use it, one
// version a system: a block of `size` bytes (at least one), or null when none is to be had even
// after giving back what the program keeps for reuse; and a block's release.
void* AllocateWorkerBlock(std::size_t size) noexcept;
void FreeWorkerBlock(void* block) noexcept;

} // namespace brindle
