#pragma once

#include <filesystem>

namespace brindle {

enum class TileStatus {
    Valid,      // root.osgb exists and loads
    NoRootFile, // there is no root.osgb directly in the folder
    LoadFailed, // root.osgb exists but does not load
};

// Whether the tile folder's root.osgb exists and loads. The loaded scene is released at once.
// Safe to call from several threads once PrepareTileValidation has run.
TileStatus ValidateTile(const std::filesystem::path& tileFolder);

// Loads the .osgb reader before validation starts on several threads.
void PrepareTileValidation();

} // namespace brindle
