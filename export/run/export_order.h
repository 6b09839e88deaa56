#pragma once

#include "export/export_report.h"
#include "export/export_run.h"
#include "export/fs/folder_lock.h"
#include "export/index/index_graph.h"
#include "export/isolation/check_settings.h"
#include "export/isolation/worker_process.h"
#include "export/overview/overview_index.h"
#include "export/run/folder_cache.h"
#include "export/run/folder_origin.h"
#include "export/run/folder_scan.h"
#include "export/run/index_writing.h"
#include "export/run/path_spelling.h"
#include "export/run/progress_relay.h"
#include "export/run/run_locks.h"
#include "export/run/tile_check_pool.h"
#include "export/run/tileset_writing.h"
#include "export/scan/folder_identity.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

class SpatialReferences;

// One folder of a list between its scan and its index: its report so far, what its scan
// found, and what the run holds for it until it is written.
struct PlannedFolder {
    FolderReport report;
    FolderScan scan;
    FolderCache cache;   // the folder's verdict cache
    FolderOrigin origin; // what its own report.txt or metadata.xml says, read before its tiles
    // Overview index: its levels, built as the tiles are checked.
    std::shared_ptr<OverviewBuild> overview;
    // The folder's lock, from before its scan until what its new index no longer names is
    // removed; none in a dry run, which writes nothing.
    std::shared_ptr<FolderLock> lock;
    // The earlier levels' nodes read back in the pool, after the folder's tiles to check.
    std::size_t nodeReads = 0;
    bool queued = false; // its tiles went to the pool to be checked
};

// One export run: folders listed, and the blocks of folders of blocks, exported in turn
// with one translation carried over from folder to folder. Each list of folders is exported
// in two steps over one pool of workers: planning (each folder scanned and its tiles queued)
// and writing (each folder's index, as the pool hands the folder back checked).
class ExportOrder {
public:
    ExportOrder(const ExportOptions& options, const ExportCalls& calls,
                SpatialReferences& references);

    // Exports the folders as listed, each under its one normal path (ListedFolderPath); their
    // reports name them, and the files within them, as the user spelled them.
    void exportListed(const std::vector<std::filesystem::path>& folders,
                      std::vector<FolderReport>& out);

    // Why the verdicts of some folder could not be kept, the first time they could not.
    const std::optional<Problem>& cacheNotWritten() const { return cacheNotWritten_; }

private:
    // What a folder of blocks learns of each of its blocks once it is exported.
    struct FolderOutcome {
        FolderStatus status = FolderStatus::Cancelled;
        SrsKind srsKind = SrsKind::None;
        std::string srs; // as its metadata.xml named it
    };

    // A list of folders as planned, for the writing, in list order.
    struct FolderPlan {
        FolderPlan(const std::vector<std::filesystem::path>& folders,
                   const std::filesystem::path& master, int depth);
        const std::vector<std::filesystem::path>& folders;
        const std::filesystem::path& master; // the folder of blocks they belong to, if any
        int depth;                           // how many folders of blocks they lie below
        // Where each folder is listed first, by the system's identity of the folder.
        std::vector<std::size_t> firstListings;
        std::vector<PlannedFolder> planned;
        ExportProgress progress; // the pool's, as it tells the run's callback
    };

    // A folder the run has exported (or failed to), listed or a block, as it was named then.
    struct Exported {
        std::filesystem::path folder;
        FolderIdentity identity;
        FolderStatus status;
    };

    // The order of work (export_order.cpp).

    // Exports `folders` in order, appending their reports to `out`: a folder of blocks comes
    // after its blocks. `master` is the folder of blocks they belong to, if any. Gives each
    // folder's outcome, in the order of `folders`.
    std::vector<FolderOutcome> exportFolders(const std::vector<std::filesystem::path>& folders,
                                             const std::filesystem::path& master, int depth,
                                             std::vector<FolderReport>& out);
    // The listing of folder `i` of a plan, when it is the run's own (a listed folder).
    const Spelling* ownSpelling(const FolderPlan& plan, std::size_t i) const;
    // Folder `i` of a plan as the user spelled it.
    std::filesystem::path spelledFolder(const FolderPlan& plan, std::size_t i) const;
    // Where `folder` was exported earlier in the run, under this or another path, if it was.
    const Exported* exportedBefore(const std::filesystem::path& folder) const;
    bool caching() const { return !options_.verdictCache.empty(); }
    // How much the look at each tile's root asks of the system: a verdict cache keys its
    // entries by which file a tile is.
    Look rootLook() const { return caching() ? Look::WithIdentity : Look::TypeAndSize; }
    // Reads the folder's verdict cache, when the run keeps one.
    void loadVerdicts(const std::filesystem::path& path, PlannedFolder& folder) const;
    // Puts the folder's checked tiles back among those the cache gave.
    static void mergeChecked(PlannedFolder& folder, FolderWork checked);
    // Keeps the lasting verdicts the pool reached on folder `handle` before the run was
    // cancelled, with those the cache gave, so that the next run starts where this one stopped.
    void keepVerdictsReached(TileCheckPool& pool, std::size_t handle, PlannedFolder& folder,
                             std::optional<FolderWork> work, const std::filesystem::path& path);
    void noteCacheWrite(std::error_code saved, const std::filesystem::path& folder);

