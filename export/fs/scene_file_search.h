#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// How the scene-graph reader finds the files a scene names: the folders it searches and the
// file it opens, with the file system's own answers. The worker follows a tile's names so, and
// --verify an index's.
namespace brindle {

// Where a file name stored in a scene leads when read plainly relative to `folder`, the folder
// of the file that stores it: what is shown for a name no search finds. A backslash separates
// folders, as on Windows, where index files are made and used.
std::filesystem::path ResolveSceneFileName(const std::filesystem::path& folder,
                                           const std::string& name);

// The folders the reader searches for the files a scene names, first first, as its options'
// database path list holds them while that scene is read: the scene file's own folder, then
// what the files that led to it left. Paths in their text form.
using SearchFolders = std::vector<std::string>;

// The folders a top-level load of `file` searches: its own folder.
SearchFolders SearchFoldersOfFile(const std::string& file);

// The folders searched for `name`, a name to load at once that a scene read with `folders`
// stores: the reader puts the name's own folder, taken under the first folder, in front.
SearchFolders SearchFoldersForName(const SearchFolders& folders, const std::string& name);

// The folders the file found for a name searches, `searched` being those the name was found
// with: its own folder goes in front.
SearchFolders SearchFoldersOfFound(const std::string& found, const SearchFolders& searched);

// The file the scene-graph reader's search opens for `name` with `folders`, or nothing when it
// finds none: the name in each folder in turn, then, when the name has folders of its own, its
// bare file name in each folder. The first path that exists is taken, whatever it is; a folder
// or a device there makes the load fail. On systems where the backslash is no separator it is
// read as one.
//
// The viewer's own settings are not ours to know: its data file path list is taken as empty,
// and its current folder as holding none of the names, so a folder searched that names the
// current one ("" or ".") is passed over and a relative name is found only in the folders.
// The index's own folder enters the search as the folder of the index file the viewer opened.
//
// `toBeWritten` are files taken as there though they are not yet: indexes that will be
// written before any viewer reads the scene.
std::optional<std::string> FindSceneFile(const std::string& name, const SearchFolders& folders,
                                         const std::vector<std::string>& toBeWritten = {});

// True when `a` and `b` are one path once dots and links are resolved as far as they exist,
// as the file system compares names.
bool SameFilePath(const std::string& a, const std::string& b);

} // namespace brindle
