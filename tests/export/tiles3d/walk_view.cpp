#include "walk_view.h"

#include "walk_fixtures.h"

#include "export/tiles3d/tileset_folder.h"
#include "tests/export/test_fixtures.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace brindle::test {
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string PercentDecoded(const std::string& uri) {
    std::string text;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            text += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            text += uri[i];
        }
    }
    return text;
}

} // namespace

Matrix Identity() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Matrix Times(const Matrix& a, const Matrix& b) {
    Matrix product{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                product[4 * c + r] += a[4 * k + r] * b[4 * c + k];
    return product;
}

Point3 Apply(const Matrix& m, const Point3& p) {
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
            m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

namespace {

ViewedTile ViewTile(const Json& tile, const fs::path& folder, const fs::path& output,
                    const Matrix& above) {
    ViewedTile viewed;
    viewed.toEarth = above;
    if (tile.contains("transform"))
        viewed.toEarth = Times(above, tile["transform"].get<Matrix>());
    viewed.box = tile["boundingVolume"]["box"].get<std::array<double, 12>>();
    viewed.error = tile["geometricError"].get<double>();
    if (tile.contains("content")) {
        const fs::path uri = folder / fs::u8path(PercentDecoded(tile["content"]["uri"]));
        if (uri.extension() == ".json") {
            // A tileset of its own: its root takes this tile's place, in this tile's frame.
            std::ifstream in(output / uri);
            const Json own = Json::parse(in);
            EXPECT_FALSE(tile.contains("children"));
            return ViewTile(own["root"], uri.parent_path(), output, viewed.toEarth);
        }
        viewed.content = uri;
    }
    for (const Json& child : tile.value("children", Json::array()))
        viewed.children.push_back(ViewTile(child, folder, output, viewed.toEarth));
    return viewed;
}

} // namespace

ViewedTile ViewTileset(const fs::path& output) {
    std::ifstream in(output / kTilesetName);
    const Json tileset = Json::parse(in);
    Matrix toEarth = Identity();
    if (tileset["root"].contains("transform"))
        toEarth = tileset["root"]["transform"].get<Matrix>();
    Json root = tileset["root"];
    root.erase("transform");
    return ViewTile(root, {}, output, toEarth);
}

std::string SourceOf(const fs::path& content, const fs::path& block) {
    // Less its extension, and the generation of the build that wrote it.
    fs::path source = fs::path(content).replace_extension();
    const std::string generation = source.extension().string();
    if (generation.size() > 2 && generation[1] == 'v' &&
        generation.find_first_not_of("0123456789", 2) == std::string::npos)
        source.replace_extension();
    return Canonical(block / source);
}

namespace {

void NamedContents(const fs::path& output, const fs::path& tileset, const Json& tile,
                   std::set<std::string>& named) {
    if (tile.contains("content")) {
        const fs::path uri = tileset.parent_path() /
                             fs::u8path(PercentDecoded(tile["content"]["uri"].get<std::string>()));
        named.insert(uri.lexically_normal().generic_u8string());
        if (uri.extension() == ".json") {
            std::ifstream in(output / uri);
            NamedContents(output, uri, Json::parse(in)["root"], named);
        }
    }
    for (const Json& child : tile.value("children", Json::array()))
        NamedContents(output, tileset, child, named);
}

} // namespace

std::set<std::string> NamedContents(const fs::path& output) {
    std::set<std::string> named;
    std::ifstream in(output / kTilesetName);
    NamedContents(output, kTilesetName, Json::parse(in)["root"], named);
    return named;
}

std::set<std::string> NamedAndOwnFiles(const fs::path& output) {
    std::set<std::string> files = NamedContents(output);
    files.insert({kTilesetName, kConversionManifestName, std::string(kTilesetMarkerName)});
    return files;
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> files;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it)
        if (!it->is_directory())
            files.insert(it->path().lexically_relative(folder).generic_u8string());
    return files;
}

std::set<std::string> StrayOrMissing(const fs::path& output) {
    const std::set<std::string> there = FilesIn(output), named = NamedAndOwnFiles(output);
    std::set<std::string> wrong;
    for (const std::string& name : there)
        if (named.count(name) == 0)
            wrong.insert(name);
    for (const std::string& name : named)
        if (there.count(name) == 0)
            wrong.insert("missing: " + name);
    return wrong;
}

std::string SeenTileset(const fs::path& output) {
    std::ostringstream seen;
    seen.precision(17);
    const std::function<void(const ViewedTile&)> see = [&](const ViewedTile& tile) {
        seen << '{';
        for (const double value : tile.toEarth)
            seen << value << ' ';
        for (const double value : tile.box)
            seen << value << ' ';
        seen << tile.error << ' ';
        if (!tile.content.empty())
            seen << std::hash<std::string>()(ReadBytes(output / tile.content));
        for (const ViewedTile& child : tile.children)
            see(child);
        seen << '}';
    };
    see(ViewTileset(output));
    return seen.str();
}

void ForEachTile(const ViewedTile& tile, const std::function<void(const ViewedTile&)>& call) {
    call(tile);
    for (const ViewedTile& child : tile.children)
        ForEachTile(child, call);
}

Built Build(const fs::path& block, const fs::path& output, const BlockFrame* frame,
            const fs::path& previous, const ContentSettings& settings) {
    fs::create_directories(output);
    test::InProcessConverter converter;
    TilesetBuildOptions options;
    options.listedFolder = block;
    options.frame = frame;
    options.output = output;
    options.previousOutput = previous;
    options.inPlace = !previous.empty() && previous == output;
    options.quantize = settings.quantize;
    options.b3dm = settings.b3dm;
    options.meshopt = settings.meshopt;
    Result<TilesetBuilt> built = BuildTileset(options, converter.function());
    EXPECT_TRUE(built) << built.error().message();
    Built result;
    if (built)
        result.built = *built;
    result.calls = converter.callCount();
    result.callsByFile = converter.calls();
    result.mostInFlight = converter.mostInFlight();
    return result;
}

} // namespace brindle::test
