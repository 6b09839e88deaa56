#pragma once

#include "export/export_progress.h"
#include "export/export_report.h"
#include "export/isolation/check_settings.h"
#include "export/tiles3d/file_conversion.h"
#include "export/tiles3d/tileset_options.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <vector>

namespace brindle {

struct ExportOptions {
    unsigned jobs = 0;   // worker processes checking tiles; 0 means one per hardware thread
    bool dryRun = false; // scan and validate, write nothing
    IndexKind index = IndexKind::Proxy;
    // Load every tile in full, textures and referenced scenes included, as a viewer would.
    // Gives the same answer as the default check, which reads only each tile's own file.
    bool fullValidation = false;
    // A tile that reaches its memory ceiling is checked once more, alone, under a ceiling of
    // half the machine's memory, at most 4 GB, before it is left out.
    TileLimits limits;
    ReadAheadPolicy readAhead;
    // The tile-check worker program; empty means the one installed beside this program.
    std::filesystem::path workerProgram;
    // Where the verdicts of earlier runs are kept, one file per listed folder (see
    // DefaultVerdictCacheFolder in export/cache/verdict_cache.h); empty for no cache, so that
    // every tile is checked. A tile whose root file is unchanged since a verdict on it that
    // rests on its bytes alone is not checked again; the index written is the same either way.
    // A cache that cannot be read or written costs only time.
    std::filesystem::path verdictCache;
    // What is otherwise a warning and a doubtful index is an error, and the old index kept:
    // blocks of a folder of blocks in different spatial references.
    bool strict = false;
    // A 3D Tiles tileset of each listed folder whose index is written or kept; its folder
    // empty for none. The indexes are then overview indexes, whatever `index` says: the
    // tileset's top levels are the overview's.
    TilesetOptions tilesets;

    // What the checks of a run with these options are made with; they end early once
    // `cancel` is set.
    CheckSettings checkSettings(const std::atomic<bool>* cancel = nullptr) const;
};

// What the run calls back, and the flag that stops it: the caller's, apart from the settings.
struct ExportCalls {
    // Called as folders and subfolders complete, and as a folder's tileset files are done (at
    // most every 100 ms then), from the run's threads but never from two at once. Keep it
    // short: validation waits for it.
    std::function<void(const ExportProgress&)> progress;
    // Called from the run's thread as soon as a folder is written (or has failed), before the
    // next folder's turn; the report passed is final.
    std::function<void(const FolderReport&)> folderDone;
    // Asked, from the run's thread, whether to replace an existing root.osgb that the run
    // would otherwise keep (`why` is ExistingHoldsScene or ExistingUnreadable), or to write an
    // index that names nothing (`why` is one of the NoTiles kinds); without it such a file is
    // kept, nothing is written, and the folder fails. Also asked (`why` is
    // MetadataGeographicSrs) whether to write an origin in degrees as a translation.
    std::function<bool(const Problem& why)> confirmReplace;
    // Checked between subfolders; once set, the run stops and writes nothing more.
    const std::atomic<bool>* cancel = nullptr;
    // Tells the system a tile will be read soon (see ReadAheadPolicy); empty for the system's
    // own hint.
    ReadAheadHint readAheadHint;
    // Starts what converts the files of the 3D Tiles tilesets, at the first tileset's need,
    // with the run's check settings; empty for the worker processes (FileConversions).
    std::function<Result<std::function<void(ConversionJob, FileConversions::Done)>>(
        const CheckSettings&)>
        startConverter;
};

// Writes root.osgb into every folder in `folders`, in the order given: a translation by the
// folder's report.txt origin, or its metadata.xml's (carried over from the last one read when
// the folder has neither), over a proxy naming each tile root that loads (see FindTileRoot
// and LayoutOf). A folder holding only blocks has each block written first, then an
// untranslated index over theirs. Tiles are parsed only in worker processes. Never throws
// for bad input, never prints: what happened is in the report, folder by folder.
ExportReport ExportFolderIndexes(const std::vector<std::filesystem::path>& folders,
                                 const ExportOptions& options = {}, const ExportCalls& calls = {});

} // namespace brindle
