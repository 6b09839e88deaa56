#pragma once

#include <cstdint>

namespace brindle {

// The machine's physical memory in bytes; 0 when the system does not tell.
std::uint64_t PhysicalMemoryBytes();

} // namespace brindle
