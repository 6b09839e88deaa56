#include "export/overview_index.h"

#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/overview/held_summary_codec.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_placement.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <tuple>
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

// What a tile's part in the levels rests on besides its name and entry: its root file as the
// verdict cache knows it, its verdict, and how its summary came out.
std::uint64_t TileStamp(const TileResult& result, SummaryState state) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto add = [&hash](std::uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            hash ^= (value >> (8 * i)) & 0xff;
            hash *= 0x100000001b3ull;
        }
    };
    const FileFacts& facts = result.facts;
    add(facts.size);
    add(static_cast<std::uint64_t>(facts.modified));
    add(static_cast<std::uint64_t>(facts.changed));
    add(facts.device);
    add(facts.inode);
    add(static_cast<std::uint64_t>(result.outcome.reason));
    add(static_cast<std::uint64_t>(state));
    return hash;
}

// The manifest of the levels the index on disk names, when they are a folder of ours: the levels a
// re-run may take unchanged nodes from. Not merely the newest folder, which may be one a killed run
// left half made.
std::shared_ptr<const OverviewManifest> PreviousManifest(const fs::path& named) {
    if (named.empty() || !IsOverviewFolder(named))
        return nullptr;
    std::optional<OverviewManifest> manifest = ReadManifest(named);
    if (!manifest)
        return nullptr;
    return std::make_shared<const OverviewManifest>(std::move(*manifest));
}

// A summary that a later run may count on: one that the tile's bytes decide, not the machine's
// memory or a crash.
bool LastingSummary(SummaryState state) {
    return state != SummaryState::OutOfMemory && state != SummaryState::Crashed;
}

// The tile's stamp as its check would give it, when its verdict from the cache and the stamp
// the earlier levels kept for it say it is unchanged.
std::optional<KnownTile> KnownFromBefore(const TileResult& cached, const OverviewManifest& before,
                                         const std::string& entry) {
    const auto kept = before.tiles.find(entry);
    if (kept == before.tiles.end() ||
        kept->second.summaryState > static_cast<std::uint8_t>(SummaryState::Crashed))
        return std::nullopt;
    const auto state = static_cast<SummaryState>(kept->second.summaryState);
    if (!LastingSummary(state) || TileStamp(cached, state) != kept->second.stamp)
        return std::nullopt;
    return KnownTile{kept->second.stamp, cached.outcome.reason == TileStatus::Valid};
}

// The tree's tiles, each subtree's together: depth first from the root, the quadrants in
// their order, so that a node's last child comes soon after its first and what the pyramid
// holds at once is a branch's frontier, a few summaries a level.
std::vector<std::size_t> TilesBranchByBranch(const OverviewTree& tree) {
    std::vector<std::size_t> order;
    if (tree.IsEmpty())
        return order;
    // Not by recursion: a tree is as deep as its grid is wide, in bits.
    std::vector<std::size_t> stack{tree.Root()};
    while (!stack.empty()) {
        const OverviewNode& node = tree.nodes[stack.back()];
        stack.pop_back();
        order.insert(order.end(), node.tiles.begin(), node.tiles.end());
        for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
            if (*child != kNoNode)
                stack.push_back(*child);
    }
    return order;
}

} // namespace

// A tile whose name places it nowhere on the grid is held until the end, when what its check
// found tells where it lies. Its summary waits in a scratch file outside the user's folder,
// compressed to at most kHeldSummaryMaxBytes: held in memory, a block of such tiles would take
// hundreds of kilobytes a tile.
struct HeldTile {
    std::size_t tile = 0;
    std::optional<Extent> extent; // its summary's, else its bound's
    std::uint64_t stamp = 0;
    std::uint64_t offset = 0; // its summary's place in the scratch file
    std::size_t bytes = 0;    // and its size there; none without a summary
};

