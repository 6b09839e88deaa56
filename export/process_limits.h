#pragma once

#include <cstdint>

namespace brindle {

// Bounds on the calling process, set by a tile-check worker around each check. They are
// enforced by the system, outside the reader, so no path through the reader escapes them.
class ProcessLimits {
public:
    ProcessLimits();

    // Lets the process allocate about `bytes` more than it holds now (0: no ceiling), and use
    // about `cpuSeconds` more processor time (0: no limit) before the system stops it.
    void limitNextCheck(std::uint64_t bytes, double cpuSeconds);
    // Lifts the bounds again. False when the check left the process holding so much more
    // memory than it started with that it should be replaced rather than take the next check.
    bool endCheck();

private:
    std::uint64_t startSize_ = 0; // address space in use when the worker was ready
};

// Makes the worker end with the process that started it, where the system can arrange that.
void EndWithParent();

} // namespace brindle
