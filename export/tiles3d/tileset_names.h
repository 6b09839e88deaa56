#pragma once

#include <filesystem>
#include <string>

namespace brindle {

// Where a file's content and a tile's own tileset go in the output folder, relative to it.
// A file inside the listed folder is named from its path there, so that a user finds a tile's
// content where its file is; one outside it, or with a name that is not a plain relative path
// on every system (a drive, a colon, a backslash, a control character), by a hash of its
// path. Either way the name stays below the output folder.
std::filesystem::path ContentName(const std::filesystem::path& file,
                                  const std::filesystem::path& listedFolder);

// The content name of `file`, a file of a tile's tree whose tileset lies in `base` (relative
// to the output folder): its ContentName when that lies below `base`, else one by hash in
// `base`, so that the tile's tileset names every content of its tree by a relative path
// that goes nowhere above it.
std::filesystem::path ContentNameBelow(const std::filesystem::path& file,
                                       const std::filesystem::path& listedFolder,
                                       const std::filesystem::path& base);

// The tileset of the tile whose content is `contentName`, beside that content.
std::filesystem::path TileTilesetName(const std::filesystem::path& contentName);

// The key a file is known by in the manifest: its path relative to the listed folder,
// '/'-separated, as UTF-8 (with ".." where it lies outside).
std::string ManifestKey(const std::filesystem::path& file,
                        const std::filesystem::path& listedFolder);

// The names the build writes at the top of its output folder: the tileset, and the record
// of what each file's conversion gave, for the next build to reuse.
inline constexpr const char* kTilesetName = "tileset.json";
inline constexpr const char* kConversionManifestName = "brindle-tileset.manifest";
// The folder of contents named by hash.
inline constexpr const char* kOutsideContentFolder = "brindle-outside";

} // namespace brindle
