#pragma once

#include <filesystem>

namespace brindle {

// A 3D Tiles tileset of each listed folder, written into `folder`/<the listed folder's name>/,
// beside the folder's overview index. Empty `folder` means no tileset.
struct TilesetOptions {
    std::filesystem::path folder;
    // The contents' positions, normals and texture coordinates as small integers
    // (KHR_mesh_quantization): smaller files, for viewers that read the extension.
    bool quantize = false;
    // Contents as Batched 3D Models (the glb inside a b3dm) in a tileset of version 1.0, for
    // viewers that read no glb content; otherwise glb contents in a tileset of version 1.1.
    bool b3dm = false;
    // The contents' vertices and indices compressed (EXT_meshopt_compression).
    bool meshopt = false;

    bool wanted() const { return !folder.empty(); }
};

} // namespace brindle
