#pragma once

#include "export/export_report.h"
#include "export/index/index_graph.h"
#include "export/index/paged_index.h"
#include "export/isolation/check_settings.h"
#include "export/isolation/worker_process.h"
#include "export/run/folder_cache.h"
#include "export/run/folder_scan.h"

#include <functional>
#include <string>
#include <vector>

namespace brindle {

// Asks the user whether to go on where the run would otherwise keep a file or fail a folder.
using ConfirmCall = std::function<bool(const Problem& why)>;

// True when the user, asked, goes on despite `problem`; never for workers that are not there.
bool Confirmed(const Problem& problem, const ConfirmCall& confirm);

// How the run writes indexes: their kind, whether it writes at all, the worker that reads an
// existing root.osgb before it is replaced (under `settings`), and whom to ask when the run
// would keep one, or write an index that names nothing.
struct IndexWriting {
    IndexKind kind = IndexKind::Proxy;
    bool dryRun = false;
    const CheckSettings& settings;
    WorkerProcess& inspector;
    const ConfirmCall& confirm;
};

// What one folder's index is written from.
struct IndexSource {
    IndexGraph& graph; // with the folder's translation
    const std::vector<PagedEntry>& entries;
    // The folder's scan, which tells why an index that would name nothing is not written; none
    // for a folder of blocks.
    const FolderScan* scan = nullptr;
    // An overview index names its levels' tops instead of the tiles: the levels name those.
    const std::vector<std::string>* tops = nullptr;
};

// Records the folder's entries and left-out subfolders in `report`; returns the entries with
// their bounds, in scan order.
std::vector<PagedEntry> RecordTiles(const FolderScan& scan, FolderReport& report);

// Writes the folder's index once nothing stands in the way, and sets the report's status: an
// existing root.osgb that is no index is kept unless the user says otherwise, as is the index
// an earlier run wrote from the same entries, untouched since (by the folder's verdict
// `cache`, which keeps what was written).
void WriteIndex(const IndexSource& source, const IndexWriting& writing, FolderCache& cache,
                FolderReport& report);

} // namespace brindle
