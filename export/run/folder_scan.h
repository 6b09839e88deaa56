#pragma once

#include "export/export_report.h"
#include "export/fs/regular_file.h"
#include "export/tile/tile_check.h"

#include <filesystem>
#include <string>
#include <vector>

namespace brindle {

// Blocks inside blocks are followed this deep, and no deeper.
constexpr int kMaxBlockDepth = 3;

// What the scan of one listed folder found: the tiles the pool is to check, each with its id
// (its place in `work.tiles`), and what the folder holds beside them.
struct FolderScan {
    FolderWork work;
    std::string entryPrefix; // the path from the index to the tile folders
    // Subfolders that are blocks by their layout alone (a production folder, a folder of tile
    // folders) and have no tile root of their own.
    std::vector<std::filesystem::path> blocks;
    std::vector<LeftOutSubfolder> noRoot; // subfolders without a tile root
    bool subfoldersHoldTiles = false;     // some subfolder's subfolders hold tile roots
    // A folder of blocks: `blocks` are exported as blocks, and `work` holds no tile.
    bool ofBlocks = false;
};

// Scans `folder` as its layout says (see LayoutOf): its candidate tiles, each root looked at
// with `rootLook`, into `scan`; what the folder is left without, and why it cannot be
// scanned, into `report`. With `followBlocks`, a folder whose tiles are all blocks is a folder
// of blocks (FolderScan::ofBlocks).
void ScanFolder(const std::filesystem::path& folder, FolderReport& report, FolderScan& scan,
                Look rootLook, bool followBlocks);

// A viewer opens `indexFile`, or the index of a folder of blocks above it (`masters`,
// innermost first), and comes down to the tiles from there: each index's folder joins the
// search, and each index is loading above every tile.
void SetWayDown(FolderWork& work, const std::filesystem::path& indexFile,
                const std::vector<std::filesystem::path>& masters);

// The folder's own index may be another file now than when the folder was scanned: an
// earlier folder of the run wrote it through a link, or something outside the run replaced
// it. The tiles were checked against the file that was there then, so a tile whose root file
// links to the new one passed; each kept tile is looked at again, and one that is now the
// folder's own index is left out.
void LeaveOutLinksToNewIndex(FolderWork& work, const std::filesystem::path& indexFile);

// Left-out subfolders in name order, whichever step left them out.
void SortLeftOut(std::vector<LeftOutSubfolder>& leftOut);

// The report of a folder listed again after `firstListing`, as that listing was spelled; a
// folder is exported once, where it comes first.
FolderReport RepeatReport(const std::filesystem::path& folder, std::filesystem::path firstListing,
                          const std::filesystem::path& master);

} // namespace brindle
