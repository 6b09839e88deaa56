#include "export/overview_index.h"

#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_placement.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"
#include "export/tile_check_pool.h"

#include <algorithm>
#include <limits>
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

// The manifest of the newest overview folder of ours in `listed` but `made`: the levels a
// re-run may take unchanged nodes from.
std::pair<fs::path, std::shared_ptr<const OverviewManifest>> PreviousLevels(const fs::path& listed,
                                                                            const fs::path& made) {
    const std::vector<fs::path> folders = OverviewFolders(listed);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (folder->filename() == made.filename())
            continue;
        std::optional<OverviewManifest> manifest = ReadManifest(*folder);
        if (!manifest)
            return {};
        return {*folder, std::make_shared<const OverviewManifest>(std::move(*manifest))};
    }
    return {};
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

// Removes a file of ours as its scope ends, whichever way it is left. A file that will not go
// stays in our folder, which goes with it.
class RemovedAtEnd {
public:
    explicit RemovedAtEnd(fs::path file) : file_(std::move(file)) {}
    ~RemovedAtEnd() {
        std::error_code ec;
        fs::remove(file_, ec);
    }
    RemovedAtEnd(const RemovedAtEnd&) = delete;
    RemovedAtEnd& operator=(const RemovedAtEnd&) = delete;

private:
    fs::path file_;
};

constexpr std::size_t kNoRecord = std::numeric_limits<std::size_t>::max();

} // namespace

// A tile whose name places it nowhere on the grid is held until the end, when what its check
// found tells where it lies. Its summary waits on disk, in the held summaries' file: held in
// memory, a block of such tiles would take hundreds of kilobytes a tile.
struct HeldTile {
    std::size_t tile = 0;
    std::optional<Extent> extent; // its summary's, else its bound's
    std::uint64_t stamp = 0;
    std::size_t record = kNoRecord; // its summary's place in the held summaries' file
};

struct OverviewBuild::Levels {
    fs::path folder;
    std::vector<std::string> entries;      // by tile, from the levels' folder
    std::vector<std::string> indexEntries; // by tile, as the index names it
    std::vector<std::string> names;        // the tiles' subfolder names, by tile
    std::vector<bool> onGrid;              // by tile: placed by its grid name
    std::vector<bool> seen;                // by tile: its check has ended
    std::unique_ptr<OverviewPyramid> grid;
    fs::path previousFolder;
    std::shared_ptr<const OverviewManifest> previous;
    OverviewManifest manifest; // of every pyramid finished
    std::vector<HeldTile> held;
    AppendFileCalls heldFileCalls;
    std::size_t heldRecords = 0; // summaries in the held summaries' file
    std::vector<OverviewHole> holes;
    Status written; // until a node of the levels could not be written
    bool committed = false;
    unsigned threads = 1;
    std::vector<std::size_t> places; // by the pool's tile: the work's; empty for the same
    // The earlier levels' nodes read back for their summaries, by settleUnchanged()'s list.
    std::vector<bool> nodeSummaryGiven;
    ExportProgress nodeProgress;
    std::unique_ptr<TileCheckPool> nodePool; // after `grid`, so that it ends first
    SummaryCount boundsSummaries;            // the bounds pyramid's, once finished
    ReportImage picture;                     // the first top's seen from above, once finished
    std::mutex mutex;

    fs::path heldFile() const {
        return JoinPath(folder, fs::path(std::string(kHeldSummariesName)));
    }

    // Keeps a listed tile without a grid name for finish(), its summary on disk. A summary
    // that cannot be written fails the levels as a node file not written does.
    void hold(std::size_t tile, const TileBound& bound, const TileSummary* summary,
              std::uint64_t stamp) {
        HeldTile tileHeld{
            tile, summary ? std::optional<Extent>(summary->extent) : ExtentOfBound(bound), stamp};
        if (summary && written) {
            written = writeHeld(*summary);
            if (written)
                tileHeld.record = heldRecords++;
        }
        held.push_back(tileHeld);
    }

    Status writeHeld(const TileSummary& summary) {
        if (heldRecords == 0)
            if (const Status created = heldFileCalls.create(heldFile()); !created)
                return created;
        return heldFileCalls.append(heldFile(), EncodeSummary(summary));
    }

