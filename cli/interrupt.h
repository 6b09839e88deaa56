#pragma once

#include <atomic>

namespace brindle {

// While it lives, the first SIGINT or SIGTERM asks the run to stop (its cancel flag is set
// and a line on stderr says so); the handlers are then back to their defaults, so a second
// one ends the process at once. Only one may exist at a time.
class InterruptHandler {
public:
    InterruptHandler();
    ~InterruptHandler();
    InterruptHandler(const InterruptHandler&) = delete;
    InterruptHandler& operator=(const InterruptHandler&) = delete;

    // The flag to hand to ExportOptions::cancel.
    const std::atomic<bool>& cancelFlag() const;
    // Stops the run for a reason of the program's own (standard output is gone).
    void requestStop();
    // The signal that stopped the run, or 0.
    int signal() const;
};

} // namespace brindle
