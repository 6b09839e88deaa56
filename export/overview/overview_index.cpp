#include "export/overview/overview_index.h"

#include "export/fs/overview_folder.h"
#include "export/overview/earlier_levels.h"
#include "export/overview/held_summary_codec.h"
#include "export/overview/held_tiles.h"
#include "export/overview/tile_placement.h"
#include "export/scan/subfolder_scan.h"
#include "export/system/task_pool.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

namespace brindle {

namespace fs = std::filesystem;

// The levels' own folder inside the listed folder, and whether it stays.
struct LevelsFolder {
    fs::path listed;
    fs::path path; // empty until made, while the earlier levels may yet stay as they are
    OverviewFolderCalls calls;
    bool committed = false;
    // The earlier levels stand for these as they are: the index's name for their top, and no
    // new folder, so that nothing a viewer may have open is replaced or removed.
    std::optional<std::string> keptTop;

    std::string Name() const { return NameText(path.filename()).value_or(std::string()); }
};

struct OverviewBuild::State {
    // Kept summaries the pool has decoded, by takeUnchanged()'s list, until the thread that
    // adds the tiles hands them on: the pool's threads must not wait on the pyramid, whose node
    // jobs they run. Before the pool, so that they outlive its last task.
    std::mutex decodedMutex;
    std::vector<std::pair<std::size_t, std::optional<TileSummary>>> decoded;
    LevelsFolder folder;
    LevelsTiles tiles;
    EarlierPyramid earlier;
    OverviewTree gridTree;
    // Builds the nodes of both pyramids, the grid's and the bounds', on the same threads; it
    // outlives them.
    std::unique_ptr<TaskPool> pool;
    std::unique_ptr<OverviewPyramid> grid;
    HeldTiles held;
    FinishedLevels finished;
    std::vector<OverviewHole> holes;
    // The earlier levels' nodes read back for their summaries, or decoded from those they
    // kept, by takeUnchanged()'s list.
    std::vector<bool> nodeReadEnded;
    Status levelsWritable; // fails once a node of the levels could not be written, with its cause
    std::mutex mutex;

    State(ScratchFileCalls heldFileCalls, fs::path scratchFolder)
        : held(std::move(heldFileCalls), std::move(scratchFolder)) {}

    // Under the lock.
    void takeNodeSummary(std::size_t wanted, std::optional<TileSummary> summary) {
        if (wanted >= nodeReadEnded.size() || nodeReadEnded[wanted])
            return;
        nodeReadEnded[wanted] = true;
        if (levelsWritable)
            levelsWritable = grid->addNodeSummary(wanted, std::move(summary));
    }

    // A summary that does not decode (a file damaged past its checksum) is one not read back:
    // the node above shows nothing of it this time and is built again next time.
    void decodeKept(std::size_t wanted, std::string bytes) {
        pool->submit([this, wanted, bytes = std::move(bytes)] {
            std::optional<TileSummary> summary = DecodeKeptSummary(bytes);
            const std::lock_guard<std::mutex> lock(decodedMutex);
            decoded.emplace_back(wanted, std::move(summary));
        });
    }

    // Under the lock: the kept summaries decoded so far go up.
    void passDecoded() {
        std::vector<std::pair<std::size_t, std::optional<TileSummary>>> ready;
        {
            const std::lock_guard<std::mutex> lock(decodedMutex);
            ready.swap(decoded);
        }
        for (auto& [wanted, summary] : ready)
            takeNodeSummary(wanted, std::move(summary));
    }

    // Makes the new levels' folder and the grid's pyramid in it, once the earlier levels
    // cannot stay.
    Status makeFolder() {
        Result<fs::path> made = MakeOverviewFolder(folder.listed, folder.calls);
        if (!made)
            return made.error();
        folder.path = std::move(*made);
        if (!gridTree.IsEmpty())
            grid = std::make_unique<OverviewPyramid>(gridTree, tiles.entries, folder.path,
                                                     PyramidOptions{}, earlier,
                                                     SystemNodeFileCalls(), pool.get());
        return {};
    }

