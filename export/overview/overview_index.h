#pragma once

#include "export/error/result.h"
#include "export/export_report.h"
#include "export/fs/overview_folder.h"
#include "export/fs/scratch_file.h"
#include "export/overview/levels_tiles.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_summary.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// The levels a re-run starts from: the folder of ours the index on disk names (empty for none),
// and whether they may stay as they are when nothing they rest on has changed (with the verdict
// cache, which tells that before any tile is read).
struct EarlierLevels {
    std::filesystem::path folder;
    bool keepIfUnchanged = false;
};

// One folder's overview levels, built while its tiles are checked: each summary goes into the
// levels as it comes, so that only the levels' frontier is held, never every tile's. The levels
// are written into a new folder of ours inside the listed folder; until commit() the folder is
// removed again when this ends, so a failed or cancelled run leaves the old index and its levels
// as they were.
class OverviewBuild {
public:
    // Makes the levels' folder inside `listed` for `tiles`, the folder's whole work, whose
    // folders the index names with `entryPrefix` before them (as the scan's layout says; empty
    // when the tile folders are the listed folder's own). `threads`: how many build the levels'
    // nodes. `heldFileCalls` write the summaries of the tiles without grid names, which wait
    // until finish() places them in a scratch file on the disk of `scratchFolder` (the system's
    // temporary folder when empty), never in the user's. Nodes unchanged since `earlier` are
    // taken from there; with keepIfUnchanged, the folder is made by takeUnchanged(), and only
    // when the earlier levels cannot stay.
    static Result<std::shared_ptr<OverviewBuild>>
    Start(const std::filesystem::path& listed, const std::string& entryPrefix,
          const std::vector<LevelsTile>& tiles, unsigned threads,
          ScratchFileCalls heldFileCalls = SystemScratchFileCalls(),
          const std::filesystem::path& scratchFolder = {}, const EarlierLevels& earlier = {},
          OverviewFolderCalls folderCalls = SystemOverviewFolderCalls());
    ~OverviewBuild();
    OverviewBuild(const OverviewBuild&) = delete;
    OverviewBuild& operator=(const OverviewBuild&) = delete;

    // For a re-run, before any check: takes every node of the earlier levels whose tiles all
    // have the stamps they had then, by their verdicts from the cache (`cached`, by tile, none
    // for a tile without a cached verdict), so that those tiles need no summary; or, when all
    // of them do and their files check out, keeps the earlier levels as they are.
    struct TakenFromEarlier {
        // The cached tiles whose check must come again all the same, for their summaries:
        // those beside a tile that changed.
        std::vector<std::size_t> checkAgain;
        // The taken nodes a new node is built over whose summaries the earlier levels did not
        // keep: files of folder() to be read back for their summaries as any file of the
        // folder is, in the run's pool, after the folder's tiles to check; each with its id, past
        // the tiles' (the first the folder's tile count). The kept summaries are decoded on the
        // levels' own threads meanwhile.
        struct NodeRead {
            std::size_t id = 0;
            std::filesystem::path file;
        };
        std::vector<NodeRead> nodeFilesToRead;
    };
    TakenFromEarlier takeUnchanged(const std::vector<std::optional<LevelsCheck>>& cached);

    // Called once for each tile as soon as its check has ended (`tile` its id from the scan, or
    // past the tiles' ids a node file's read back), from any thread. `summary` is there when
    // the state is Made.
    void tileChecked(std::size_t tile, const LevelsCheck& check, SummaryState state,
                     std::shared_ptr<const TileSummary> summary);

    // Once every tile is in: the names, relative to the listed folder, by which the index
    // reaches the levels' tops; or why the levels could not be written (OverviewNotWritten).
    // The levels are on disk by then, so that an index may name them.
    Result<std::vector<std::string>> finish();

    // How many tile and node summaries the levels held in memory at once, in either pyramid;
    // the peak is the whole build's once finish() is done. A held tile's summary is in scratch.
    SummaryCount summaries() const;

    // After finish(): the levels' top seen from above, when this build made it; empty when the
    // top was taken whole from the earlier levels.
    ReportImage picture() const;

    // The listed tiles the levels show nothing of, in name order.
    std::vector<OverviewHole> holes() const;

    // The levels' folder is the index's now: it stays.
    void commit();
    // The levels' folder: the earlier one, when it stays as it was.
    const std::filesystem::path& folder() const;

    struct State;

private:
    explicit OverviewBuild(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Removes the folders of overview levels of ours inside `listed`, but `keep`: an index just
// written names no other. What could not be removed is a warning (OldOverviewKept), the next
// run's to remove. Folders a killed run left before they were ours by name go as well.
std::vector<Problem> RemoveOtherOverviews(const std::filesystem::path& listed,
                                          const std::filesystem::path& keep = {});

} // namespace brindle
