#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace brindle {

// What a content file is: a binary glTF file (.glb), or one inside a Batched 3D Model (.b3dm).
enum class ContentFormat { Glb, B3dm };

// Where a file's content and a tile's own tileset go in the output folder, relative to it.
// A file inside the listed folder is named from its path there, so that a user finds a tile's
// content where its file is; one outside it, or with a name that is not a plain relative path
// on every system (a drive, a colon, a backslash, a control character), by a hash of its
// path. Either way the name stays below the output folder.
std::filesystem::path ContentName(const std::filesystem::path& file,
                                  const std::filesystem::path& listedFolder,
                                  ContentFormat format = ContentFormat::Glb);

// The content name of `file`, a file of a tile's tree whose tileset lies in `base` (relative
// to the output folder): its ContentName when that lies below `base`, else one by hash in
// `base`, so that the tile's tileset names every content of its tree by a relative path
// that goes nowhere above it.
std::filesystem::path ContentNameBelow(const std::filesystem::path& file,
                                       const std::filesystem::path& listedFolder,
                                       const std::filesystem::path& base,
                                       ContentFormat format = ContentFormat::Glb);

// `name`, a content's name as ContentName gives it, as the build of `generation` writes it:
// the generation before the extension ("root.osgb.glb" in generation 3 is "root.osgb.v3.glb").
// A re-run writes what changed under a generation of its own, so it never writes over a file
// the tileset in place names, and two names never meet: taking the extension and the
// ".v<digits>" off gives back the one file's name.
std::filesystem::path Tagged(const std::filesystem::path& name, std::uint64_t generation);

// `name` without the generation Tagged put in it; a name without one as it is.
std::filesystem::path Untagged(const std::filesystem::path& name);

// The tileset of the tile whose content is `contentName` (as ContentName gives it, untagged),
// beside that content, as the build of `generation` writes it: "root.osgb.v3.tileset.json".
std::filesystem::path TileTilesetName(const std::filesystem::path& contentName,
                                      std::uint64_t generation);

// The key a file is known by in the manifest: its path relative to the listed folder,
// '/'-separated, as UTF-8 (with ".." where it lies outside).
std::string ManifestKey(const std::filesystem::path& file,
                        const std::filesystem::path& listedFolder);

// A path's text as 128 bits, for the sets a walk of 10^6 files keeps: its FNV-1a hash
// forwards and backwards. Two paths that differ share it by chance alone, far less often than
// a disk fails.
struct PathKey {
    std::uint64_t forwards = 0, backwards = 0;
    static PathKey Of(std::string_view text);
    bool operator==(const PathKey& other) const {
        return forwards == other.forwards && backwards == other.backwards;
    }
};
struct PathKeyHash {
    std::size_t operator()(const PathKey& key) const {
        return static_cast<std::size_t>(key.forwards ^ (key.backwards >> 1));
    }
};

// Where the index's conversion puts what it draws, which is no tile's content and is
// removed: named by hash, as no plain name of the listed folder is.
std::filesystem::path IndexScratchName(const std::filesystem::path& index,
                                       ContentFormat format = ContentFormat::Glb);

// The names the build writes at the top of its output folder: the tileset, and the record
// of what each file's conversion gave, for the next build to reuse.
inline constexpr const char* kTilesetName = "tileset.json";
inline constexpr const char* kConversionManifestName = "brindle-tileset.manifest";
// The folder of contents named by hash.
inline constexpr const char* kOutsideContentFolder = "brindle-outside";
// While a tileset is updated in place: the new manifest until the new files are on disk, and a
// note that a build was begun, which goes only once the files the tileset no longer names are
// gone. A build that finds the note finds the files of one cut short, and removes them.
inline constexpr const char* kManifestScratchName = "brindle-tileset.manifest.new";
inline constexpr const char* kUpdatePendingName = "brindle-tileset.pending";

} // namespace brindle
