#pragma once

#include "export/tiles3d/conversion_manifest.h"
#include "export/tiles3d/tileset_build.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace brindle::test {

using Matrix = std::array<double, 16>;
Matrix Identity();
Matrix Times(const Matrix& a, const Matrix& b);
Point3 Apply(const Matrix& m, const Point3& p);

// A tile of the tileset as a viewer sees it, with the tiles' own tilesets taken in: the file
// its content is, the transform from its frame to the earth, its box in its frame, its error.
struct ViewedTile {
    std::filesystem::path content; // relative to the output folder; empty for none
    Matrix toEarth = Identity();
    std::array<double, 12> box{};
    double error = 0;
    std::vector<ViewedTile> children;
};

// The tileset in `output`, read as a viewer reads it: URIs unescaped, transforms composed,
// each tile root's tileset in its place.
ViewedTile ViewTileset(const std::filesystem::path& output);
void ForEachTile(const ViewedTile& tile, const std::function<void(const ViewedTile&)>& call);
// The file a content was made from: its name less ".glb" or ".b3dm", in the listed folder,
// canonical.
std::string SourceOf(const std::filesystem::path& content, const std::filesystem::path& block);

// A build with the in-process converter, and what the converter saw.
struct Built {
    TilesetBuilt built;
    std::size_t calls = 0;
    std::map<std::string, int> callsByFile;
    std::size_t mostInFlight = 0;
};
Built Build(const std::filesystem::path& block, const std::filesystem::path& output,
            const BlockFrame* frame, const std::filesystem::path& previous = {},
            const ContentSettings& settings = {});

} // namespace brindle::test