    // Planning (export_planning.cpp): repeated listings set aside, each folder scanned, its
    // tiles classified and their cached verdicts taken, and the rest queued in the pool.

    void planFolders(FolderPlan& plan, TileCheckPool& pool);
    void planFolder(FolderPlan& plan, std::size_t i, TileCheckPool& pool);
    // True when folder `i` is not scanned: it repeats a listing, or another run holds it.
    bool setAside(FolderPlan& plan, std::size_t i);
    // Scans folder `i`, reads its origin and starts its overview levels.
    void scanPlanned(FolderPlan& plan, std::size_t i);
    // Reads the folder's own origin; one in degrees that is not to be written fails the
    // folder here, before any of its tiles is read.
    void readOrigin(PlannedFolder& folder) const;
    // Starts the folder's overview levels, to be built as its tiles are checked.
    void startOverview(PlannedFolder& folder);
    // What of the folder the pool is to check: none of a failed folder, and only the tiles
    // the cache has no verdict on.
    FolderWork workToCheck(PlannedFolder& folder);
    // The folder's tiles to check for its overview: those whose cached verdicts the levels
    // cannot do with, and the earlier levels' nodes the new ones are built over.
    FolderWork takeCachedForOverview(PlannedFolder& folder);

    // Writing (export_writing.cpp): folder by folder as the pool hands it back, its checked
    // tiles merged with the cached ones, its origin, report and index written and its
    // verdicts kept; and, once the run is cancelled, the verdicts reached for the rest.

    std::vector<FolderOutcome> writeFolders(FolderPlan& plan, TileCheckPool& pool,
                                            std::vector<FolderReport>& out);
    // The folders a cancelled run did not write: the verdicts reached on them are kept, and
    // their reports handed back as they stand. `work`: the first one's, when it was handed
    // back.
    void handBackUnwritten(FolderPlan& plan, std::size_t first, TileCheckPool& pool,
                           std::optional<FolderWork> work, std::vector<FolderReport>& out);
    FolderOutcome writePlanned(FolderPlan& plan, std::size_t i, std::vector<FolderReport>& out);
    // Writes a folder that repeats no earlier one, and tells the run it is exported.
    void writeFirstListing(PlannedFolder& folder, const std::filesystem::path& path, int depth,
                           std::vector<FolderReport>& out);
    // The earlier listing folder `i` repeats, as it was spelled there, if it repeats one.
    std::optional<std::filesystem::path> firstListingOf(const FolderPlan& plan,
                                                        std::size_t i) const;
    void writeFolder(PlannedFolder& folder, int depth, std::vector<FolderReport>& out);
    // Makes the tileset of a listed folder whose index was written (or would be): `blocks`
    // the reports of a folder of blocks' blocks in `out`, from `firstBlock` on.
    void writeTileset(FolderReport& report, const std::vector<FolderReport>& out,
                      std::size_t firstBlock);
    // Finishes the folder's overview levels and writes the index over them.
    void writeOverview(PlannedFolder& folder, const std::vector<PagedEntry>& entries);
    // A folder of blocks: each block is exported as if listed, then the folder's index names
    // their indexes, untranslated.
    void writeBlocks(PlannedFolder& folder, int depth, std::vector<FolderReport>& out);
    // Records the blocks written as the folder's entries, and the others as left out; gives
    // the entries, and the spatial references of the blocks that have one in `blockSrs`.
    std::vector<PagedEntry> recordBlocks(const std::vector<std::filesystem::path>& blocks,
                                         const std::vector<FolderOutcome>& outcomes,
                                         FolderReport& report, std::vector<SrsOf>& blockSrs) const;
    // Blocks in different spatial references: a warning, or with --strict the folder's error.
    void noteBlocksInDifferentSrs(const std::vector<SrsOf>& blockSrs, FolderReport& report) const;
    IndexWriting indexWriting();

    const ExportOptions& options_;
    const ExportCalls& calls_;
    // Asked from the run's thread alone; the projection library is loaded at its first need.
    SpatialReferences& references_;
    const CheckSettings settings_;
    IndexGraph graph_;
    OriginState origin_;
    // Examines existing root.osgb files before they are replaced; started only if one exists.
    WorkerProcess inspector_;
    ProgressRelay relay_;
    // A folder is exported once: a second write would replace the index the first wrote
    // while the tiles were checked against the old one.
    std::vector<Exported> exported_;
    std::uint64_t verdictSetting_; // what the verdicts cached for this run were taken under
    std::optional<Problem> cacheNotWritten_;
    // The indexes of the folders of blocks whose blocks are being exported, innermost first.
    std::vector<std::filesystem::path> mastersAbove_;
    ListedSpellings spellings_;
    RunLocks locks_;
    // The listed folders' 3D Tiles tilesets, when the run makes them.
    TilesetWriting tilesets_;
};

} // namespace brindle
