#pragma once

#include "export/export_report.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace brindle {

// Where a run stands; handed to the progress callback.
struct ExportProgress {
    std::size_t foldersDone = 0;
    std::size_t folderCount = 0;
    std::size_t subfoldersDone = 0; // validated so far, over all folders of the run
    std::size_t subfolderCount = 0; // to validate, over all folders of the run
    // The folder in hand: the first not yet written, or the last one once all are.
    std::filesystem::path folder;
};

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
    // Tells the system the file will be read soon; empty for the system's own hint. Called
    // from a thread of its own, one file at a time.
    std::function<void(const std::filesystem::path& file)> hint;
};

struct ExportOptions {
    unsigned jobs = 0;   // worker processes checking tiles; 0 means one per hardware thread
    bool dryRun = false; // scan and validate, write nothing
    IndexKind index = IndexKind::Proxy;
    // Load every tile in full, textures and referenced scenes included, as a viewer would.
    // Gives the same answer as the default check, which reads only each tile's own file.
    bool fullValidation = false;
    // Called as folders and subfolders complete, from the run's threads but never from two
    // at once. Keep it short: validation waits for it.
    std::function<void(const ExportProgress&)> progress;
    // Called from the run's thread as soon as a folder is written (or has failed), before the
    // next folder's turn; the report passed is final.
    std::function<void(const FolderReport&)> folderDone;
    // Checked between subfolders; once set, the run stops and writes nothing more.
    const std::atomic<bool>* cancel = nullptr;
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
    // Asked, from the run's thread, whether to replace an existing root.osgb that the run
    // would otherwise keep (`why` is ExistingHoldsScene or ExistingUnreadable), or to write an
    // index that names nothing (`why` is one of the NoTiles kinds); without it such a file is
    // kept, nothing is written, and the folder fails. Also asked (`why` is
    // MetadataGeographicSrs) whether to write an origin in degrees as a translation.
    std::function<bool(const Problem& why)> confirmReplace;
    // What is otherwise a warning and a doubtful index is an error, and the old index kept:
    // blocks of a folder of blocks in different spatial references.
    bool strict = false;
};

// Writes root.osgb into every folder in `folders`, in the order given: a translation by the
// folder's report.txt origin, or its metadata.xml's (carried over from the last one read when
// the folder has neither), over a proxy naming each tile root that loads (see FindTileRoot
// and LayoutOf). A folder holding only blocks has each block written first, then an
// untranslated index over theirs. Tiles are parsed only in worker processes. Never throws
// for bad input, never prints: what happened is in the report, folder by folder.
ExportReport ExportFolderIndexes(const std::vector<std::filesystem::path>& folders,
                                 const ExportOptions& options = {});

} // namespace brindle
