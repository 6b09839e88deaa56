#include "export/tiles3d/conversion_manifest.h"

#include "export/fs/overview_folder.h"
#include "export/tiles3d/tileset_names.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

using Json = nlohmann::json;

// 2: generations, and the tile roots' tilesets.
constexpr int kManifestVersion = 2;
// A line longer than this is not one the writer made: a content names few files.
constexpr std::size_t kLongestLine = 16u << 20;

bool ReadNumbers(const Json& json, double* numbers, std::size_t count) {
    if (!json.is_array() || json.size() != count)
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!json[i].is_number())
            return false;
        numbers[i] = json[i].get<double>();
        if (!std::isfinite(numbers[i]))
            return false;
    }
    return true;
}

template <typename Unsigned> bool ReadUnsigned(const Json& json, Unsigned& value) {
    if (!json.is_number_unsigned())
        return false;
    value = json.get<Unsigned>();
    return true;
}

Json Head(const ManifestHead& head) {
    return {{"brindle-tileset-manifest", kManifestVersion},
            {"generation", head.generation},
            {"quantize", head.settings.quantize},
            {"b3dm", head.settings.b3dm},
            {"meshopt", head.settings.meshopt}};
}

std::optional<ManifestHead> ParseHead(const std::string& text) {
    const Json json = Json::parse(text, nullptr, false);
    if (!json.is_object() || json.size() != 5 ||
        json.value("brindle-tileset-manifest", Json()) != kManifestVersion)
        return std::nullopt;
    ManifestHead head;
    const Json quantize = json.value("quantize", Json()), b3dm = json.value("b3dm", Json()),
               meshopt = json.value("meshopt", Json());
    if (!quantize.is_boolean() || !b3dm.is_boolean() || !meshopt.is_boolean() ||
        !ReadUnsigned(json.value("generation", Json()), head.generation))
        return std::nullopt;
    head.settings = {quantize.get<bool>(), b3dm.get<bool>(), meshopt.get<bool>()};
    return head;
}

// One line's file, as the line records it; nothing when the line is not one the writer made.
struct Line {
    std::string file;
    FileStamp stamp;
    fs::path content;
    ConvertedFile converted;
};

// A name as the writer gives them: a relative path below the output folder.
bool BelowOutputFolder(const fs::path& name) {
    if (name.empty() || name.is_absolute() || name.has_root_name())
        return false;
    for (const fs::path& segment : name)
        if (segment == ".." || segment == ".")
            return false;
    return true;
}

// With `readFiner` false the finer files are checked but not read: the manifest's first read
// needs only to know that each line is whole.
std::optional<Line> ParseLine(const Json& json, const fs::path& listedFolder,
                              bool readFiner = true) {
    if (!json.is_object())
        return std::nullopt;
    Line line;
    const auto file = json.find("file");
    const auto content = json.find("content");
    const auto modified = json.find("modified");
    const auto finer = json.find("finer");
    if (file == json.end() || !file->is_string() || content == json.end() ||
        !content->is_string() || modified == json.end() || !modified->is_number_integer() ||
        finer == json.end() || !finer->is_array())
        return std::nullopt;
    line.file = file->get<std::string>();
    line.content = fs::u8path(content->get<std::string>());
    line.stamp.modified = modified->get<std::int64_t>();
    ConvertedFile& converted = line.converted;
    if (!ReadUnsigned(json.value("size", Json()), line.stamp.size) ||
        !ReadUnsigned(json.value("glbBytes", Json()), converted.glbBytes) ||
        !ReadUnsigned(json.value("triangles", Json()), converted.triangles) ||
        !ReadNumbers(json.value("boundsMin", Json()), converted.boundsMin.data(), 3) ||
        !ReadNumbers(json.value("boundsMax", Json()), converted.boundsMax.data(), 3))
        return std::nullopt;
    if (!BelowOutputFolder(line.content))
        return std::nullopt;
    for (const Json& entry : *finer) {
        if (!entry.is_array() || entry.size() != 7 || !entry[0].is_string() ||
            !entry[1].is_boolean())
            return std::nullopt;
        if (!readFiner) {
            for (int i = 2; i < 7; ++i)
                if (!entry[i].is_number())
                    return std::nullopt;
            continue;
        }
        FinerFile named;
        named.file = (listedFolder / fs::u8path(entry[0].get<std::string>())).lexically_normal();
        named.pixels = entry[1].get<bool>();
        double numbers[5];
        for (int i = 0; i < 5; ++i) {
            if (!entry[2 + i].is_number())
                return std::nullopt;
            numbers[i] = entry[2 + i].get<double>();
        }
        named.switchAt = numbers[0];
        named.centre = {numbers[1], numbers[2], numbers[3]};
        named.radius = numbers[4];
        converted.finer.push_back(std::move(named));
    }
    return line;
}

