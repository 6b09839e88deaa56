#include "export/run/folder_scan.h"

#include "export/fs/path_join.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/scan/block_layout.h"
#include "export/scan/folder_identity.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A name the index's "name\root.osgb" entry carries faithfully: a backslash or a control
// character in it would make every reader resolve the entry to some other path.
bool IsSafeEntryName(const std::string& name) {
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '\\' || byte < 0x20 || byte == 0x7f;
    });
}

// True when the subfolder is the listed folder itself or one of its ancestors, through a
// link: listing it would make the index name itself, and a viewer would recurse without end.
// Only a link can lead there, so only links cost more than one look. Both paths are resolved
// the same way, so they compare equal exactly when they name one folder.
bool LeadsToAnAncestor(const fs::path& subfolder, bool isLink, const fs::path& resolvedFolder) {
    if (resolvedFolder.empty() || !isLink)
        return false;
    const Result<fs::path> resolved = ResolvedPath(subfolder);
    if (!resolved)
        return false;
    const fs::path& target = *resolved;
    for (fs::path p = resolvedFolder;; p = p.parent_path()) {
        if (p == target)
            return true;
        if (p == p.parent_path())
            return false;
    }
}

// Decides, from the scan alone, whether the folder is a folder of blocks: some subfolder is a
// block, and every subfolder with a tile root is a block whose root.osgb is its index (one
// beside tile folders of its own). Those indexes are then never checked as tiles: a check
// would load the whole block within one tile's limits, and could not be kept. One true tile
// makes the folder a block itself, in which the others stay tiles, as they always were; the
// look ends there, so a block of many tiles costs a look at its first tile.
void TakeOutBlocks(FolderScan& scan) {
    FolderWork& work = scan.work;
    for (const TileCheck& tile : work.tiles)
        if (tile.rootName != TileRootName::Root || !LooksLikeBlock(tile.folder))
            return;
    if (work.tiles.empty() && scan.blocks.empty())
        return;
    scan.ofBlocks = true;
    for (TileCheck& block : work.tiles)
        scan.blocks.push_back(std::move(block.folder));
    std::sort(scan.blocks.begin(), scan.blocks.end(), [](const fs::path& a, const fs::path& b) {
        return SubfolderPathNameLess(a.filename(), b.filename());
    });
    work.tiles.clear();
}

// The tile folder's subfolders as the scan takes them, each with whether it is a link.
struct Subfolders {
    std::vector<fs::path> paths;
    std::vector<bool> links;
};

// A subfolder whose name no entry can carry, or that leads back up to the folder, is left
// out before its root is looked for; says why, if it is.
std::optional<TileStatus> UnlistableSubfolder(const fs::path& subfolder, bool isLink,
                                              const fs::path& resolvedFolder) {
    const std::optional<std::string> name = NameText(subfolder.filename());
    if (!name || !IsSafeEntryName(*name))
        return TileStatus::UnsafeName;
    if (LeadsToAnAncestor(subfolder, isLink, resolvedFolder))
        return TileStatus::LinksBack;
    return std::nullopt;
}

// A subfolder without a tile root: a block, when its layout says so, and left out otherwise.
void NoteRootless(const fs::path& subfolder, FolderScan& scan) {
    const bool block = LooksLikeBlock(subfolder);
    if (block)
        scan.blocks.push_back(subfolder);
    scan.subfoldersHoldTiles = scan.subfoldersHoldTiles || block;
    scan.noRoot.push_back({subfolder.filename(), TileStatus::NoRootFile, {}, 0, {}});
}

// A subfolder with a tile root becomes the folder's next tile, its id its place among them.
void AddTile(fs::path& subfolder, FoundTileRoot& root, FolderReport& report, FolderWork& work) {
    // A block has thousands of subfolders: their paths are moved, not copied.
    TileCheck& tile = work.tiles.emplace_back();
    tile.id = work.tiles.size() - 1;
    tile.folder = std::move(subfolder);
    tile.rootName = root.name;
    tile.listedRoot = std::move(root.listedName);
    if (root.caseTwins)
        report.warnings.push_back(
            {ProblemKind::RootNamesDifferInCase, JoinPath(tile.folder, tile.listedRoot), {}});
    // What the cache compares its stamps with; each check takes its own look.
    tile.result.facts = root.facts;
}

