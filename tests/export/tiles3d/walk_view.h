#pragma once

#include "export/tiles3d/conversion_manifest.h"
#include "export/tiles3d/tileset_build.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
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
// The file a content was made from: its name less ".glb" or ".b3dm" and the build's ".v<n>",
// in the listed folder, canonical.
std::string SourceOf(const std::filesystem::path& content, const std::filesystem::path& block);
// The tileset in `output` as a viewer meets it, as text: each tile's transform to the earth,
// box, error and the bytes of its content, whatever the files are named.
std::string SeenTileset(const std::filesystem::path& output);

// The files the tileset in `output` names, its contents and the tiles' own tilesets, through
// those, relative to `output`.
std::set<std::string> NamedContents(const std::filesystem::path& output);
// What the folder of that tileset should hold: those, and its own files.
std::set<std::string> NamedAndOwnFiles(const std::filesystem::path& output);
// Every file below `folder`, relative to it.
std::set<std::string> FilesIn(const std::filesystem::path& folder);
// The files of the tileset's folder `output` that it neither names nor holds as its own, and
// those it names that are not there, with "missing: " before them.
std::set<std::string> StrayOrMissing(const std::filesystem::path& output);

// A build with the in-process converter, and what the converter saw; in place when `previous`
// is `output`.
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