    // Held tile `record`'s summary, read back whole from the held summaries' file.
    static Result<TileSummary> readHeld(RegularFile& file, std::size_t record, std::string& bytes) {
        if (const Status sought = file.seek(std::uint64_t{record} * kSummaryBytes); !sought)
            return sought.error();
        bytes.resize(kSummaryBytes);
        const Result<std::size_t> read = file.read(bytes.data(), bytes.size());
        if (!read)
            return read.error();
        // Short or not a summary: the file is no longer the one written.
        std::optional<TileSummary> summary =
            *read == kSummaryBytes ? DecodeSummary(bytes) : std::nullopt;
        if (!summary)
            return SystemError(std::errc::io_error);
        return std::move(*summary);
    }

    Status openHeld(RegularFile& file) const {
        const Result<RegularFile::Opened> opened = file.open(heldFile());
        if (!opened)
            return opened.error();
        if (*opened != RegularFile::Opened::Yes ||
            file.size() != std::uint64_t{heldRecords} * kSummaryBytes)
            return SystemError(std::errc::io_error);
        return {};
    }

    // The tiles without grid names, in levels of their own placed by where they lie, their
    // summaries added branch by branch, each read back just before.
    Status buildHeld(std::vector<std::string>& tops, const std::string& folderName);

    void nodeRead(std::size_t wanted, SummaryState state,
                  const std::shared_ptr<const TileSummary>& summary) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (wanted >= nodeSummaryGiven.size() || nodeSummaryGiven[wanted])
            return;
        nodeSummaryGiven[wanted] = true;
        if (written)
            written = grid->addNodeSummary(wanted, state == SummaryState::Made && summary
                                                       ? std::optional<TileSummary>(*summary)
                                                       : std::nullopt);
    }
};

namespace {

// Takes the summaries of the earlier levels' nodes as the workers read them back.
class NodeSummaries final : public SummarySink {
public:
    explicit NodeSummaries(OverviewBuild::Levels& levels) : levels_(levels) {}
    void tileChecked(std::size_t wanted, const TileResult& /*result*/, SummaryState state,
                     std::shared_ptr<const TileSummary> summary) override {
        levels_.nodeRead(wanted, state, summary);
    }

private:
    OverviewBuild::Levels& levels_;
};

} // namespace

OverviewBuild::OverviewBuild(std::unique_ptr<Levels> levels) : levels_(std::move(levels)) {}

OverviewBuild::~OverviewBuild() {
    levels_->nodePool.reset();
    if (!levels_->committed) {
        levels_->grid.reset();
        (void)RemoveOverviewFolder(levels_->folder);
    }
}

Result<std::shared_ptr<OverviewBuild>>
OverviewBuild::Start(const fs::path& listed, const std::string& entryPrefix, const FolderWork& work,
                     unsigned threads, AppendFileCalls heldFileCalls) {
    Result<fs::path> made = MakeOverviewFolder(listed);
    if (!made)
        return made.error();
    auto levels = std::make_unique<Levels>();
    levels->folder = std::move(*made);
    levels->threads = std::max(1u, threads);
    levels->heldFileCalls = std::move(heldFileCalls);
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
    std::tie(levels->previousFolder, levels->previous) = PreviousLevels(listed, levels->folder);
    PyramidOptions options;
    options.threads = levels->threads;
    options.previousFolder = levels->previousFolder;
    options.previous = levels->previous;
    if (!layout.grid.IsEmpty())
        levels->grid = std::make_unique<OverviewPyramid>(layout.grid, levels->entries,
                                                         levels->folder, options);
    return std::shared_ptr<OverviewBuild>(new OverviewBuild(std::move(levels)));
}

