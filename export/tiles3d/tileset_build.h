#pragma once

#include "export/error/result.h"
#include "export/isolation/check_outcome.h"
#include "export/tiles3d/block_frame.h"
#include "export/tiles3d/conversion_manifest.h"
#include "export/tiles3d/file_conversion.h"
#include "export/tiles3d/tileset_json.h"
#include "export/tiles3d/tileset_names.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace brindle {

// Converts one file: called from the walk's own thread, `done` called once, from any thread
// (the calling one included) and at any time. FileConversions::convert is one.
using FileConverter = std::function<void(ConversionJob, FileConversions::Done)>;

// What a build has done so far: files whose conversion is done or taken from the earlier
// build, the bytes of those files, and the tile roots whose trees are done or left out.
struct TilesetBuildProgress {
    std::uint64_t converted = 0, reused = 0, bytes = 0, tileRootsDone = 0;
};

struct TilesetBuildOptions {
    // The listed folder, which holds the index (root.osgb) the walk starts from.
    std::filesystem::path listedFolder;
    // Where the block lies on the globe; none for a block placed in a local frame of its
    // own (the tiles' block offsets, identity root transform), of which the caller warns.
    const BlockFrame* frame = nullptr;
    // The folder the tileset is written into: made already, and holding nothing of ours
    // unless it is updated in place.
    std::filesystem::path output;
    // The folder an earlier build of the same listed folder wrote, whose manifest and
    // contents the unchanged files take instead of a conversion; empty for none.
    std::filesystem::path previousOutput;
    // The output folder is the earlier build's (previousOutput), and its tileset is updated
    // in place: what changed is written under names of this build's generation, which the
    // tileset there never names; the unchanged files stay as they are; the new files are put on
    // disk before the manifest and then tileset.json are replaced, each in one step; then the
    // files no longer named go. Until then the earlier tileset stays whole, and a build cut
    // short leaves a note (kUpdatePendingName) for the next one to remove what it wrote.
    bool inPlace = false;
    // What the contents are made with, all part of what a reused content must match:
    // KHR_mesh_quantization, a Batched 3D Model around each glb (named .b3dm), and
    // EXT_meshopt_compression.
    bool quantize = false;
    bool b3dm = false;
    bool meshopt = false;
    TilesVersion version = TilesVersion::V1_1;
    // Conversions given to the converter and not yet done, at most: enough to keep its
    // workers busy, few enough that only a few tiles' trees are held at once.
    std::size_t jobsInFlight = 64;
    // Files that changed since the earlier build, given to the converter ahead of the walk
    // (which comes to them only after the files above them are converted) and not yet done,
    // at most: enough to keep the workers the walk leaves idle busy, one fewer than they are.
    std::size_t aheadInFlight = 1;
    // Called from the walk's thread as files are done; empty for none.
    std::function<void(const TilesetBuildProgress&)> progress;
};

// A file the walk reached and left out, with why: it stays out of the tileset, and the tile
// that named it is a leaf there.
struct LeftOutFile {
    std::filesystem::path file;
    TileOutcome outcome;
};

// What a build came to.
struct TilesetBuilt {
    // False when the index itself was left out (it is the first of leftOut): nothing is
    // written then.
    bool written = false;
    std::vector<LeftOutFile> leftOut;
    std::uint64_t converted = 0;      // files given to the converter
    std::uint64_t reused = 0;         // files taken from the earlier build as they were
    std::uint64_t tiles = 0;          // tiles with content
    std::uint64_t withoutContent = 0; // files that load but give no content
    std::uint64_t tileTilesets = 0;   // the tiles' own tilesets, one a tile root
    std::uint64_t contentBytes = 0;   // of every content written or reused
    std::uint64_t triangles = 0;
    // The most files held at once, reached and not yet part of a finished tree: the walk's
    // memory, which stays with the overview's nodes and the tile trees in progress.
    std::uint64_t mostFilesHeld = 0;
    // What a folder of blocks' tileset needs of this one: relative to the output folder
    // (kTilesetName), its root transform, its root's box and its error.
    BlockTileset block;
};

// Builds the tileset of the listed folder's index into the output folder: every file the
// index reaches through its paged nodes, breadth first and each once, converted (or taken
// from the earlier build when unchanged) into a content of its own; each tile root's tree
// written as a tileset of its own as soon as it is complete; tileset.json last. A file that
// does not convert is left out and the build goes on. Fails, leaving the output folder
// incomplete, when a file cannot be written into the output folder (the system's cause), or
// when the converter says the run was cancelled (std::errc::operation_canceled). Returns
// only once every conversion it asked for is done.
// `earlier`: the earlier build's conversions (EarlierConversions::Load of previousOutput, the
// listed folder as WalkPath() spells it) where the caller read them ahead; otherwise the build
// reads them itself.
Result<TilesetBuilt> BuildTileset(const TilesetBuildOptions& options, const FileConverter& convert,
                                  std::unique_ptr<EarlierConversions> earlier = nullptr);

// A folder as the build takes it, the listed folder's and the output's: absolute and lexically
// normal (only lexically normal where the working folder cannot be told).
std::filesystem::path WalkPath(const std::filesystem::path& folder);

} // namespace brindle
