#pragma once

#include "export/export_report.h"
#include "export/fs/regular_file.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace brindle {

// The name of the file a tile folder's scene starts from in the layout this tool has always
// read, and the one its own index files take.
inline const char* const kRootFileName = "root.osgb";

// The file a tile folder's scene starts from: its root.osgb, or, where there is none, the
// file named after the folder ("Tile_+000_+000/Tile_+000_+000.osgb"), as production layouts
// name them. root.osgb wins where both exist, so a folder laid out the old way keeps its
// entry. Empty when neither exists (FindTileRootInAnyCase then looks for them in other letter
// case). Only looks: nothing is opened. `facts`, when given, gets
// what the look at the file found told; `look` says whether it asks which file it is.
// `parent`, when given and open, is the folder `tileFolder` lies in, and the looks are taken
// relative to it.
std::filesystem::path FindTileRoot(const std::filesystem::path& tileFolder, std::error_code& ec,
                                   FileFacts* facts = nullptr, Look look = Look::TypeAndSize,
                                   const OpenFolder* parent = nullptr);

// Which of its two names a tile folder's root file has.
enum class TileRootName : std::uint8_t {
    Root,  // root.osgb
    Named, // <name>.osgb, after the tile folder
};

// The file name a tile folder's root has by `name`, and its path.
std::filesystem::path TileRootFileName(const std::filesystem::path& tileFolder, TileRootName name);
std::filesystem::path TileRootPath(const std::filesystem::path& tileFolder, TileRootName name);

// What FindTileRoot found for one tile folder.
struct FoundTileRoot {
    bool found = false; // whether either name is there
    TileRootName name = TileRootName::Root;
    FileFacts facts;
    std::error_code error;
    // Where neither name is there as spelled, but the folder's listing holds one in other
    // letter case (ROOT.OSGB, Tile_+000_+000.OSGB, as copies from Windows have them): that
    // file's name as it is on disk; `name` says which of the two it is. Empty otherwise.
    std::filesystem::path listedName;
    // The listing held more than one file by that name in different cases; the one that sorts
    // first bytewise was taken.
    bool caseTwins = false;
};

// Looks through the listing of `tileFolder` for its root file in any letter case: a name that
// is root.osgb ignoring case wins over one that is <folder>.osgb ignoring case. All
// names count, whatever they are, as the scan's looks count them; the file found is looked at
// as `look` says. Not found when neither is there.
FoundTileRoot FindTileRootInAnyCase(const std::filesystem::path& tileFolder,
                                    Look look = Look::TypeAndSize);

// FindTileRoot for each of `tileFolders`, in their order, with the name it found rather than
// the path, which is made where it is needed. The looks at a big folder's tile
// folders are shared out among a few threads: each is a system call that walks two names, and
// together they are most of what a re-run of an unchanged block does (on a network drive each
// also waits for the server).
std::vector<FoundTileRoot> FindTileRoots(const std::vector<std::filesystem::path>& tileFolders,
                                         Look look, const OpenFolder* parent);

// "<name>.osgb" for a tile folder called <name>.
std::filesystem::path NamedRootFile(const std::filesystem::path& tileFolder);

// The entry an index of `kind` stores for a tile: `prefix` (a folder between the index and
// the tile folders, or empty), the tile folder's name and the root file's name, joined by a
// backslash in a proxy index and a slash in a paged one (see EntryFor).
std::string TileEntryFor(const std::string& prefix, const std::string& subfolderName,
                         const std::string& rootFileName, IndexKind kind);

} // namespace brindle