std::vector<std::size_t> OverviewBuild::settleUnchanged(const FolderWork& work,
                                                        const std::vector<bool>& cached,
                                                        const CheckSettings& settings) {
    Levels& levels = *levels_;
    const std::lock_guard<std::mutex> lock(levels.mutex);
    const std::size_t count = std::min(work.tiles.size(), levels.seen.size());
    std::vector<std::optional<KnownTile>> known(levels.seen.size());
    for (std::size_t t = 0; t < count && levels.previous; ++t)
        if (t < cached.size() && cached[t] && levels.onGrid[t])
            known[t] = KnownFromBefore(work.tiles[t].result, *levels.previous, levels.entries[t]);
    SettledLevels settled;
    if (levels.grid && levels.previous)
        settled = levels.grid->settleUnchanged(known);
    std::vector<std::size_t> again;
    for (std::size_t t = 0; t < count; ++t) {
        if (t < settled.tiles.size() && settled.tiles[t]) {
            levels.seen[t] = true;
            const ManifestTile& kept = levels.previous->tiles.at(levels.entries[t]);
            levels.manifest.tiles[levels.entries[t]] = kept;
            const auto state = static_cast<SummaryState>(kept.summaryState);
            if (known[t]->listed && state != SummaryState::Made)
                levels.holes.push_back({levels.names[t], FailureOf(state), {}});
        } else if (t < cached.size() && cached[t]) {
            again.push_back(t);
        }
    }
    if (settled.summariesWanted.empty())
        return again;
    // Read back in workers as any file of the folder is: the levels' files are on the user's
    // disk, where anything may have become of them. Only the inline level is read.
    CheckSettings reading = settings;
    reading.fullValidation = false;
    levels.nodeSummaryGiven.assign(settled.summariesWanted.size(), false);
    levels.nodePool = std::make_unique<TileCheckPool>(
        std::move(reading), Look::TypeAndSize, levels.nodeProgress, [](const ExportProgress&) {});
    FolderWork nodes;
    for (const std::string& name : settled.summariesWanted) {
        TileCheck node;
        node.folder = levels.folder;
        node.listedRoot = fs::path(name);
        nodes.tiles.push_back(std::move(node));
    }
    nodes.summaries = std::make_shared<NodeSummaries>(levels);
    levels.nodePool->add(std::move(nodes));
    levels.nodePool->finish();
    return again;
}

void OverviewBuild::checkedAt(std::vector<std::size_t> places) {
    const std::lock_guard<std::mutex> lock(levels_->mutex);
    levels_->places = std::move(places);
}

void OverviewBuild::tileChecked(std::size_t checked, const TileResult& result, SummaryState state,
                                std::shared_ptr<const TileSummary> summary) {
    Levels& levels = *levels_;
    const std::lock_guard<std::mutex> lock(levels.mutex);
    std::size_t tile = checked;
    if (!levels.places.empty())
        tile = checked < levels.places.size() ? levels.places[checked] : levels.seen.size();
    if (tile >= levels.seen.size() || levels.seen[tile])
        return;
    levels.seen[tile] = true;
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
    if (!levels.written)
        return;
    levels.written =
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
    RegularFile file;
    if (heldRecords > 0)
        if (const Status opened = openHeld(file); !opened)
            return opened;
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
        if (held[i].record != kNoRecord) {
            Result<TileSummary> read = readHeld(file, held[i].record, bytes);
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
    // Not under the lock, which the pool's threads take to hand the summaries in.
    if (levels.nodePool)
        (void)levels.nodePool->waitFor(0);
    levels.nodePool.reset();
    const std::lock_guard<std::mutex> lock(levels.mutex);
    // Whatever comes of the levels, the held summaries are read back by the end of this, or
    // never.
    const RemovedAtEnd heldRemoved(levels.heldFile());
    // A node whose read never ended shows nothing in the node above it.
    for (std::size_t k = 0; k < levels.nodeSummaryGiven.size() && levels.written; ++k)
        if (!levels.nodeSummaryGiven[k])
            levels.written = levels.grid->addNodeSummary(k, std::nullopt);
    std::vector<std::string> tops;
    const std::string folderName = NameText(levels.folder.filename()).value_or(std::string());
    // A tile whose check never ended here is not the levels' to name.
    for (std::size_t tile = 0; tile < levels.seen.size() && levels.written; ++tile)
        if (!levels.seen[tile] && levels.onGrid[tile])
            levels.written = levels.grid->leaveOut(tile, TileStamp({}, SummaryState::NotMade));
    std::fill(levels.seen.begin(), levels.seen.end(), true);
    if (levels.grid && levels.written) {
        Result<PyramidTop> top = levels.grid->finish();
        if (!top)
            levels.written = top.error();
        else {
            tops.push_back(folderName + '\\' + top->file);
            levels.picture = std::move(top->picture);
        }
        levels.manifest.nodes = levels.grid->manifest().nodes;
    }
    if (!levels.written)
        return levels.written.error();
    if (!levels.held.empty())
        levels.written = levels.buildHeld(tops, folderName);
    if (!levels.written)
        return levels.written.error();
    // Last before the index names the levels. A manifest not written costs the next run the
    // time of a whole build, and nothing else.
    (void)WriteManifest(levels.folder, levels.manifest);
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
