#include "export/worker/process_limits.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace brindle {
namespace {

// The address space the process holds, in bytes.
std::uint64_t AddressSpaceInUse() {
    unsigned long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return std::uint64_t{pages} * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// The most memory the process has held at once, in bytes.
std::uint64_t PeakResidentSize() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

double ProcessorSecondsUsed() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

void SetSoftLimit(int resource, rlim_t value) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0)
        return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? value : std::min(value, limit.rlim_max);
    setrlimit(resource, &limit);
}

// Memory a check may leave in the heap for the next one; a worker holding more is replaced,
// so that each check's ceiling stays close to what the check itself may use.
constexpr std::uint64_t kKeptAfterCheck = std::uint64_t{128} << 20;

} // namespace

ProcessLimits::ProcessLimits() : startSize_(AddressSpaceInUse()), startPeak_(PeakResidentSize()) {}

// The bounds change only when they must: most tiles of a block are alike, and every system
// call here is paid once per tile.
void ProcessLimits::limitNextCheck(std::uint64_t bytes, double cpuSeconds) {
    // A worker never starts a check holding more than kKeptAfterCheck above its start (see
    // endCheck), so the ceiling needs no reading of what it holds now.
    const std::uint64_t addressSpace =
        bytes > 0 ? startSize_ + kKeptAfterCheck + bytes : std::uint64_t{RLIM_INFINITY};
    if (addressSpace != addressSpaceLimit_) {
        SetSoftLimit(RLIMIT_AS, static_cast<rlim_t>(addressSpace));
        addressSpaceLimit_ = addressSpace;
    }
    // A hang that never returns to the run (an orphaned worker) still ends here. The limit is
    // reset once the time left falls below what this check may take, or exceeds twice that.
    if (cpuSeconds > 0) {
        const double used = ProcessorSecondsUsed();
        const double left = processorLimit_ - used;
        if (left < cpuSeconds + 1 || left > 2 * cpuSeconds + 2) {
            processorLimit_ = std::ceil(used + cpuSeconds + 1);
            SetSoftLimit(RLIMIT_CPU, static_cast<rlim_t>(processorLimit_));
        }
    }
}

bool ProcessLimits::endCheck() {
    return PeakResidentSize() <= startPeak_ + kKeptAfterCheck;
}

void EndWithParent() {
#ifdef __linux__
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have gone before the request took effect.
    if (getppid() != parent)
        _exit(1);
#endif
}

} // namespace brindle
