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

// One entry of an existing index, or of an overview's level file below it, and what became
// of it.
struct IndexEntryCheck {
    std::string name;           // the file name as the index (or level file) stores it
    std::filesystem::path file; // where it leads
    // The level file that names it, relative to the folder; empty for the index's own entries.
    std::filesystem::path namedBy;
    // A file of the overview's levels (in a levels folder of ours): the files it names were
    // checked too. Every other entry is a tile, or an index of a block within.
    bool level = false;
    // Valid when the file loads; NoRootFile when it names a missing file; otherwise as for
    // a left-out subfolder.
    TileStatus status = TileStatus::Valid;
    std::error_code cause;
    std::uint64_t limit = 0;
    LoadFailure loadFailure = LoadFailure::None;
    std::string readerText;
    // A level file whose names lead to levels deeper than any overview has: the walk ends
    // there, as it does at a level file naming one above it (`status` is Cycle for both).
    bool tooDeep = false;
};

struct FolderVerification {
    std::filesystem::path folder;
    std::filesystem::path indexFile;
    // Why the index's entries could not be listed: FolderMissing, NotAFolder,
    // ExistingUnreadable (the index is missing, not a regular file, or does not load; `cause`
    // says which when the system told), ExistingHoldsScene (it is a tile, not an index) or
    // WorkersUnavailable.
    std::optional<Problem> error;
    // The index's entries in index order; for an overview, then the level files and tiles
    // below them, each file once, level by level.
    std::vector<IndexEntryCheck> entries;

    // True when the index was read and every entry it names loads.
    bool allResolve() const;
    // How many of `entries` are level files of an overview, and of those how many are broken.
    std::size_t levelFiles() const;
    std::size_t brokenLevelFiles() const;
    // How many of `entries` are broken in all.
    std::size_t broken() const;
};

// Checks, for each folder, that every file its existing root.osgb names exists, is a regular
// file and loads, with the export run's checks: each file is parsed in a worker process
// under the limits in `settings`, and the files it names to load at once are followed. An
// overview's level files are walked down to the tiles: every file each names is checked as
// well, once however many name it. A folder of blocks is followed by each block its index
// names, checked as a folder of its own, so that the levels and tiles the blocks page in are
// walked too: the results may hold more folders than were listed, each block after the
// folder that holds it. Writes nothing. Uses the settings' jobs, fullValidation, limits,
// workerProgram and cancel.
std::vector<FolderVerification>
VerifyFolderIndexes(const std::vector<std::filesystem::path>& folders,
                    const CheckSettings& settings = {});

} // namespace brindle
