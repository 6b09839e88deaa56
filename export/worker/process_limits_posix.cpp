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

struct Usage {
    std::uint64_t peakResident = 0; // the most memory the process has held at once, in bytes
    double processorSeconds = 0;    // user and system
};

Usage UsageSoFar() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return {static_cast<std::uint64_t>(usage.ru_maxrss) * 1024,
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

double ProcessorSecondsUsed() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

std::uint64_t HardLimit(int resource) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_max == RLIM_INFINITY)
        return ~std::uint64_t{0};
    return static_cast<std::uint64_t>(limit.rlim_max);
}

void SetSoftLimit(int resource, std::uint64_t value, std::uint64_t hard) {
    rlimit limit{};
    limit.rlim_max = hard == ~std::uint64_t{0} ? RLIM_INFINITY : static_cast<rlim_t>(hard);
    limit.rlim_cur = static_cast<rlim_t>(std::min(value, hard));
    setrlimit(resource, &limit);
}

// Memory a check may leave in the heap for the next one; a worker holding more is replaced,
// so that each check's ceiling stays close to what the check itself may use.
constexpr std::uint64_t kKeptAfterCheck = std::uint64_t{128} << 20;

} // namespace

ProcessLimits::ProcessLimits()
    : startSize_(AddressSpaceInUse()), startPeak_(UsageSoFar().peakResident),
      addressSpaceHardLimit_(HardLimit(RLIMIT_AS)), processorHardLimit_(HardLimit(RLIMIT_CPU)) {}

// The bounds change only when they must: most tiles of a block are alike, and every system
// call here is paid once per tile.
void ProcessLimits::limitNextCheck(std::uint64_t bytes, double cpuSeconds) {
    // A worker never starts a check holding more than kKeptAfterCheck above its start (see
    // endCheck), so the ceiling needs no reading of what it holds now.
    // Whole megabytes: the tiles of a block differ in size by a few bytes, and each new limit
    // would cost a system call.
    constexpr std::uint64_t kStep = std::uint64_t{1} << 20;
    const std::uint64_t addressSpace =
        bytes > 0 ? startSize_ + kKeptAfterCheck + (bytes + kStep - 1) / kStep * kStep
                  : std::uint64_t{RLIM_INFINITY};
    if (addressSpace != addressSpaceLimit_) {
        SetSoftLimit(RLIMIT_AS, addressSpace, addressSpaceHardLimit_);
        addressSpaceLimit_ = addressSpace;
    }
    // A hang that never returns to the run (an orphaned worker) still ends here. The limit is
    // reset once the time left falls below what this check may take, or exceeds twice that.
    // The time the last check ended with stands for the time now: only the wait for this
    // request came between.
    if (cpuSeconds > 0) {
        const double used = processorUsed_ >= 0 ? processorUsed_ : ProcessorSecondsUsed();
        const double left = processorLimit_ - used;
        if (left < cpuSeconds + 1 || left > 2 * cpuSeconds + 2) {
            processorLimit_ = std::ceil(used + cpuSeconds + 1);
            SetSoftLimit(RLIMIT_CPU, static_cast<std::uint64_t>(processorLimit_),
                         processorHardLimit_);
        }
    }
}

bool ProcessLimits::endCheck() {
    const Usage usage = UsageSoFar();
    processorUsed_ = usage.processorSeconds;
    return usage.peakResident <= startPeak_ + kKeptAfterCheck;
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
