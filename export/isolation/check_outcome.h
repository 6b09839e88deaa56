#pragma once

#include "export/export_report.h"
#include "export/protocol/tile_check_protocol.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace brindle {

// What a tile's check came to: Valid, or the reason it is left out, with the cause, limit and
// reader's words that go with it. The tile's names are not here: a folder holds one outcome
// per tile, and its tiles' names already.
struct TileOutcome {
    TileStatus reason = TileStatus::LoadFailed;
    std::error_code cause;                       // the system's cause, where there is one
    std::uint64_t limit = 0;                     // the limit exceeded, for TimedOut and OutOfMemory
    LoadFailure loadFailure = LoadFailure::None; // for LoadFailed
    std::string readerText; // for ReaderError: the reader's last message, when it gave one

    TileOutcome(TileStatus reason = TileStatus::LoadFailed, std::error_code cause = {},
                std::uint64_t limit = 0)
        : reason(reason), cause(cause), limit(limit) {}

    // The outcome as the report tells it of the subfolder `name`, whose root file is
    // `rootFile`.
    LeftOutSubfolder of(std::filesystem::path name, std::filesystem::path rootFile) const {
        return {std::move(name),     reason,      cause,     limit,
                std::move(rootFile), loadFailure, readerText};
    }
};

// What a worker's verdict on a tile check makes of the tile: Valid, or the reason it is left
// out, with the cause, limit and reader's words that go with it.
TileOutcome OutcomeOfReply(const CheckReply& reply, const CheckRequest& request);

} // namespace brindle
