#pragma once

#include "export/export_run.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindle::win32 {

// What a run under the progress dialog gave: its report, or, when it threw, why in words.
struct RunOutcome {
    std::optional<ExportReport> report;
    std::wstring failure;
    // From the start of the run to its end, the time the user waited for an answer included.
    std::chrono::milliseconds took{0};
};

// Runs the export on a thread of its own under a modal progress dialog owned by `owner`: the
// bar and the text follow the run, its Cancel button (or Escape, or the close box) stops it,
// and the run's replace questions are asked over it (see AskReplace). `tilesets`, when given,
// is the folder the run writes 3D Tiles into.
RunOutcome RunExportUnderProgress(HWND owner, std::vector<std::filesystem::path> folders,
                                  IndexKind index,
                                  std::optional<std::filesystem::path> tilesets = std::nullopt);

} // namespace brindle::win32