// One line's tile tileset; nothing when the line is not one.
struct TilesetLine {
    std::string root;
    EarlierTileTileset tileset;
};

std::optional<TilesetLine> ParseTilesetLine(const Json& json) {
    const auto name = json.find("tileset");
    const auto root = json.find("root");
    if (name == json.end() || !name->is_string() || root == json.end() || !root->is_string())
        return std::nullopt;
    TilesetLine line;
    line.root = root->get<std::string>();
    line.tileset.name = fs::u8path(name->get<std::string>());
    if (!BelowOutputFolder(line.tileset.name) ||
        !ReadUnsigned(json.value("hash", Json()), line.tileset.hash) ||
        !ReadUnsigned(json.value("size", Json()), line.tileset.bytes))
        return std::nullopt;
    return line;
}

// A key in an overview's levels folder, split into that folder and the rest of the path;
// nothing for any other key. The overview puts its unchanged nodes into each new levels folder
// by hard link, so such a node keeps its stamp but not its path: the rest of the path is the
// node's name across levels folders.
std::optional<std::pair<std::string, std::string>> SplitLevelsFolder(const std::string& key) {
    const std::size_t slash = key.find('/');
    if (slash == std::string::npos || slash + 1 == key.size() ||
        !HasOverviewFolderName(fs::u8path(key.substr(0, slash))))
        return std::nullopt;
    return std::make_pair(key.substr(0, slash), key.substr(slash + 1));
}

// The files a node names in its own levels folder, moved to the folder it is in now.
void MoveToLevelsFolder(std::vector<FinerFile>& finer, const fs::path& from, const fs::path& to) {
    for (FinerFile& named : finer) {
        const fs::path relative = named.file.lexically_relative(from);
        if (!relative.empty() && *relative.begin() != "..")
            named.file = (to / relative).lexically_normal();
    }
}

} // namespace

std::optional<ManifestHead> ReadManifestHead(const fs::path& outputFolder) {
    const fs::path file = outputFolder / kConversionManifestName;
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error)))
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::string text;
    // The head is short: a longer first line is not one the writer made.
    text.resize(1024);
    in.getline(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.fail())
        return std::nullopt;
    text.resize(std::strlen(text.c_str()));
    return ParseHead(text);
}

Result<std::unique_ptr<ManifestWriter>>
ManifestWriter::Open(const fs::path& file, const fs::path& listedFolder, const ManifestHead& head) {
    std::unique_ptr<ManifestWriter> writer(new ManifestWriter);
    writer->listedFolder_ = listedFolder;
    writer->out_.open(file, std::ios::binary | std::ios::trunc);
    if (!writer->out_)
        return std::make_error_code(std::errc::io_error);
    writer->out_ << Head(head).dump() << '\n';
    return writer;
}

void ManifestWriter::add(const fs::path& file, const FileStamp& stamp, const fs::path& contentName,
                         const ConvertedFile& converted) {
    Json finer = Json::array();
    for (const FinerFile& named : converted.finer)
        finer.push_back({ManifestKey(named.file, listedFolder_), named.pixels, named.switchAt,
                         named.centre[0], named.centre[1], named.centre[2], named.radius});
    const Json line = {{"file", ManifestKey(file, listedFolder_)},
                       {"size", stamp.size},
                       {"modified", stamp.modified},
                       {"content", contentName.generic_u8string()},
                       {"glbBytes", converted.glbBytes},
                       {"triangles", converted.triangles},
                       {"boundsMin", converted.boundsMin},
                       {"boundsMax", converted.boundsMax},
                       {"finer", std::move(finer)}};
    out_ << line.dump() << '\n';
}

void ManifestWriter::addLine(const std::string& text) {
    out_ << text << '\n';
}

void ManifestWriter::addTileset(const fs::path& file, const fs::path& name, std::uint64_t hash,
                                std::uint64_t bytes) {
    const Json line = {{"tileset", name.generic_u8string()},
                       {"root", ManifestKey(file, listedFolder_)},
                       {"hash", hash},
                       {"size", bytes}};
    out_ << line.dump() << '\n';
}

Status ManifestWriter::close() {
    out_.close();
    if (out_.fail())
        return std::make_error_code(std::errc::io_error);
    return {};
}

