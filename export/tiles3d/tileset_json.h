#pragma once

#include "export/error/result.h"
#include "export/tiles3d/block_frame.h"
#include "export/tiles3d/tileset_tile.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// 1.1 takes glTF content as it is; 1.0 viewers need it wrapped.
enum class TilesVersion { V1_0, V1_1 };

struct Tileset {
    TilesetTile root;
    // From the root's frame to earth-centred coordinates; none for a tileset already in them
    // (one that names blocks' tilesets, each with its own).
    std::optional<ColumnMajor4x4> transform;
    // The error of not drawing the tileset at all: at least the root's, which it is raised to.
    double geometricError = 0.0;
    TilesVersion version = TilesVersion::V1_1;
};

// The box around `points`, along the axes of their own frame.
OrientedBox BoxAround(const std::vector<Point3>& points);
// The eight corners of `box`.
std::vector<Point3> Corners(const OrientedBox& box);
// `box` in the frame `transform` takes its frame to.
OrientedBox Transformed(const OrientedBox& box, const ColumnMajor4x4& transform);

// `relative` (a path below the tileset's folder) as a URI reference: '/'-separated UTF-8 with
// every byte but unreserved ones percent-escaped, so that folders named in Chinese, spaces
// and '#' reach the viewer as they are on disk.
std::string RelativeUri(const std::filesystem::path& relative);

// The text of tileset.json, each tile's error lowered to its parent's where it is larger.
// Nothing when a number is not finite, an error is negative or a tile's content names no
// relative place below the tileset's folder: a viewer would not load what it describes.
std::optional<std::string> TilesetJson(const Tileset& tileset);

// Writes `tileset` as `file`, replacing what was there atomically: a viewer reading it sees
// the old tileset or the new one. A tileset TilesetJson refuses is not written
// (std::errc::invalid_argument), and the old one stays.
Status WriteTileset(const std::filesystem::path& file, const Tileset& tileset);

// One block of a folder of blocks, as the folder's tileset names it.
struct BlockTileset {
    std::filesystem::path tileset; // the block's tileset.json, relative to the folder's
    ColumnMajor4x4 frameToEarth{}; // its root transform
    OrientedBox box;               // its root's box, in its frame
    double geometricError = 0.0;   // its tileset's
};

// The tileset of a folder of blocks: one tile a block, whose content is that block's own
// tileset, in earth-centred coordinates, under a root around them all.
Tileset FolderOfBlocks(const std::vector<BlockTileset>& blocks, TilesVersion version);

} // namespace brindle
