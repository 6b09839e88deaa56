#pragma once

#include "export/export_run.h"
#include "wording/report_wording.h"

#include <chrono>
#include <optional>
#include <string>

namespace brindle {

using ProgressClock = std::chrono::steady_clock;

// The time a run has left, from the rate at which its tiles were checked so far: what the
// command line's progress and both dialogs' tell.
class TimeLeftEstimate {
public:
    explicit TimeLeftEstimate(ProgressClock::time_point start) : start_(start) {}
    // Nothing until a tile is done, and once the last is.
    std::optional<std::chrono::seconds> at(const ExportProgress& progress,
                                           ProgressClock::time_point now) const;

private:
    ProgressClock::time_point start_;
};

} // namespace brindle

namespace brindle::wording {

// "about 12 s left", "about 2 min 5 s left", "about 1 h 10 min left"; in Chinese
// "预计还需约 12 秒".
std::string DescribeTimeLeft(Language language, std::chrono::seconds left);

// The dialogs' progress text, in Chinese, lines parted by "\n": the folder in hand, the tiles
// checked and, once known, the time left; and what its tileset stage has done, while there is
// one.
std::string ProgressText(const ExportProgress& progress,
                         const std::optional<std::chrono::seconds>& left);

} // namespace brindle::wording