std::unique_ptr<EarlierConversions> EarlierConversions::Load(const fs::path& outputFolder,
                                                             const fs::path& listedFolder,
                                                             const ContentSettings& settings) {
    std::unique_ptr<EarlierConversions> earlier(new EarlierConversions);
    earlier->folder_ = outputFolder;
    earlier->listedFolder_ = listedFolder;
    const fs::path file = outputFolder / kConversionManifestName;
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error)))
        return nullptr;
    earlier->in_.open(file, std::ios::binary);
    std::string text;
    if (!std::getline(earlier->in_, text))
        return nullptr;
    const std::optional<ManifestHead> head = ParseHead(text);
    if (!head || !(head->settings == settings))
        return nullptr;
    earlier->generation_ = head->generation;
    for (;;) {
        const std::streamoff start = earlier->in_.tellg();
        if (!std::getline(earlier->in_, text))
            break;
        if (text.size() > kLongestLine)
            return nullptr;
        const Json json = Json::parse(text, nullptr, false);
        if (json.is_object() && json.contains("tileset")) {
            const std::optional<TilesetLine> line = ParseTilesetLine(json);
            if (!line || !HoldsBytes(outputFolder / line->tileset.name, line->tileset.bytes))
                return nullptr;
            earlier->tilesets_[PathKey::Of(line->root)] = start;
            earlier->starts_.push_back(start);
            continue;
        }
        const std::optional<Line> line = ParseLine(json, listedFolder, false);
        if (!line || !HoldsBytes(outputFolder / line->content, line->converted.glbBytes))
            return nullptr;
        earlier->lines_[PathKey::Of(line->file)] = start;
        earlier->starts_.push_back(start);
        if (const auto node = SplitLevelsFolder(line->file)) {
            earlier->nodeLines_[PathKey::Of(node->second)] = start;
            continue;
        }
        const fs::path source = (listedFolder / fs::u8path(line->file)).lexically_normal();
        const std::optional<FileStamp> now = StampOf(source);
        if (now && (now->size != line->stamp.size || now->modified != line->stamp.modified))
            earlier->changed_.push_back({source, line->content});
    }
    if (!earlier->in_.eof())
        return nullptr;
    earlier->in_.clear();
    return earlier;
}

std::optional<std::string> EarlierConversions::lineAt(std::streamoff start) {
    std::string text;
    in_.clear();
    in_.seekg(start);
    if (!std::getline(in_, text))
        return std::nullopt;
    return text;
}

std::optional<EarlierConversion> EarlierConversions::find(const fs::path& file,
                                                          const FileStamp& stamp) {
    const std::string key = ManifestKey(file, listedFolder_);
    // A node of the overview in a levels folder made since: the same node, linked, when its
    // stamp is the one recorded.
    const std::optional<std::pair<std::string, std::string>> node = SplitLevelsFolder(key);
    std::streamoff start = 0;
    bool moved = false;
    if (const auto found = lines_.find(PathKey::Of(key)); found != lines_.end()) {
        start = found->second;
    } else if (const auto linked =
                   node ? nodeLines_.find(PathKey::Of(node->second)) : nodeLines_.end();
               linked != nodeLines_.end()) {
        start = linked->second;
        moved = true;
    } else {
        return std::nullopt;
    }
    const std::optional<std::string> text = lineAt(start);
    if (!text)
        return std::nullopt;
    std::optional<Line> line = ParseLine(Json::parse(*text, nullptr, false), listedFolder_);
    if (!line || line->stamp.size != stamp.size || line->stamp.modified != stamp.modified)
        return std::nullopt;
    if (!moved) {
        if (line->file != key)
            return std::nullopt;
    } else {
        const std::optional<std::pair<std::string, std::string>> earlier =
            SplitLevelsFolder(line->file);
        if (!earlier || earlier->second != node->second)
            return std::nullopt;
        MoveToLevelsFolder(line->converted.finer, listedFolder_ / fs::u8path(earlier->first),
                           listedFolder_ / fs::u8path(node->first));
    }
    return EarlierConversion{folder_ / line->content, line->content, std::move(line->converted),
                             start, moved ? std::string() : *text};
}

std::optional<EarlierTileTileset> EarlierConversions::findTileset(const fs::path& file) {
    const std::string key = ManifestKey(file, listedFolder_);
    const auto found = tilesets_.find(PathKey::Of(key));
    if (found == tilesets_.end())
        return std::nullopt;
    const std::optional<std::string> text = lineAt(found->second);
    if (!text)
        return std::nullopt;
    std::optional<TilesetLine> line = ParseTilesetLine(Json::parse(*text, nullptr, false));
    if (!line || line->root != key)
        return std::nullopt;
    line->tileset.line = found->second;
    return std::move(line->tileset);
}

std::vector<fs::path> EarlierConversions::namesNotKept() {
    std::vector<fs::path> names;
    for (const std::streamoff start : starts_) {
        if (kept_.count(start) != 0)
            continue;
        const std::optional<std::string> text = lineAt(start);
        if (!text)
            continue;
        const Json json = Json::parse(*text, nullptr, false);
        if (std::optional<TilesetLine> tileset = ParseTilesetLine(json))
            names.push_back(std::move(tileset->tileset.name));
        else if (std::optional<Line> line = ParseLine(json, listedFolder_))
            names.push_back(std::move(line->content));
    }
    return names;
}

} // namespace brindle
