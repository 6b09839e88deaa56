#include "export/system/large_pages.h"

// Any C library header defines __GLIBC__ when that is the library in use.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#if defined(__GLIBC__) && defined(__linux__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#define BRINDLE_LARGE_PAGES 1
#endif

namespace brindle {
namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;

} // namespace

void AdviseLargePagesForHeap(std::size_t bytes) {
#if defined(BRINDLE_LARGE_PAGES)
    if (bytes < 2 * kLargePage || bytes > std::size_t{1} << 30)
        return;
    // Every time the heap grows it now grows by this much more than it needs, and freeing
    // keeps this much at its top: the stretch advised below stays the heap's.
    if (mallopt(M_TOP_PAD, static_cast<int>(bytes)) == 0)
        return;
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // A block the top of the heap cannot hold, so that the heap grows at once; volatile, or
    // the compiler drops an allocation it sees freed unused.
    void* volatile probe = std::malloc(2 * kLargePage);
    std::free(probe);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t start = (before + kLargePage - 1) & ~(kLargePage - 1);
    // The heap did not grow (its memory came from a mapping of its own): nothing to advise.
    if (after <= start + kLargePage)
        return;
    // Only advice: where the system declines it, the heap keeps its ordinary pages.
    // NOLINTNEXTLINE(performance-no-int-to-ptr): an address the heap holds, aligned to a page.
    ::madvise(reinterpret_cast<void*>(start), after - start, MADV_HUGEPAGE);
#else
    (void)bytes;
#endif
}

} // namespace brindle
