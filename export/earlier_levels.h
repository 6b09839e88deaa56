#pragma once

#include "export/existing_index/existing_index_guard.h"
#include "export/isolation/check_settings.h"
#include "export/isolation/worker_process.h"

#include <filesystem>

namespace brindle {

// The folder of overview levels of ours inside `listed` that its index (`indexFile`) names,
// which a re-run takes its unchanged nodes from; empty when the index names none of ours. Not
// the newest folder of ours: a killed run may have left one half made.
//
// The index is never parsed here. The verdict cache keeps, beside the index a run wrote, the
// name of the levels it named; while the file keeps the stamp it had then (any write changes
// its change time), it names them still. Otherwise the index is listed by a worker
// (`inspector`), as the guard reads it, and only when a folder of ours is there to be named.
std::filesystem::path LevelsTheIndexNames(const std::filesystem::path& listed,
                                          const std::filesystem::path& indexFile,
                                          OwnIndexMemory& verdicts, WorkerProcess& inspector,
                                          const CheckSettings& settings);

} // namespace brindle