struct OverviewBuild::Levels {
    fs::path listed;
    fs::path folder; // empty until made, while the earlier levels may yet stay as they are
    std::vector<std::string> entries;      // by tile, from the levels' folder
    std::vector<std::string> indexEntries; // by tile, as the index names it
    std::vector<std::string> names;        // the tiles' subfolder names, by tile
    std::vector<bool> onGrid;              // by tile: placed by its grid name
    std::vector<bool> checkEnded;          // by tile: its check has ended
    OverviewTree gridTree;
    std::unique_ptr<OverviewPyramid> grid;
    fs::path previousFolder;
    std::shared_ptr<const OverviewManifest> previous;
    OverviewManifest manifest; // of every pyramid finished
    std::vector<HeldTile> held;
    ScratchFileCalls heldFileCalls;
    fs::path scratchFolder;
    std::unique_ptr<ScratchFile> heldFile; // once a summary is held
    std::uint64_t heldBytes = 0;           // written to it
    OverviewFolderCalls folderCalls;
    std::vector<OverviewHole> holes;
    Status buildStatus; // an error once a node of the levels could not be written
    bool committed = false;
    // The earlier levels stand for these as they are: the index's name for their top, and no
    // new folder, so that nothing a viewer may have open is replaced or removed.
    std::optional<std::string> keptTop;
    unsigned threads = 1;
    // The earlier levels' nodes read back for their summaries, by settleUnchanged()'s list: the
    // ids after the tiles', which go to the pool with the folder's tiles.
    std::vector<bool> nodeSummaryGiven;
    SummaryCount boundsSummaries; // the bounds pyramid's, once finished
    ReportImage picture;          // the first top's seen from above, once finished
    std::mutex mutex;

    // Keeps a listed tile without a grid name for finish(), its summary in the scratch file. A
    // summary that cannot be written fails the levels as a node file not written does.
    void hold(std::size_t tile, const TileBound& bound, const TileSummary* summary,
              std::uint64_t stamp) {
        HeldTile tileHeld{
            tile, summary ? std::optional<Extent>(summary->extent) : ExtentOfBound(bound), stamp};
        if (summary && buildStatus) {
            const std::optional<std::string> bytes = EncodeHeldSummary(*summary);
            buildStatus = bytes ? writeHeld(*bytes) : Status(SystemError(std::errc::not_supported));
            if (buildStatus) {
                tileHeld.offset = heldBytes;
                tileHeld.bytes = bytes->size();
                heldBytes += bytes->size();
            }
        }
        held.push_back(tileHeld);
    }

    Status writeHeld(std::string_view bytes) {
        if (!heldFile) {
            Result<std::unique_ptr<ScratchFile>> made = heldFileCalls.create(scratchFolder);
            if (!made)
                return made.error();
            heldFile = std::move(*made);
        }
        return heldFileCalls.append(*heldFile, bytes);
    }

    // A held tile's summary, read back whole from the scratch file.
    Result<TileSummary> readHeld(const HeldTile& tile, std::string& bytes) const {
        bytes.resize(tile.bytes);
        if (const Status read = heldFile->readAt(tile.offset, bytes.data(), bytes.size()); !read)
            return read.error();
        // Not a summary: the file is no longer the one written.
        std::optional<TileSummary> summary = DecodeHeldSummary(bytes);
        if (!summary)
            return SystemError(std::errc::io_error);
        return std::move(*summary);
    }

    // The tiles without grid names, in levels of their own placed by where they lie, their
    // summaries added branch by branch, each read back just before.
    Status buildHeld(std::vector<std::string>& tops, const std::string& folderName);

    // Under the lock.
    void nodeRead(std::size_t wanted, SummaryState state,
                  const std::shared_ptr<const TileSummary>& summary) {
        if (wanted >= nodeSummaryGiven.size() || nodeSummaryGiven[wanted])
            return;
        nodeSummaryGiven[wanted] = true;
        if (buildStatus)
            buildStatus = grid->addNodeSummary(wanted, state == SummaryState::Made && summary
                                                           ? std::optional<TileSummary>(*summary)
                                                           : std::nullopt);
    }

    // Makes the new levels' folder and the grid's pyramid in it, once the earlier levels
    // cannot stay.
    Status makeFolder() {
        Result<fs::path> made = MakeOverviewFolder(listed, folderCalls);
        if (!made)
            return made.error();
        folder = std::move(*made);
        makeGrid();
        return {};
    }

