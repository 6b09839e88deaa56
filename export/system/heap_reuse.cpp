#include "export/system/heap_reuse.h"

// Any C library header defines __GLIBC__ when that is the library in use.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace brindle {

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // The largest threshold the C library accepts on 64-bit systems; a tile's buffers are
    // smaller, so all of them come from the heap.
    constexpr int kMapThreshold = 32 * 1024 * 1024;
    // Freed memory at the top of the heap is given back only beyond this much.
    constexpr int kTrimThreshold = 256 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kMapThreshold);
    mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
#endif
}

} // namespace brindle
