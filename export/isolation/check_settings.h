#pragma once

#include "export/protocol/tile_check_protocol.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace brindle {

// The bounds a tile's check runs under; a tile that exceeds one is left out, and the worker
// checking it is replaced. Both grow with the file: real tiles parse at hundreds of
// megabytes a second in two to three times their size.
struct TileLimits {
    std::chrono::milliseconds deadlineBase{20000};
    std::uint64_t deadlineBytesPerSecond = std::uint64_t{20} << 20;
    std::uint64_t memoryBase = std::uint64_t{256} << 20;
    std::uint64_t memoryPerFileByte = 8;
    std::uint64_t memoryMax = std::uint64_t{1} << 30;

    std::chrono::milliseconds deadlineFor(std::uint64_t fileSize) const;
    std::uint64_t memoryCeilingFor(std::uint64_t fileSize) const;
};

// When the run asks the system to fetch tiles from disk ahead of their check. Small tiles
// come in with the folder's first reads; large ones are worth the extra look.
struct ReadAheadPolicy {
    // Reading ahead starts once a tile of this size or larger is seen.
    std::uint64_t worthReadingAhead = std::uint64_t{64} * 1024;
    // How far ahead, in rounds of one tile per worker.
    std::size_t rounds = 8;
};

// Tells the system a file will be read soon; empty for the system's own hint. Called from a
// thread of its own, one file at a time.
using ReadAheadHint = std::function<void(const std::filesystem::path& file)>;

// What every check of a run is made with, and by whom: the part of a run's options that the
// pool, the verdict cache's setting and --verify need, without the run's presenters.
struct CheckSettings {
    TileLimits limits;
    ReadAheadPolicy readAhead;
    // Tiles are loaded in full, as a viewer would (ParseMode::Full); otherwise only each
    // tile's own file is read.
    bool fullValidation = false;
    // Tiles are asked for the bound of what they hold, as a paged index needs.
    bool wantBound = false;
    unsigned jobs = 0; // worker processes; 0 means one per hardware thread
    // The tile-check worker program; empty means the one installed beside this program.
    std::filesystem::path workerProgram;
    // Once set, checks in hand are abandoned and no more are made.
    const std::atomic<bool>* cancel = nullptr;

    bool cancelled() const { return cancel && cancel->load(); }
    // The worker program checks run in: the one named, or the one installed.
    std::filesystem::path program() const;
    // How many workers check at once: `jobs`, or one per hardware thread, at least one.
    unsigned workerCount() const;
};

// A check of `file`, and how long to wait for it, with the bounds its size earns. The
// processor-time limit is a backstop for a worker whose run is gone; the deadline normally
// ends a hang first.
struct BoundedCheck {
    CheckRequest request;
    std::chrono::milliseconds deadline;
};

BoundedCheck MakeCheck(CheckKind kind, const std::filesystem::path& file, std::uint64_t size,
                       const CheckSettings& settings);

} // namespace brindle