    // The earlier levels' top, when they stand for these whole: every tile on the grid known,
    // every other one left out by its cached verdict (such a tile has no part in the levels),
    // and every node file as the manifest recorded it.
    std::optional<std::string>
    unchangedTop(const std::vector<std::optional<KnownTile>>& known,
                 const std::vector<std::optional<LevelsCheck>>& cached) const {
        if (gridTree.IsEmpty() || known.size() != tiles.size() || cached.size() != tiles.size())
            return std::nullopt;
        for (std::size_t t = 0; t < tiles.size(); ++t) {
            const bool leftOut = cached[t] && !cached[t]->listed();
            if (tiles.onGrid[t] ? !known[t] : !leftOut)
                return std::nullopt;
        }
        const OverviewPyramid before(gridTree, tiles.entries, earlier.folder, PyramidOptions{},
                                     earlier);
        return before.unchangedTop(known);
    }

    // The tile lies under a node taken from the earlier levels, or they stay whole: its stamp
    // and hole are those they recorded.
    void keepEarlierTile(std::size_t t, const std::optional<KnownTile>& known) {
        tiles.checkEnded[t] = true;
        // Left out and off the grid, where the earlier levels stay: no part in them.
        if (!known)
            return;
        const ManifestTile& kept = earlier.manifest->tiles.at(tiles.entries[t]);
        finished.manifest.tiles[tiles.entries[t]] = kept;
        const auto summaryState = static_cast<SummaryState>(kept.summaryState);
        if (known->listed && summaryState != SummaryState::Made)
            holes.push_back({tiles.names[t], FailureOf(summaryState), {}});
    }

    // A tile whose check never ended here is not the levels' to name; a node whose read never
    // ended shows nothing in the node above it.
    void closeWhatNeverCame() {
        for (std::size_t k = 0; k < nodeReadEnded.size() && levelsWritable; ++k)
            if (!nodeReadEnded[k])
                levelsWritable = grid->addNodeSummary(k, std::nullopt);
        for (std::size_t tile = 0; tile < tiles.size() && levelsWritable; ++tile)
            if (!tiles.checkEnded[tile] && tiles.onGrid[tile])
                levelsWritable = grid->leaveOut(tile, TileStamp({}, SummaryState::NotMade));
        std::fill(tiles.checkEnded.begin(), tiles.checkEnded.end(), true);
    }

