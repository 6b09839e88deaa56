#include "export/tiles3d/tileset_json.h"

#include "export/fs/atomic_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace brindle {
namespace {

using Json = nlohmann::json;

Point3 Apply(const ColumnMajor4x4& m, const Point3& p) {
    return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12],
            m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
            m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

Point3 Rotate(const ColumnMajor4x4& m, const Point3& v) {
    return {m[0] * v[0] + m[4] * v[1] + m[8] * v[2], m[1] * v[0] + m[5] * v[1] + m[9] * v[2],
            m[2] * v[0] + m[6] * v[1] + m[10] * v[2]};
}

bool Finite(double value) {
    return std::isfinite(value);
}

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// A URI this writer made: relative, going nowhere above the tileset's folder.
bool RelativeReference(const std::string& uri) {
    if (uri.empty() || uri.front() == '/')
        return false;
    std::size_t start = 0;
    while (start <= uri.size()) {
        const std::size_t end = std::min(uri.find('/', start), uri.size());
        const std::string segment = uri.substr(start, end - start);
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find(':') != std::string::npos)
            return false;
        start = end + 1;
    }
    return true;
}

// The box as a tileset writes it: its centre, then its three half axes.
std::optional<Json> BoxJson(const OrientedBox& box) {
    Json numbers = Json::array();
    for (const double value : box.centre)
        numbers.push_back(value);
    for (const Point3& axis : box.halfAxes)
        for (const double value : axis)
            numbers.push_back(value);
    for (const Json& number : numbers)
        if (!Finite(number.get<double>()))
            return std::nullopt;
    return numbers;
}

// Appends `tile` and its descendants to `text`; false when any of them cannot be written. No
// tile's error is written larger than its parent's, `ceiling`: a viewer that refined the
// parent would find the child coarser. Each tile is made a document of its own and its
// children appended as text, so that a tree of 10^5 tiles costs its text, not a document of
// it.
bool AppendTile(std::string& text, const TilesetTile& tile, double ceiling,
                const std::optional<ColumnMajor4x4>& transform) {
    std::optional<Json> box = BoxJson(tile.box);
    if (!box || !Finite(tile.geometricError) || tile.geometricError < 0.0)
        return false;
    const double error = std::min(tile.geometricError, ceiling);
    Json json = {{"boundingVolume", {{"box", std::move(*box)}}},
                 {"geometricError", error},
                 {"refine", "REPLACE"}};
    if (!tile.contentUri.empty()) {
        if (!RelativeReference(tile.contentUri))
            return false;
        json["content"] = {{"uri", tile.contentUri}};
    }
    if (transform) {
        if (!std::all_of(transform->begin(), transform->end(), Finite))
            return false;
        json["transform"] = *transform;
    }
    // The shortest text that reads back as the same double, for every number.
    std::string own = json.dump();
    if (tile.children.empty()) {
        text += own;
        return true;
    }
    own.pop_back(); // the closing brace, after which the children come
    text += own;
    text += ",\"children\":[";
    for (std::size_t i = 0; i < tile.children.size(); ++i) {
        if (i > 0)
            text += ',';
        if (!AppendTile(text, tile.children[i], error, tile.children[i].transform))
            return false;
    }
    text += "]}";
    return true;
}

} // namespace

OrientedBox BoxAround(const std::vector<Point3>& points) {
    OrientedBox box;
    if (points.empty())
        return box;
    Point3 low = points.front();
    Point3 high = points.front();
    for (const Point3& point : points)
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], point[axis]);
            high[axis] = std::max(high[axis], point[axis]);
        }
    for (int axis = 0; axis < 3; ++axis) {
        box.centre[axis] = (low[axis] + high[axis]) / 2.0;
        box.halfAxes[axis][axis] = (high[axis] - low[axis]) / 2.0;
    }
    return box;
}

std::vector<Point3> Corners(const OrientedBox& box) {
    std::vector<Point3> corners;
    for (int corner = 0; corner < 8; ++corner) {
        Point3 point = box.centre;
        for (int axis = 0; axis < 3; ++axis) {
            const double sign = (corner >> axis) & 1 ? 1.0 : -1.0;
            for (int i = 0; i < 3; ++i)
                point[i] += sign * box.halfAxes[axis][i];
        }
        corners.push_back(point);
    }
    return corners;
}

OrientedBox Transformed(const OrientedBox& box, const ColumnMajor4x4& transform) {
    OrientedBox moved;
    moved.centre = Apply(transform, box.centre);
    for (int axis = 0; axis < 3; ++axis)
        moved.halfAxes[axis] = Rotate(transform, box.halfAxes[axis]);
    return moved;
}

std::string RelativeUri(const std::filesystem::path& relative) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::string text = relative.generic_u8string();
    std::string uri;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (Unreserved(c) || c == '/') {
            uri += byte;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

std::optional<std::string> TilesetJson(const Tileset& tileset) {
    const double error = std::max(tileset.geometricError, tileset.root.geometricError);
    if (!Finite(error))
        return std::nullopt;
    const char* version = tileset.version == TilesVersion::V1_0 ? "1.0" : "1.1";
    const Json head = {{"asset", {{"version", version}}}, {"geometricError", error}};
    std::string text = head.dump();
    text.pop_back(); // the closing brace, after which the root comes
    text += ",\"root\":";
    if (!AppendTile(text, tileset.root, std::numeric_limits<double>::infinity(), tileset.transform))
        return std::nullopt;
    text += "}\n";
    return text;
}

Status WriteTileset(const std::filesystem::path& file, const Tileset& tileset) {
    const std::optional<std::string> text = TilesetJson(tileset);
    if (!text)
        return std::make_error_code(std::errc::invalid_argument);
    const Result<FileReplaced> replaced = ReplaceFileAtomically(file, *text);
    if (!replaced)
        return replaced.error();
    return {};
}

Tileset FolderOfBlocks(const std::vector<BlockTileset>& blocks, TilesVersion version) {
    Tileset folder;
    folder.version = version;
    if (blocks.empty())
        return folder;
    // The root's box lies along the first block's east, north and up: the blocks of one
    // folder lie close together, so it is nearly as tight as their own.
    const ColumnMajor4x4& axes = blocks.front().frameToEarth;
    std::vector<Point3> inFirstFrame;
    for (const BlockTileset& block : blocks) {
        TilesetTile tile;
        tile.box = Transformed(block.box, block.frameToEarth);
        tile.geometricError = block.geometricError;
        tile.contentUri = RelativeUri(block.tileset);
        for (const Point3& corner : Corners(tile.box)) {
            const Point3 offset = {corner[0] - axes[12], corner[1] - axes[13],
                                   corner[2] - axes[14]};
            inFirstFrame.push_back(
                {axes[0] * offset[0] + axes[1] * offset[1] + axes[2] * offset[2],
                 axes[4] * offset[0] + axes[5] * offset[1] + axes[6] * offset[2],
                 axes[8] * offset[0] + axes[9] * offset[1] + axes[10] * offset[2]});
        }
        folder.root.geometricError = std::max(folder.root.geometricError, block.geometricError);
        folder.root.children.push_back(std::move(tile));
    }
    folder.root.box = Transformed(BoxAround(inFirstFrame), axes);
    // The root has no content of its own: it is refined as soon as its coarsest block is.
    folder.geometricError = folder.root.geometricError;
    return folder;
}

} // namespace brindle
