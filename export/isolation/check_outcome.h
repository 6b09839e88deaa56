#pragma once

#include "export/export_report.h"
#include "export/protocol/tile_check_protocol.h"

namespace brindle {

// What a worker's verdict on a tile check makes of the tile: Valid, or the reason it is left
// out, with the cause, limit and reader's words that go with it.
LeftOutSubfolder OutcomeOfReply(const CheckReply& reply, const CheckRequest& request);

} // namespace brindle
