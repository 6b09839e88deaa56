#pragma once

#include "export/tiles3d/block_frame.h"
#include "export/tiles3d/file_conversion.h"
#include "export/tiles3d/tileset_names.h"
#include "export/tiles3d/tileset_tile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace brindle {

// What a file the walk reached is to the tileset.
enum class FileRole {
    Index,    // the listed folder's root.osgb: no content, the tileset's root
    Overview, // a node of the overview's levels: a tile with a frame of its own
    TileRoot, // a file the index or an overview node names: a tile with a frame of its own,
              // whose tree is a tileset of its own
    Finer,    // a file below a tile root: in its tile root's frame
};

// A file of the walk, from the time it is reached until its tree is complete and handed to
// the tile that named it.
struct WalkedFile {
    std::filesystem::path file;
    PathKey key; // the file's, links resolved: the walk reaches it once
    FileRole role = FileRole::Index;
    std::uint64_t parent = 0; // the file that named it; none (0) for the index
    std::size_t slot = 0;     // its place among that file's finer files
    FinerFile named;          // as that file named it
    std::uint64_t tree = 0;   // the tile tree it belongs to, by when it was begun; 0 for none
    // Where its content goes, relative to the output folder, and the folder (relative to it
    // too) of the tileset its tile is written in.
    std::filesystem::path contentName, base;
    // Set once it is converted.
    bool converted = false;
    bool hasContent = false;
    std::array<double, 3> boundsMin{}, boundsMax{};
    // Its error, from its own paged nodes' switches and the depth of its content's box (so
    // that it is known as soon as the file is converted), lowered to its parent's: every
    // tile's error is final before any tile's tileset is written.
    double error = 0.0;
    // From its own coordinates (block offsets) to the block's frame: fitted at its own place
    // for an overview node and a tile root (ownFrame); the index's is the identity.
    ColumnMajor4x4 frame{};
    bool ownFrame = false;
    // Finer files still being walked, and the tiles of those already done, by slot: none for
    // a file left out, reached before, or holding nothing.
    std::size_t pending = 0;
    std::vector<std::optional<TilesetTile>> children;
};

// The tile of a file whose finer files are all done: its content, its box around the content
// and the children's boxes, its error, its children, and
// its transform into the frame of the file that named it (`parentFrame`, that file's `frame`)
// when it has a frame of its own. Nothing for a file with neither content nor children. The
// file's children are moved out.
std::optional<TilesetTile> TileOfWalkedFile(WalkedFile& file, const ColumnMajor4x4& parentFrame);

// The error of a file whose paged nodes name `finer`, with its content between `low` and
// `high` (none: `hasContent` false): the largest of their switches' errors, 0 for none.
double ErrorOfSwitches(const std::vector<FinerFile>& finer, bool hasContent,
                       const std::array<double, 3>& low, const std::array<double, 3>& high);

} // namespace brindle
