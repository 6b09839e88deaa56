#include "export/overview_index.h"

#include "export/fs/overview_folder.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_placement.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

namespace brindle {

namespace fs = std::filesystem;

namespace {

SummaryFailure FailureOf(SummaryState state) {
    switch (state) {
    case SummaryState::TooLarge:
        return SummaryFailure::TooLarge;
    case SummaryState::OutOfMemory:
        return SummaryFailure::OutOfMemory;
    case SummaryState::Crashed:
        return SummaryFailure::Crashed;
    case SummaryState::NotMade:
    case SummaryState::Made:
    case SummaryState::NoSurface:
        break;
    }
    return SummaryFailure::NoSurface;
}

// Where a tile without a grid name lies, when its check found its bound.
std::optional<Extent> ExtentOfBound(const TileBound& bound) {
    if (bound.kind != TileBound::Kind::Known || !(bound.radius > 0))
        return std::nullopt;
    const Extent extent{bound.centre[0] - bound.radius, bound.centre[1] - bound.radius,
                        bound.centre[0] + bound.radius, bound.centre[1] + bound.radius};
    return extent.IsUsable() ? std::optional<Extent>(extent) : std::nullopt;
}

// The name by which a node of the levels reaches a tile's root file: from the levels' folder,
// with forward slashes, as the database pager that loads it wants them.
std::string LevelEntryFor(const std::string& prefix, const TileCheck& tile) {
    std::string entry = "..";
    if (!prefix.empty()) {
        std::string slashed = prefix;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        entry += '/' + slashed;
    }
    return entry + '/' + NameText(tile.folder.filename()).value_or(std::string()) + '/' +
           NameText(tile.rootFileName()).value_or(std::string());
}

} // namespace

// A tile whose name places it nowhere on the grid is held until the end, when what its check
// found tells where it lies.
struct HeldTile {
    std::size_t tile = 0;
    std::optional<Extent> extent;
    std::shared_ptr<const TileSummary> summary;
};

struct OverviewBuild::Levels {
    fs::path folder;
    std::vector<std::string> entries;      // by tile, from the levels' folder
    std::vector<std::string> indexEntries; // by tile, as the index names it
    std::vector<std::string> names;        // the tiles' subfolder names, by tile
    std::vector<bool> onGrid;              // by tile: placed by its grid name
    std::vector<bool> seen;                // by tile: its check has ended
    std::unique_ptr<OverviewPyramid> grid;
    std::vector<HeldTile> held;
    std::vector<OverviewHole> holes;
    Status written; // until a node of the levels could not be written
    bool committed = false;
    unsigned threads = 1;
    std::mutex mutex;
};

OverviewBuild::OverviewBuild(std::unique_ptr<Levels> levels) : levels_(std::move(levels)) {}

OverviewBuild::~OverviewBuild() {
    if (!levels_->committed) {
        levels_->grid.reset();
        (void)RemoveOverviewFolder(levels_->folder);
    }
}

Result<std::shared_ptr<OverviewBuild>> OverviewBuild::Start(const fs::path& listed,
                                                            const std::string& entryPrefix,
                                                            const FolderWork& work,
                                                            unsigned threads) {
    Result<fs::path> made = MakeOverviewFolder(listed);
    if (!made)
        return made.error();
    auto levels = std::make_unique<Levels>();
    levels->folder = std::move(*made);
    levels->threads = std::max(1u, threads);
    std::vector<OverviewTile> tiles;
    tiles.reserve(work.tiles.size());
    for (const TileCheck& tile : work.tiles) {
        levels->entries.push_back(LevelEntryFor(entryPrefix, tile));
        levels->indexEntries.push_back(
            TileEntryFor(entryPrefix, NameText(tile.folder.filename()).value_or(std::string()),
                         NameText(tile.rootFileName()).value_or(std::string()), IndexKind::Proxy));
        levels->names.push_back(NameText(tile.folder.filename()).value_or(std::string()));
        tiles.push_back({levels->names.back(), std::nullopt});
    }
    OverviewLayout layout = PlaceTiles(tiles);
    levels->onGrid.assign(work.tiles.size(), false);
    levels->seen.assign(work.tiles.size(), false);
    for (const OverviewNode& node : layout.grid.nodes)
        for (const std::size_t tile : node.tiles)
            levels->onGrid[tile] = true;
    PyramidOptions options;
    options.threads = levels->threads;
    if (!layout.grid.IsEmpty())
        levels->grid = std::make_unique<OverviewPyramid>(layout.grid, levels->entries,
                                                         levels->folder, options);
    return std::shared_ptr<OverviewBuild>(new OverviewBuild(std::move(levels)));
}

void OverviewBuild::tileChecked(std::size_t tile, const TileResult& result, SummaryState state,
                                std::shared_ptr<const TileSummary> summary) {
    Levels& levels = *levels_;
    const std::lock_guard<std::mutex> lock(levels.mutex);
    if (tile >= levels.seen.size() || levels.seen[tile])
        return;
    levels.seen[tile] = true;
    const bool listed = result.outcome.reason == TileStatus::Valid;
    if (listed && !summary)
        levels.holes.push_back({levels.names[tile], FailureOf(state), {}});
    if (!levels.onGrid[tile]) {
        if (listed)
            levels.held.push_back({tile, ExtentOfBound(result.bound), std::move(summary)});
        return;
    }
    if (!levels.written)
        return;
    levels.written = listed
                         ? levels.grid->addTile(tile, summary ? std::optional<TileSummary>(*summary)
                                                              : std::nullopt)
                         : levels.grid->leaveOut(tile);
}

Result<std::vector<std::string>> OverviewBuild::finish() {
    Levels& levels = *levels_;
    const std::lock_guard<std::mutex> lock(levels.mutex);
    std::vector<std::string> tops;
    const std::string folderName = NameText(levels.folder.filename()).value_or(std::string());
    // A tile whose check never ended here is not the levels' to name.
    for (std::size_t tile = 0; tile < levels.seen.size() && levels.written; ++tile)
        if (!levels.seen[tile] && levels.onGrid[tile])
            levels.written = levels.grid->leaveOut(tile);
    std::fill(levels.seen.begin(), levels.seen.end(), true);
    if (levels.grid && levels.written) {
        Result<PyramidTop> top = levels.grid->finish();
        if (!top)
            levels.written = top.error();
        else
            tops.push_back(folderName + '\\' + top->file);
    }
    if (!levels.written)
        return levels.written.error();
    if (!levels.held.empty()) {
        // Placed by where they lie, in levels of their own beside the grid's.
        std::vector<OverviewTile> tiles;
        for (const HeldTile& held : levels.held)
            tiles.push_back({std::string(), held.summary
                                                ? std::optional<Extent>(held.summary->extent)
                                                : held.extent});
        const OverviewLayout layout = PlaceTiles(tiles);
        std::vector<std::string> entries;
        for (const HeldTile& held : levels.held)
            entries.push_back(levels.entries[held.tile]);
        PyramidOptions options;
        options.threads = levels.threads;
        options.namePrefix = "B";
        OverviewPyramid bounds(layout.bounds, entries, levels.folder, options);
        for (std::size_t i = 0; i < levels.held.size() && levels.written; ++i) {
            const HeldTile& held = levels.held[i];
            levels.written = bounds.addTile(
                i, held.summary ? std::optional<TileSummary>(*held.summary) : std::nullopt);
        }
        // A tile that lies nowhere known is still reached from the levels' top.
        for (const UnplacedTile& unplaced : layout.unplaced)
            tops.push_back(levels.indexEntries[levels.held[unplaced.tile].tile]);
        levels.held.clear();
        if (levels.written && !layout.bounds.IsEmpty()) {
            Result<PyramidTop> top = bounds.finish();
            if (!top)
                levels.written = top.error();
            else
                tops.push_back(folderName + '\\' + top->file);
        }
    }
    if (!levels.written)
        return levels.written.error();
    std::sort(levels.holes.begin(), levels.holes.end(),
              [](const OverviewHole& a, const OverviewHole& b) {
                  return SubfolderPathNameLess(a.name, b.name);
              });
    return tops;
}

std::vector<OverviewHole> OverviewBuild::holes() const {
    return levels_->holes;
}

void OverviewBuild::commit() {
    levels_->committed = true;
}

const fs::path& OverviewBuild::folder() const {
    return levels_->folder;
}

std::vector<Problem> RemoveOtherOverviews(const fs::path& listed, const fs::path& keep) {
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
