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

    bool wanted() const { return !folder.empty(); }
};

} // namespace brindle