    void makeGrid() {
        if (gridTree.IsEmpty())
            return;
        grid = std::make_unique<OverviewPyramid>(gridTree, entries, folder, gridOptions());
    }

    PyramidOptions gridOptions() const {
        PyramidOptions options;
        options.threads = threads;
        options.previousFolder = previousFolder;
        options.previous = previous;
        return options;
    }

    // The earlier levels' top, when they stand for these whole: every tile on the grid known,
    // every other one left out by its cached verdict (such a tile has no part in the levels),
    // and every node file as the manifest recorded it.
    std::optional<std::string> unchangedTop(const std::vector<std::optional<KnownTile>>& known,
                                            const FolderWork& work,
                                            const std::vector<bool>& cached) {
        if (gridTree.IsEmpty() || known.size() != onGrid.size() ||
            work.tiles.size() != onGrid.size())
            return std::nullopt;
        for (std::size_t t = 0; t < onGrid.size(); ++t) {
            const bool leftOut = t < cached.size() && cached[t] &&
                                 work.tiles[t].result.outcome.reason != TileStatus::Valid;
            if (onGrid[t] ? !known[t] : !leftOut)
                return std::nullopt;
        }
        PyramidOptions options = gridOptions();
        options.threads = 1;
        const OverviewPyramid earlier(gridTree, entries, previousFolder, options);
        return earlier.unchangedTop(known);
    }
};

OverviewBuild::OverviewBuild(std::unique_ptr<Levels> levels) : levels_(std::move(levels)) {}

OverviewBuild::~OverviewBuild() {
    levels_->grid.reset();
    if (!levels_->committed && !levels_->keptTop && !levels_->folder.empty())
        (void)RemoveOverviewFolder(levels_->folder, levels_->folderCalls);
}

Result<std::shared_ptr<OverviewBuild>>
OverviewBuild::Start(const fs::path& listed, const std::string& entryPrefix, const FolderWork& work,
                     unsigned threads, ScratchFileCalls heldFileCalls,
                     const fs::path& scratchFolder, const EarlierLevels& earlier,
                     OverviewFolderCalls folderCalls) {
    auto levels = std::make_unique<Levels>();
    levels->listed = listed;
    levels->folderCalls = folderCalls;
    levels->threads = std::max(1u, threads);
    levels->heldFileCalls = std::move(heldFileCalls);
    std::error_code ec;
    levels->scratchFolder = scratchFolder.empty() ? fs::temp_directory_path(ec) : scratchFolder;
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
    levels->checkEnded.assign(work.tiles.size(), false);
    for (const OverviewNode& node : layout.grid.nodes)
        for (const std::size_t tile : node.tiles)
            levels->onGrid[tile] = true;
    levels->previous = PreviousManifest(earlier.folder);
    if (levels->previous)
        levels->previousFolder = earlier.folder;
    levels->gridTree = std::move(layout.grid);
    // settleUnchanged() makes the folder, unless the earlier levels can stay as they are.
    if (!(earlier.keepIfUnchanged && levels->previous))
        if (const Status made = levels->makeFolder(); !made)
            return made.error();
    return std::shared_ptr<OverviewBuild>(new OverviewBuild(std::move(levels)));
}

