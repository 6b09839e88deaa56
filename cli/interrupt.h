#pragma once

#include <atomic>
#include <string>

namespace brindle {

// While it lives, the first SIGINT or SIGTERM asks the run to stop (its cancel flag is set
// and a line on stderr says so); the handlers are then back to their defaults, so a second
// one ends the process at once. Only one may exist at a time.
class InterruptHandler {
public:
    // `stoppingLine`: what stderr is told at the first signal, its line ends included; cut to
    // the first 511 bytes.
    explicit InterruptHandler(const std::string& stoppingLine = {});
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
