#include "bench/address_space_ceiling.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace brindle::bench {
namespace {

std::uint64_t AddressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

} // namespace

ScopedAddressSpaceCeiling::ScopedAddressSpaceCeiling(std::uint64_t extraBytes) {
    if (getrlimit(RLIMIT_AS, &previous_) != 0) {
        return;
    }
    rlimit limit = previous_;
    const auto wanted = static_cast<rlim_t>(AddressSpaceInUse() + extraBytes);
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    set_ = setrlimit(RLIMIT_AS, &limit) == 0;
}

ScopedAddressSpaceCeiling::~ScopedAddressSpaceCeiling() {
    if (set_) {
        setrlimit(RLIMIT_AS, &previous_);
    }
}

} // namespace brindle::bench
