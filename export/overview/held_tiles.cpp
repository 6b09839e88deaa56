#include "export/overview/held_tiles.h"

#include "export/overview/held_summary_codec.h"
#include "export/overview/tile_placement.h"

#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

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

HeldTiles::HeldTiles(ScratchFileCalls calls, fs::path scratchFolder)
    : calls_(std::move(calls)), scratchFolder_(std::move(scratchFolder)) {}

HeldTiles::~HeldTiles() = default;

Status HeldTiles::Hold(std::size_t tile, std::optional<Extent> where, const TileSummary* summary,
                       std::uint64_t stamp) {
    Tile kept{tile, where, stamp};
    Status written;
    if (summary) {
        const std::optional<std::string> bytes = EncodeHeldSummary(*summary);
        written = bytes ? Write(*bytes) : Status(SystemError(std::errc::not_supported));
        if (written) {
            kept.offset = scratchBytes_;
            kept.bytes = bytes->size();
            scratchBytes_ += bytes->size();
        }
    }
    held_.push_back(kept);
    return written;
}

Status HeldTiles::Write(std::string_view bytes) {
    if (!scratch_) {
        Result<std::unique_ptr<ScratchFile>> made = calls_.create(scratchFolder_);
        if (!made)
            return made.error();
        scratch_ = std::move(*made);
    }
    return calls_.append(*scratch_, bytes);
}

// A held tile's summary, read back whole from the scratch file.
Result<TileSummary> HeldTiles::ReadBack(const Tile& tile, std::string& bytes) const {
    bytes.resize(tile.bytes);
    if (const Status read = scratch_->readAt(tile.offset, bytes.data(), bytes.size()); !read)
        return read.error();
    // Not a summary: the file is no longer the one written.
    std::optional<TileSummary> summary = DecodeHeldSummary(bytes);
    if (!summary)
        return SystemError(std::errc::io_error);
    return std::move(*summary);
}

Status HeldTiles::BuildLevels(const LevelsTiles& tiles, const fs::path& folder,
                              const std::string& folderName, const EarlierPyramid& earlier,
                              TaskPool* pool, FinishedLevels& finished) {
    std::vector<OverviewTile> placed;
    std::vector<std::string> heldEntries;
    for (const Tile& tile : held_) {
        placed.push_back({std::string(), tile.extent});
        heldEntries.push_back(tiles.entries[tile.tile]);
    }
    const OverviewLayout layout = PlaceTiles(placed);
    for (const UnplacedTile& unplaced : layout.unplaced)
        finished.tops.push_back(tiles.indexEntries[held_[unplaced.tile].tile]);
    if (layout.bounds.IsEmpty())
        return {};
    PyramidOptions options;
    options.namePrefix = "B";
    // The grid's pyramid keeps its summaries in the folder's one file.
    options.keptSummaries = 0;
    OverviewPyramid bounds(layout.bounds, std::move(heldEntries), folder, options, earlier,
                           SystemNodeFileCalls(), pool);
    Status building = AddAll(bounds, layout.bounds);
    if (building) {
        Result<PyramidTop> top = bounds.finish();
        if (!top)
            building = top.error();
        else
            finished.tops.push_back(folderName + '\\' + top->file);
        if (top && finished.picture.empty())
            finished.picture = std::move(top->picture);
        const OverviewManifest ofBounds = bounds.manifest();
        finished.manifest.nodes.insert(ofBounds.nodes.begin(), ofBounds.nodes.end());
    }
    finished.heldSummaries = bounds.summaries();
    held_.clear();
    return building;
}

Status HeldTiles::AddAll(OverviewPyramid& pyramid, const OverviewTree& tree) {
    std::string bytes;
    for (const std::size_t i : TilesBranchByBranch(tree)) {
        std::optional<TileSummary> summary;
        if (held_[i].bytes > 0) {
            Result<TileSummary> read = ReadBack(held_[i], bytes);
            if (!read)
                return read.error();
            summary = std::move(*read);
        }
        if (const Status added = pyramid.addTile(i, std::move(summary), held_[i].stamp); !added)
            return added;
    }
    return {};
}

void HeldTiles::DropScratch() {
    scratch_.reset();
}

} // namespace brindle
