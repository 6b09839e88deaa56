#pragma once

#include "export/export_report.h"
#include "export/isolation/check_settings.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace brindle {

// One entry of an existing index and what became of it.
struct IndexEntryCheck {
    std::string name;           // the file name as the index stores it
    std::filesystem::path file; // where it leads
    // Valid when the file loads; NoRootFile when it names a missing file; otherwise as for
    // a left-out subfolder.
    TileStatus status = TileStatus::Valid;
    std::error_code cause;
    std::uint64_t limit = 0;
    LoadFailure loadFailure = LoadFailure::None;
    std::string readerText;
};

struct FolderVerification {
    std::filesystem::path folder;
    std::filesystem::path indexFile;
    // Why the index's entries could not be listed: FolderMissing, NotAFolder,
    // ExistingUnreadable (the index is missing, not a regular file, or does not load; `cause`
    // says which when the system told), ExistingHoldsScene (it is a tile, not an index) or
    // WorkersUnavailable.
    std::optional<Problem> error;
    std::vector<IndexEntryCheck> entries; // in index order

    // True when the index was read and every entry it names loads.
    bool allResolve() const;
};

// Checks, for each folder, that every file its existing root.osgb names exists, is a regular
// file and loads, with the export run's checks: each file is parsed in a worker process
// under the limits in `settings`, and the files it names to load at once are followed. Writes
// nothing. Uses the settings' jobs, fullValidation, limits, workerProgram and cancel.
std::vector<FolderVerification>
VerifyFolderIndexes(const std::vector<std::filesystem::path>& folders,
                    const CheckSettings& settings = {});

} // namespace brindle
