#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>

namespace brindle {

// Where a listed folder's tiles are, and how its index names them.
struct TileLayout {
    std::filesystem::path tileFolder; // the folder whose subfolders are the tiles
    std::string entryPrefix;          // the path from the index to tileFolder; empty for itself
    // The production folder holds more than one Data folder in other letter case than "Data"
    // (DATA and data): the first bytewise, tileFolder, was taken.
    bool caseTwins = false;
};

// How many tile folders the index of listed `folder` would look at, as CountSubfolders counts
// them (no more than `limit`, stopping short once `stop` is set): its own subfolders, or those
// of a production folder's Data folder. What the dialogs count to suggest the paged index.
std::size_t CountTileFolders(const std::filesystem::path& folder, std::size_t limit,
                             const std::atomic<bool>* stop = nullptr);

// A production folder: a metadata.xml beside a Data folder whose subfolders are the tiles,
// both names in any letter case (METADATA.XML and DATA, as copies from Windows have them).
bool IsProductionFolder(const std::filesystem::path& folder);

// The tiles of a production folder are in its Data folder; any other folder's are its own
// subfolders.
TileLayout LayoutOf(const std::filesystem::path& folder);

// True when some subfolder of `folder` holds a tile root (see FindTileRoot). Every subfolder
// but an overview folder of ours (IsOverviewFolder) counts, whatever place the file system's
// listing gives it, so the answer is the same on every copy of the folder; the look ends at the
// first tile root found, which in a block is usually among the first entries of the listing's first
// read.
bool HoldsTileFolders(const std::filesystem::path& folder);

// A block by its layout alone: a production folder, or a folder of tile folders.
bool LooksLikeBlock(const std::filesystem::path& folder);

// True when `folder` holds .osgb files of its own other than root.osgb (which may be an index),
// as a tile folder does.
bool HoldsOsgbFiles(const std::filesystem::path& folder);

} // namespace brindle
