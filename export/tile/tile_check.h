#pragma once

#include "export/export_report.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/isolation/check_outcome.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/scan/tile_root.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// What the check of one tile came to. The pool fills it in whole, and the verdict cache gives
// one back whole, so a new fact of a tile is added here and nowhere else on its way.
struct TileResult {
    // The root file as the scan saw it, then as it was just before its check. A verdict is
    // worth keeping only while the file stays as it was before the check.
    FileFacts facts;
    TileOutcome outcome;    // reason Valid for a tile that loads
    TileBound bound;        // for a paged index
    bool rechecked = false; // reached its memory ceiling and was checked again
    // The check followed files the root names, so its verdict does not rest on that file alone.
    bool followsOthers = false;
    bool indexScene = false; // it loads and holds no drawables, as an index over tile folders
    // When its check began, before the worker read a byte of the file: nanoseconds since 1970
    // by the system clock, 0 when no check began. A verdict holds for the bytes the file had
    // from then on.
    std::int64_t checkBegan = 0;
    // Its check has ended and the fields above hold its outcome: every tile's once the folder
    // is handed back whole; some, when the run was cancelled first.
    bool checked = false;
    // For an overview index: what came of the tile's summary, and the summary when it was
    // made. The summary is the check listener's (FolderWork::checkListener) to take as the
    // check ends; the folder's record keeps only its state.
    SummaryState summaryState = SummaryState::NotMade;
    std::shared_ptr<const TileSummary> summary;
};

// One candidate tile of a listed folder, as the scan found it, and its check.
struct TileCheck {
    // The tile's id: its place among the folder's tiles as the scan found them, which every
    // later stage (the verdict cache, the pool, the overview levels) names it by, whichever of
    // them it is handed on with. One of the overview's own node files read back has an id past
    // the tiles' (see OverviewBuild::settleUnchanged).
    std::size_t id = 0;
    std::filesystem::path folder; // the tile folder
    // The root file's name as it is on disk where its letter case differs from either name's
    // (ROOT.OSGB); empty for every other tile, which is almost every tile.
    std::filesystem::path listedRoot;
    // The name of the file its scene starts from, as the scan decided.
    TileRootName rootName = TileRootName::Root;
    // One of the overview's own node files, read back for its summary: only its own bytes are
    // parsed, whatever the run's parse mode, and no file it names is followed.
    bool levelFile = false;
    TileResult result;

    bool listed() const { return !listedRoot.empty(); }
    std::filesystem::path root() const {
        return listed() ? JoinPath(folder, listedRoot) : TileRootPath(folder, rootName);
    }
    std::filesystem::path rootFileName() const {
        return listed() ? listedRoot : TileRootFileName(folder, rootName);
    }
};

// Told of each tile of a folder as its check ends, its summary in its result, so that no
// summary need be held until the folder is done: the overview levels are built so.
class TileCheckListener {
public:
    virtual ~TileCheckListener() = default;
    // Called once for each tile of the folder, by its id (TileCheck::id), as soon as its check
    // has ended, before the folder is handed back; from any of the pool's threads, and from two
    // at once. `result.summary` is there when `result.summaryState` is Made.
    virtual void tileChecked(std::size_t tile, const TileResult& result) = 0;
};

// One listed folder's candidate tiles and, once checked, their outcomes.
struct FolderWork {
    FileFacts ownIndex; // the listed folder's root.osgb, which no tile may be
    // How a viewer comes to each tile: through the index this run writes into the folder, and
    // the indexes of the folders of blocks above it, innermost first (their paths in the
    // request's text form), searching the folders they leave. A tile whose names reach one of
    // them, written yet or not, would load its own index again.
    std::vector<std::string> indexesAbove;
    std::vector<std::string> searchAbove;
    std::vector<TileCheck> tiles;
    std::size_t remaining = 0; // tiles whose check has not ended
    std::optional<Problem> workersFailed;
    // For an overview index: told of each tile as its check ends, with its summary. Tiles are
    // summarised only then.
    std::shared_ptr<TileCheckListener> checkListener;
};

} // namespace brindle