void ScanSubfolders(Subfolders& subfolders, const fs::path& tileFolder, Look rootLook,
                    FolderReport& report, FolderScan& scan) {
    const fs::path resolvedFolder = ResolvedPath(tileFolder).value_or({});
    const OpenFolder openFolder(tileFolder);
    scan.work.ownIndex = LookAt(report.indexFile).value_or({});
    std::vector<FoundTileRoot> roots = FindTileRoots(subfolders.paths, rootLook, &openFolder);
    scan.work.tiles.reserve(subfolders.paths.size());
    for (std::size_t i = 0; i < subfolders.paths.size(); ++i) {
        fs::path& subfolder = subfolders.paths[i];
        if (const std::optional<TileStatus> why =
                UnlistableSubfolder(subfolder, subfolders.links[i], resolvedFolder))
            report.leftOut.push_back({subfolder.filename(), *why, {}, 0, {}});
        else if (!roots[i].found)
            NoteRootless(subfolder, scan);
        else
            AddTile(subfolder, roots[i], report, scan.work);
    }
}

} // namespace

void ScanFolder(const fs::path& folder, FolderReport& report, FolderScan& scan, Look rootLook,
                bool followBlocks) {
    report.folder = folder;
    report.indexFile = folder / kRootFileName;
    report.error = ProblemWithListedFolder(folder);
    if (report.error)
        return;
    const TileLayout layout = LayoutOf(folder);
    scan.entryPrefix = layout.entryPrefix;
    if (layout.caseTwins)
        report.warnings.push_back({ProblemKind::NamesDifferInCase, layout.tileFolder, {}});
    std::error_code ec;
    Subfolders subfolders;
    subfolders.paths = ListSubfolders(layout.tileFolder, &ec, &subfolders.links);
    if (ec) {
        report.error = Problem{ProblemKind::FolderUnreadable, layout.tileFolder, ec};
        return;
    }
    DropOverviewFolders(subfolders.paths, &subfolders.links);
    ScanSubfolders(subfolders, layout.tileFolder, rootLook, report, scan);
    if (followBlocks)
        TakeOutBlocks(scan);
}

void SetWayDown(FolderWork& work, const fs::path& indexFile, const std::vector<fs::path>& masters) {
    work.indexesAbove.push_back(RequestPathText(indexFile));
    work.searchAbove.push_back(RequestPathText(indexFile.parent_path()));
    for (const fs::path& master : masters) {
        work.indexesAbove.push_back(RequestPathText(master));
        work.searchAbove.push_back(RequestPathText(master.parent_path()));
    }
}

void LeaveOutLinksToNewIndex(FolderWork& work, const fs::path& indexFile) {
    const Result<FileFacts> looked = LookAt(indexFile);
    // Without an identity from the system there is nothing to compare the tiles with.
    if (!looked || looked->inode == 0 || SameFile(*looked, work.ownIndex))
        return;
    const FileFacts& own = *looked;
    for (TileCheck& checked : work.tiles) {
        TileOutcome& outcome = checked.result.outcome;
        // A link to an index is a cycle to the check, which cannot know whose index it is.
        if (outcome.reason != TileStatus::Valid && outcome.reason != TileStatus::Cycle)
            continue;
        const Result<FileFacts> tile = LookAt(checked.root());
        if (tile && SameFile(*tile, own)) {
            outcome.reason = TileStatus::LinksBack;
            outcome.cause.clear();
        }
    }
}

void SortLeftOut(std::vector<LeftOutSubfolder>& leftOut) {
    std::stable_sort(leftOut.begin(), leftOut.end(),
                     [](const LeftOutSubfolder& a, const LeftOutSubfolder& b) {
                         return SubfolderPathNameLess(a.name, b.name);
                     });
}

FolderReport RepeatReport(const fs::path& folder, fs::path firstListing, const fs::path& master) {
    FolderReport repeat;
    repeat.folder = folder;
    repeat.indexFile = folder / kRootFileName;
    repeat.status = FolderStatus::ListedTwice;
    repeat.firstListing = std::move(firstListing);
    repeat.master = master;
    return repeat;
}

} // namespace brindle