OverviewBuild::Settled OverviewBuild::settleUnchanged(const FolderWork& work,
                                                      const std::vector<bool>& cached) {
    Levels& levels = *levels_;
    const std::lock_guard<std::mutex> lock(levels.mutex);
    const std::size_t count = std::min(work.tiles.size(), levels.checkEnded.size());
    std::vector<std::optional<KnownTile>> known(levels.checkEnded.size());
    for (std::size_t t = 0; t < count && levels.previous; ++t)
        if (t < cached.size() && cached[t] && levels.onGrid[t])
            known[t] = KnownFromBefore(work.tiles[t].result, *levels.previous, levels.entries[t]);
    Settled result;
    SettledLevels settled;
    if (levels.folder.empty()) {
        if (const std::optional<std::string> top = levels.unchangedTop(known, work, cached)) {
            levels.folder = levels.previousFolder;
            levels.keptTop =
                NameText(levels.folder.filename()).value_or(std::string()) + '\\' + *top;
            settled.tiles.assign(levels.checkEnded.size(), true);
        } else if (const Status made = levels.makeFolder(); !made) {
            // The levels fail; the tiles' verdicts still stand.
            levels.buildStatus = made;
        }
    }
    if (levels.grid && levels.previous)
        settled = levels.grid->settleUnchanged(known);
    std::vector<std::size_t>& tilesToRecheck = result.tilesToRecheck;
    for (std::size_t t = 0; t < count; ++t) {
        if (t < settled.tiles.size() && settled.tiles[t]) {
            levels.checkEnded[t] = true;
            // Left out and off the grid, where the earlier levels stay: no part in them.
            if (!known[t])
                continue;
            const ManifestTile& kept = levels.previous->tiles.at(levels.entries[t]);
            levels.manifest.tiles[levels.entries[t]] = kept;
            const auto state = static_cast<SummaryState>(kept.summaryState);
            if (known[t]->listed && state != SummaryState::Made)
                levels.holes.push_back({levels.names[t], FailureOf(state), {}});
        } else if (t < cached.size() && cached[t]) {
            tilesToRecheck.push_back(t);
        }
    }
    // Read back in workers as any file of the folder is: the levels' files are on the user's
    // disk, where anything may have become of them. Only the inline level is read.
    levels.nodeSummaryGiven.assign(settled.summariesWanted.size(), false);
    for (const std::string& name : settled.summariesWanted) {
        TileCheck node;
        node.folder = levels.folder;
        node.listedRoot = fs::path(name);
        node.levelFile = true;
        node.id = levels.checkEnded.size() + result.nodeReads.size();
        result.nodeReads.push_back(std::move(node));
    }
    return result;
}

void OverviewBuild::tileChecked(std::size_t tile, const TileResult& result) {
    Levels& levels = *levels_;
    const std::lock_guard<std::mutex> lock(levels.mutex);
    const SummaryState state = result.summaryState;
    const std::shared_ptr<const TileSummary>& summary = result.summary;
    if (tile >= levels.checkEnded.size()) {
        levels.nodeRead(tile - levels.checkEnded.size(), state, summary);
        return;
    }
    if (levels.checkEnded[tile])
        return;
    levels.checkEnded[tile] = true;
    const bool listed = result.outcome.reason == TileStatus::Valid;
    const std::uint64_t stamp = TileStamp(result, state);
    levels.manifest.tiles[levels.entries[tile]] = {stamp, static_cast<std::uint8_t>(state)};
    if (listed && !summary)
        levels.holes.push_back({levels.names[tile], FailureOf(state), {}});
    if (!levels.onGrid[tile]) {
        if (listed)
            levels.hold(tile, result.bound, summary.get(), stamp);
        return;
    }
    if (!levels.buildStatus)
        return;
    levels.buildStatus =
        listed ? levels.grid->addTile(
                     tile, summary ? std::optional<TileSummary>(*summary) : std::nullopt, stamp)
               : levels.grid->leaveOut(tile, stamp);
}

