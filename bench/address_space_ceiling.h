#pragma once

#include <sys/resource.h>

#include <cstdint>

namespace brindle::bench {

// Caps this process's address space at what it holds now plus `extraBytes` for the object's
// lifetime, so that a tile claiming an array of many gigabytes fails to allocate (std::bad_alloc)
// instead of filling the machine's memory. Tile-check workers run under a ceiling of their
// own; this gives the bench's in-process loads a comparable one.
class ScopedAddressSpaceCeiling {
public:
    explicit ScopedAddressSpaceCeiling(std::uint64_t extraBytes);
    ~ScopedAddressSpaceCeiling();
    ScopedAddressSpaceCeiling(const ScopedAddressSpaceCeiling&) = delete;
    ScopedAddressSpaceCeiling& operator=(const ScopedAddressSpaceCeiling&) = delete;

private:
    rlimit previous_{};
    bool set_ = false;
};

} // namespace brindle::bench
