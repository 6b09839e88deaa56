#pragma once

#include "export/error/result.h"
#include "export/export_report.h"
#include "export/isolation/check_outcome.h"
#include "export/isolation/worker_process.h"
#include "export/protocol/tile_check_protocol.h"

#include <chrono>
#include <filesystem>
#include <optional>

namespace brindle {

// Who asked a worker for a check: one answer means something else to each.
enum class CheckAsker {
    Tile,          // a tile's check: the pool's, and each entry's of --verify
    ReplacedIndex, // the root.osgb a run is about to replace with its new index
    ListedIndex,   // the root.osgb whose entries --verify lists
};

// One check as its asker sent it.
struct AskedCheck {
    CheckAsker asker = CheckAsker::Tile;
    const CheckRequest& request;
    std::chrono::milliseconds deadline;
    const std::filesystem::path& file;    // the file checked, as a problem with it names it
    const std::filesystem::path& program; // the worker program, as WorkersUnavailable names it
};

// What one exchange with a worker comes to for the one who asked.
struct CheckAnswer {
    // For a tile: Valid, or why the tile is left out.
    TileOutcome tile;
    // For an existing index: why it must not be replaced, or cannot be listed; none when it is
    // an index (or, about to be replaced, is not there). For every asker: WorkersUnavailable
    // when no worker could be started.
    std::optional<Problem> problem;
    // True when the worker replied: what else its reply holds (a bound, entries, a verdict to
    // keep) is the asker's to read.
    bool replied = false;
};

// The one reading of a worker's answer (`exchanged`, and `reply` when it replied) for every
// asker: a worker that crashes, overruns or cannot start, and each verdict, mean to each
// asker what its case here says.
CheckAnswer AnswerOf(const AskedCheck& asked, const Result<WorkerProcess::Outcome>& exchanged,
                     const CheckReply& reply);

} // namespace brindle
