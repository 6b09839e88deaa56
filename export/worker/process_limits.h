#pragma once

#include <cstdint>

namespace brindle {

// Bounds on the calling process, set by a tile-check worker around each check. They are
// enforced by the system, outside the reader, so no path through the reader escapes them.
class ProcessLimits {
public:
    ProcessLimits();

    // Lets the next check allocate about `bytes` (0: no ceiling), and use about `cpuSeconds`
    // of processor time (0: no limit) before the system stops the process.
    void limitNextCheck(std::uint64_t bytes, double cpuSeconds);
    // False when the check left the process holding so much more memory than it started with
    // that it should be replaced rather than take the next check. The bounds stay in force
    // until the next check sets its own.
    bool endCheck();

private:
    std::uint64_t startSize_ = 0; // address space in use when the worker was ready
    std::uint64_t startPeak_ = 0; // the most memory held at once by then
    std::uint64_t addressSpaceLimit_ = ~std::uint64_t{0};
    double processorLimit_ = 0; // seconds of processor time allowed in all
    // What the process may not exceed; read once, since each system call is paid per tile.
    std::uint64_t addressSpaceHardLimit_ = ~std::uint64_t{0};
    std::uint64_t processorHardLimit_ = ~std::uint64_t{0};
    double processorUsed_ = -1; // seconds used when the last check ended; -1 before the first
};

// Makes the worker end with the process that started it, where the system can arrange that.
void EndWithParent();

} // namespace brindle
