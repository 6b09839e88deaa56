#pragma once

#include <osg/Node>
#include <osg/Vec2d>
#include <osg/ref_ptr>

#include <filesystem>
#include <string>
#include <vector>

namespace brindle {

// How a sample block is shaped. Every size is drawn per tile from the given ranges with a
// generator seeded from `seed`, so the same options always give byte-identical tiles.
struct SampleBlockOptions {
    int tileCount = 36;
    int minTexturePx = 64;
    int maxTexturePx = 256;
    int minGridCells = 8;
    int maxGridCells = 48;
    unsigned seed = 1;
    // Textures go into the .osgb as JPEG file bytes (needs the jpeg plugin) instead of raw
    // pixels; real survey tiles are usually written that way, and they load differently.
    bool embedJpeg = false;
    // Each tile's root is a paged node, as production tiles come: its mesh inline as the
    // coarsest level, and a finer level named in a file that is not written.
    bool pagedRoot = false;
    // The tiles are cut from one terrain, as a production block's are: neighbours meet along
    // their shared edges, where otherwise each tile's hills end at its own heights and a view
    // from afar sees through the cracks between them.
    bool seamless = false;
    // With pagedRoot: finer levels written as production tiles have them, each a file of its
    // own with twice the mesh and texture resolution of the level above, named from the level
    // above's paged node; the finest is a plain mesh. 0 names one finer level and writes none.
    int writtenLevels = 0;
    // Meshes without normals, the light baked into the textures, as photogrammetry tiles come.
    bool lightInTexture = false;
    double originX = 512345.678;
    double originY = 3400000.3;
    double originZ = 12.5;
};

// What WriteSampleBlock wrote. Names are subfolder names, sorted bytewise.
struct SampleBlock {
    std::filesystem::path folder;
    std::vector<std::string> validTiles;   // each holds a loadable root.osgb
    std::vector<std::string> invalidTiles; // no root.osgb, a corrupt one, or one nested deeper
};

// One terrain patch: a square grid mesh with a pseudo-random texture.
struct SampleTileParams {
    int texturePx = 128; // the texture is texturePx x texturePx RGB
    int gridCells = 16;  // the mesh is gridCells x gridCells quads
    double sizeMetres = 100.0;
    osg::Vec2d offset; // south-west corner, relative to the block origin
    unsigned seed = 1;
    bool embedJpeg = false;
    bool pagedRoot = false; // see SampleBlockOptions::pagedRoot
    // With SampleBlockOptions::seamless: the block's terrain, the same for all its tiles.
    bool seamless = false;
    unsigned terrainSeed = 1;
    int writtenLevels = 0;       // see SampleBlockOptions::writtenLevels
    bool lightInTexture = false; // see SampleBlockOptions::lightInTexture
};

// The parameters WriteSampleBlock uses for tile `index` of a block with these options.
SampleTileParams SampleTileParamsFor(const SampleBlockOptions& options, int index);

// The scene graph of one tile, with the texture image held as raw pixels.
osg::ref_ptr<osg::Node> MakeSampleTile(const SampleTileParams& params);

// Writes one tile to `file` (its folder must exist), and its finer levels beside it. With embedJpeg
// the texture is JPEG-encoded next to `file`, embedded, and the temporary .jpg removed again; the
// written file is checked to hold JPEG bytes. Throws std::runtime_error naming the file and cause.
void WriteSampleTile(const std::filesystem::path& file, const SampleTileParams& params);

// Writes a block into `dir`, which is created if missing and must otherwise be empty, so that
// the result is exactly what is returned:
//   report.txt                title line, then "X: <x> Y: <y> Z: <z>", then a note
//   notes.txt                 a plain file, not a tile
//   Tile_+CCC_+RRR/root.osgb  tileCount valid tiles laid out on a square grid
//   Empty_Tile/readme.txt     a tile folder without root.osgb
//   Corrupt_Tile/root.osgb    a truncated tile that does not load
//   Nested_Tile/Data/root.osgb  a valid file one level too deep
// Throws std::invalid_argument for bad options and std::runtime_error naming the path and
// cause when writing fails.
SampleBlock WriteSampleBlock(const std::filesystem::path& dir,
                             const SampleBlockOptions& options = {});

} // namespace brindle
