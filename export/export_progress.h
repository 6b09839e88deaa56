#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace brindle {

// What the 3D Tiles stage of the listed folder in hand has done so far. Its tiles' trees are
// finished in the order they were begun, and the folder's index names every tile root before
// the stage begins: so the tile roots done over the tile roots named is a true share of the
// stage, where the files below them (their count known only once the walk ends) are not.
struct TilesetProgress {
    std::uint64_t converted = 0; // files converted so far, over the folder's tilesets
    std::uint64_t reused = 0;    // unchanged files taken from the earlier tileset
    std::uint64_t bytes = 0;     // of the tile files converted and reused
    std::uint64_t tilesDone = 0; // tile roots whose tree is in the tileset, or left out
    std::uint64_t tileCount = 0; // tile roots the folder's index names (its blocks', summed)
    // The block whose tileset is being made: the listed folder, or one of a folder of blocks.
    std::filesystem::path folder;
    // The stage is over for the folder: the counts are its last (the report's).
    bool ended = false;
};

// Where a run stands; handed to the progress callback.
struct ExportProgress {
    std::size_t foldersDone = 0;
    std::size_t folderCount = 0;
    std::size_t subfoldersDone = 0; // validated so far, over all folders of the run
    std::size_t subfolderCount = 0; // to validate, over all folders of the run
    // The folder in hand: the first not yet written, or the last one once all are.
    std::filesystem::path folder;
    // While the folder in hand's tileset is being made (the tiles of the folders after it may
    // be validated at the same time).
    std::optional<TilesetProgress> tileset;
};

} // namespace brindle