    void finishGrid() {
        if (!grid || !levelsWritable)
            return;
        Result<PyramidTop> top = grid->finish();
        if (!top)
            levelsWritable = top.error();
        else {
            finished.tops.push_back(folder.Name() + '\\' + top->file);
            finished.picture = std::move(top->picture);
        }
        finished.manifest.nodes = grid->manifest().nodes;
    }
};

OverviewBuild::OverviewBuild(std::unique_ptr<State> state) : state_(std::move(state)) {}

OverviewBuild::~OverviewBuild() {
    state_->grid.reset();
    const LevelsFolder& folder = state_->folder;
    if (!folder.committed && !folder.keptTop && !folder.path.empty())
        (void)RemoveOverviewFolder(folder.path, folder.calls);
}

Result<std::shared_ptr<OverviewBuild>>
OverviewBuild::Start(const fs::path& listed, const std::string& entryPrefix,
                     const std::vector<LevelsTile>& tiles, unsigned threads,
                     ScratchFileCalls heldFileCalls, const fs::path& scratchFolder,
                     const EarlierLevels& earlier, OverviewFolderCalls folderCalls) {
    std::error_code ec;
    auto state = std::make_unique<State>(std::move(heldFileCalls), scratchFolder.empty()
                                                                       ? fs::temp_directory_path(ec)
                                                                       : scratchFolder);
    state->folder.listed = listed;
    state->folder.calls = folderCalls;
    state->pool = std::make_unique<TaskPool>(std::max(1u, threads));
    state->tiles = LevelsTiles::Of(tiles, entryPrefix);
    std::vector<OverviewTile> named;
    named.reserve(tiles.size());
    for (const std::string& name : state->tiles.names)
        named.push_back({name, std::nullopt});
    OverviewLayout layout = PlaceTiles(named);
    for (const OverviewNode& node : layout.grid.nodes)
        for (const std::size_t tile : node.tiles)
            state->tiles.onGrid[tile] = true;
    state->earlier = ReadEarlierPyramid(earlier.folder);
    state->gridTree = std::move(layout.grid);
    // takeUnchanged() makes the folder, unless the earlier levels can stay as they are.
    if (!(earlier.keepIfUnchanged && state->earlier.manifest))
        if (const Status made = state->makeFolder(); !made)
            return made.error();
    return std::shared_ptr<OverviewBuild>(new OverviewBuild(std::move(state)));
}

OverviewBuild::TakenFromEarlier
OverviewBuild::takeUnchanged(const std::vector<std::optional<LevelsCheck>>& cached) {
    State& state = *state_;
    const std::lock_guard<std::mutex> lock(state.mutex);
    LevelsTiles& tiles = state.tiles;
    const std::shared_ptr<const OverviewManifest>& before = state.earlier.manifest;
    const std::size_t count = std::min(cached.size(), tiles.size());
    std::vector<std::optional<KnownTile>> known(tiles.size());
    for (std::size_t t = 0; t < count && before; ++t)
        if (cached[t] && tiles.onGrid[t])
            known[t] = KnownFromBefore(*cached[t], *before, tiles.entries[t]);
    UnchangedNodesTaken taken;
    if (state.folder.path.empty()) {
        if (const std::optional<std::string> top = state.unchangedTop(known, cached)) {
            state.folder.path = state.earlier.folder;
            state.folder.keptTop = state.folder.Name() + '\\' + *top;
            taken.tilesUnderTakenNodes.assign(tiles.size(), true);
        } else if (const Status made = state.makeFolder(); !made) {
            // The levels fail; the tiles' verdicts still stand.
            state.levelsWritable = made;
        }
    }
    if (state.grid && before)
        taken = state.grid->takeUnchangedNodes(known);
    TakenFromEarlier result;
    for (std::size_t t = 0; t < count; ++t) {
        if (t < taken.tilesUnderTakenNodes.size() && taken.tilesUnderTakenNodes[t]) {
            state.keepEarlierTile(t, known[t]);
        } else if (cached[t]) {
            result.checkAgain.push_back(t);
        }
    }
    // A summary the earlier levels kept is decoded on the levels' threads while the tiles are
    // checked; the rest are read back in workers as any file of the folder is: the levels'
    // files are on the user's disk, where anything may have become of them.
    state.nodeReadEnded.assign(taken.summariesWanted.size(), false);
    for (std::size_t k = 0; k < taken.summariesWanted.size(); ++k) {
        if (k < taken.keptSummaries.size() && !taken.keptSummaries[k].empty())
            state.decodeKept(k, std::move(taken.keptSummaries[k]));
        else
            result.nodeFilesToRead.push_back(
                {tiles.size() + k, fs::path(taken.summariesWanted[k])});
    }
    return result;
}

void OverviewBuild::tileChecked(std::size_t checked, const LevelsCheck& check,
                                SummaryState summaryState,
                                std::shared_ptr<const TileSummary> summary) {
    State& state = *state_;
    const std::lock_guard<std::mutex> lock(state.mutex);
    LevelsTiles& tiles = state.tiles;
    state.passDecoded();
    // Ids past the tiles' are the node files read back for their summaries.
    if (checked >= tiles.size()) {
        state.takeNodeSummary(checked - tiles.size(), summaryState == SummaryState::Made && summary
                                                          ? std::optional<TileSummary>(*summary)
                                                          : std::nullopt);
        return;
    }
    const std::size_t tile = checked;
    if (tiles.checkEnded[tile])
        return;
    tiles.checkEnded[tile] = true;
    const std::uint64_t stamp = TileStamp(check, summaryState);
    state.finished.manifest.tiles[tiles.entries[tile]] = {stamp,
                                                          static_cast<std::uint8_t>(summaryState)};
    if (check.listed() && !summary)
        state.holes.push_back({tiles.names[tile], FailureOf(summaryState), {}});
    if (!tiles.onGrid[tile]) {
        // Kept for finish(), its summary in the scratch file while the levels are whole.
        if (check.listed())
            if (const Status held = state.held.Hold(
                    tile, summary ? std::optional<Extent>(summary->extent) : check.bound,
                    state.levelsWritable ? summary.get() : nullptr, stamp);
                !held)
                state.levelsWritable = held;
        return;
    }
    if (!state.levelsWritable)
        return;
    state.levelsWritable =
        check.listed()
            ? state.grid->addTile(
                  tile, summary ? std::optional<TileSummary>(*summary) : std::nullopt, stamp)
            : state.grid->leaveOut(tile, stamp);
}

Result<std::vector<std::string>> OverviewBuild::finish() {
    State& state = *state_;
    // Every kept summary decoded, before the lock, which the pool's tasks never take.
    state.pool->waitIdle();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.passDecoded();
    if (state.folder.keptTop)
        return std::vector<std::string>{*state.folder.keptTop};
    if (state.folder.path.empty())
        return state.levelsWritable ? SystemError(std::errc::no_such_file_or_directory)
                                    : state.levelsWritable.error();
    state.closeWhatNeverCame();
    state.finishGrid();
    if (!state.levelsWritable)
        return state.levelsWritable.error();
    if (!state.held.Empty())
        state.levelsWritable =
            state.held.BuildLevels(state.tiles, state.folder.path, state.folder.Name(),
                                   state.earlier, state.pool.get(), state.finished);
    state.held.DropScratch();
    if (!state.levelsWritable)
        return state.levelsWritable.error();
    // Last before the index names the levels. A manifest not written costs the next run the
    // time of a whole build, and nothing else.
    (void)WriteManifest(state.folder.path, state.finished.manifest);
    // On disk before any index names them: after a power cut, an index naming levels that
    // never reached the disk would show holes for good.
    if (const Status flushed = state.folder.calls.flushFolder(state.folder.path); !flushed)
        return flushed.error();
    std::sort(state.holes.begin(), state.holes.end(),
              [](const OverviewHole& a, const OverviewHole& b) {
                  return SubfolderPathNameLess(a.name, b.name);
              });
    return state.finished.tops;
}

SummaryCount OverviewBuild::summaries() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    SummaryCount count = state_->finished.heldSummaries;
    if (state_->grid) {
        const SummaryCount grid = state_->grid->summaries();
        count.live += grid.live;
        count.peak = std::max(count.peak, grid.peak);
    }
    return count;
}

ReportImage OverviewBuild::picture() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->finished.picture;
}

std::vector<OverviewHole> OverviewBuild::holes() const {
    return state_->holes;
}

void OverviewBuild::commit() {
    state_->folder.committed = true;
}

const fs::path& OverviewBuild::folder() const {
    return state_->folder.path;
}

std::vector<Problem> RemoveOtherOverviews(const fs::path& listed, const fs::path& keep) {
    // Empty but for our marker at most: one that will not go now is out of the scan's way, and
    // the next run's to remove.
    (void)RemoveUnfinishedOverviewFolders(listed);
    std::vector<Problem> kept;
    for (const fs::path& folder : OverviewFolders(listed)) {
        if (!keep.empty() && folder.filename() == keep.filename())
            continue;
        if (const Status removed = RemoveOverviewFolder(folder); !removed)
            kept.push_back({ProblemKind::OldOverviewKept, folder, removed.error()});
    }
    return kept;
}

} // namespace brindle
