#pragma once

#include "export/export_run.h"
#include "wording/time_left.h"

#include <chrono>
#include <cstdio>
#include <iosfwd>
#include <optional>
#include <string>

namespace brindle {

// "about 12 s left", "about 2 min 5 s left", "about 1 h 10 min left".
std::string DescribeTimeLeft(std::chrono::seconds left);

// "45% (135/300 tiles), folder 1/3 Block_A, about 12 s left"; while the folder's tileset is
// made, "; 3D Tiles Block_A 20% (60/300 tiles), 412 files converted, 0 reused, 96.3 MB" after.
std::string DescribeProgress(const ExportProgress& progress,
                             const std::optional<std::chrono::seconds>& left);

// A one-line progress bar redrawn in place on a terminal, at most a few times a second.
class ProgressBar {
public:
    ProgressBar(std::ostream& terminal, ProgressClock::time_point start)
        : terminal_(terminal), estimate_(start) {}
    ~ProgressBar() { clear(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(const ExportProgress& progress, ProgressClock::time_point now);
    // Takes the bar off the line, so that other output can be printed; the next update
    // draws it again.
    void clear();

    // Whether `stream` is an interactive terminal worth drawing on.
    static bool isTerminal(std::FILE* stream);

private:
    std::ostream& terminal_;
    TimeLeftEstimate estimate_;
    ProgressClock::time_point lastDraw_{};
    bool onScreen_ = false;
};

// A plain line of progress every `interval` (every update when it is zero), for logs and
// terminals that cannot redraw a line.
class ProgressLines {
public:
    ProgressLines(std::ostream& out, std::chrono::milliseconds interval,
                  ProgressClock::time_point start)
        : out_(out), interval_(interval), estimate_(start), lastLine_(start) {}

    void update(const ExportProgress& progress, ProgressClock::time_point now);

private:
    std::ostream& out_;
    std::chrono::milliseconds interval_;
    TimeLeftEstimate estimate_;
    ProgressClock::time_point lastLine_;
};

} // namespace brindle
