#pragma once

#include "export/export_run.h"

#include <chrono>
#include <cstdio>

namespace brindle {

// A one-line progress bar redrawn in place on a terminal, at most a few times a second.
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* terminal) : terminal_(terminal) {}
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(const ExportProgress& progress);

    // Whether `stream` is an interactive terminal worth drawing on.
    static bool IsTerminal(std::FILE* stream);

private:
    std::FILE* terminal_;
    std::chrono::steady_clock::time_point lastDraw_{};
    bool drawn_ = false;
};

} // namespace brindle