Status OverviewBuild::Levels::buildHeld(std::vector<std::string>& tops,
                                        const std::string& folderName) {
    std::vector<OverviewTile> tiles;
    std::vector<std::string> heldEntries;
    for (const HeldTile& tile : held) {
        tiles.push_back({std::string(), tile.extent});
        heldEntries.push_back(entries[tile.tile]);
    }
    const OverviewLayout layout = PlaceTiles(tiles);
    // A tile that lies nowhere known is still reached from the levels' top.
    for (const UnplacedTile& unplaced : layout.unplaced)
        tops.push_back(indexEntries[held[unplaced.tile].tile]);
    if (layout.bounds.IsEmpty())
        return {};
    PyramidOptions options;
    options.threads = threads;
    options.namePrefix = "B";
    options.previousFolder = previousFolder;
    options.previous = previous;
    OverviewPyramid bounds(layout.bounds, std::move(heldEntries), folder, options);
    std::string bytes;
    Status building;
    for (const std::size_t i : TilesBranchByBranch(layout.bounds)) {
        std::optional<TileSummary> summary;
        if (held[i].bytes > 0) {
            Result<TileSummary> read = readHeld(held[i], bytes);
            if (!read) {
                building = read.error();
                break;
            }
            summary = std::move(*read);
        }
        building = bounds.addTile(i, std::move(summary), held[i].stamp);
        if (!building)
            break;
    }
    if (building) {
        Result<PyramidTop> top = bounds.finish();
        if (!top)
            building = top.error();
        else
            tops.push_back(folderName + '\\' + top->file);
        if (top && picture.empty())
            picture = std::move(top->picture);
        const OverviewManifest ofBounds = bounds.manifest();
        manifest.nodes.insert(ofBounds.nodes.begin(), ofBounds.nodes.end());
    }
    boundsSummaries = bounds.summaries();
    held.clear();
    return building;
}

Result<std::vector<std::string>> OverviewBuild::finish() {
    Levels& levels = *levels_;
    const std::lock_guard<std::mutex> lock(levels.mutex);
    if (levels.keptTop)
        return std::vector<std::string>{*levels.keptTop};
    if (levels.folder.empty())
        return levels.buildStatus ? SystemError(std::errc::no_such_file_or_directory)
                                  : levels.buildStatus.error();
    // A node whose read never ended shows nothing in the node above it.
    for (std::size_t k = 0; k < levels.nodeSummaryGiven.size() && levels.buildStatus; ++k)
        if (!levels.nodeSummaryGiven[k])
            levels.buildStatus = levels.grid->addNodeSummary(k, std::nullopt);
    std::vector<std::string> tops;
    const std::string folderName = NameText(levels.folder.filename()).value_or(std::string());
    // A tile whose check never ended here is not the levels' to name.
    for (std::size_t tile = 0; tile < levels.checkEnded.size() && levels.buildStatus; ++tile)
        if (!levels.checkEnded[tile] && levels.onGrid[tile])
            levels.buildStatus = levels.grid->leaveOut(tile, TileStamp({}, SummaryState::NotMade));
    std::fill(levels.checkEnded.begin(), levels.checkEnded.end(), true);
    if (levels.grid && levels.buildStatus) {
        Result<PyramidTop> top = levels.grid->finish();
        if (!top)
            levels.buildStatus = top.error();
        else {
            tops.push_back(folderName + '\\' + top->file);
            levels.picture = std::move(top->picture);
        }
        levels.manifest.nodes = levels.grid->manifest().nodes;
    }
    if (!levels.buildStatus)
        return levels.buildStatus.error();
    if (!levels.held.empty())
        levels.buildStatus = levels.buildHeld(tops, folderName);
    // Whatever came of the levels, the held summaries are read back by now, or never.
    levels.heldFile.reset();
    if (!levels.buildStatus)
        return levels.buildStatus.error();
    // Last before the index names the levels. A manifest not written costs the next run the
    // time of a whole build, and nothing else.
    (void)WriteManifest(levels.folder, levels.manifest);
    // On disk before any index names them: after a power cut, an index naming levels that
    // never reached the disk would show holes for good.
    if (const Status flushed = levels.folderCalls.flushFolder(levels.folder); !flushed)
        return flushed.error();
    std::sort(levels.holes.begin(), levels.holes.end(),
              [](const OverviewHole& a, const OverviewHole& b) {
                  return SubfolderPathNameLess(a.name, b.name);
              });
    return tops;
}

SummaryCount OverviewBuild::summaries() const {
    const std::lock_guard<std::mutex> lock(levels_->mutex);
    SummaryCount count = levels_->boundsSummaries;
    if (levels_->grid) {
        const SummaryCount grid = levels_->grid->summaries();
        count.live += grid.live;
        count.peak = std::max(count.peak, grid.peak);
    }
    return count;
}

ReportImage OverviewBuild::picture() const {
    const std::lock_guard<std::mutex> lock(levels_->mutex);
    return levels_->picture;
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
