#pragma once

#include "export/worker/tile_validation.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <vector>

namespace brindle::bench {

struct InProcessRun {
    double seconds = 0;
    double cpuSeconds = 0;                  // user and system time of this process meanwhile
    std::uint64_t minorFaults = 0;          // page faults of this process meanwhile
    std::size_t checked = 0;                // subfolders looked at
    std::set<std::filesystem::path> loaded; // the root.osgb files that load
    std::size_t outOfMemory = 0;            // tiles that hit the address-space ceiling
};

// Validates the tiles of `folders` in this process, as brindle-export did before it had
// worker processes: the same subfolders in the same order (ListSubfolders), each checked with
// brindle::TileValidator's fast check on a pool of `threads` std::threads sharing one
// validator. The time covers listing the folders and checking every tile; the validator is
// set up before the clock starts. Runs under an address-space ceiling of 1 GiB a thread, so a
// tile claiming a huge array fails as it would in a worker.
//
// The validator changes the scene-graph library's process-wide reader list while it exists,
// so no full load (osgDB::readNodeFile) may run in this process at the same time.
InProcessRun ValidateInProcess(const std::vector<std::filesystem::path>& folders, unsigned threads);

// The fast check of a tile folder's root.osgb, as the exporter asks its workers for it.
CheckRequest TileRequestFor(const std::filesystem::path& subfolder);

// Each request's verdict from `validator`, the requests taken in turn by a pool of `threads`
// std::threads that share it.
std::vector<CheckVerdict> CheckOnThreads(const TileValidator& validator,
                                         const std::vector<CheckRequest>& requests,
                                         unsigned threads);

// The address space a thread checking tiles in process is given beyond what the process
// holds: about what a worker's ceiling allows.
constexpr std::uint64_t kCeilingPerThread = std::uint64_t{1} << 30;

} // namespace brindle::bench
