#include "export/tiles3d/tileset_names.h"

#include "export/hash/fnv1a.h"

#include <cstdio>
#include <string>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A name of one segment that every system takes as a plain file or folder name.
bool PlainSegment(const std::string& segment) {
    if (segment.empty() || segment == "." || segment == "..")
        return false;
    for (const char byte : segment) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x20 || c == 0x7f || c == ':' || c == '\\' || c == '/')
            return false;
    }
    return true;
}

// `file` below `folder` as a path of plain segments; empty when it is not one.
fs::path PlainRelative(const fs::path& file, const fs::path& folder) {
    fs::path relative = file.lexically_normal().lexically_relative(folder.lexically_normal());
    if (relative.empty() || relative.is_absolute() || relative.has_root_name())
        return {};
    for (const fs::path& segment : relative)
        if (!PlainSegment(segment.u8string()))
            return {};
    return relative;
}

const char* ExtensionOf(ContentFormat format) {
    return format == ContentFormat::B3dm ? ".b3dm" : ".glb";
}

fs::path HashedName(const fs::path& file, ContentFormat format) {
    const std::uint64_t hash = Fnv1a().addBytes(file.lexically_normal().generic_u8string()).value();
    char name[32];
    std::snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(hash),
                  ExtensionOf(format));
    return fs::path(kOutsideContentFolder) / name;
}

} // namespace

fs::path ContentName(const fs::path& file, const fs::path& listedFolder, ContentFormat format) {
    fs::path relative = PlainRelative(file, listedFolder);
    if (!relative.empty())
        return relative += ExtensionOf(format);
    return HashedName(file, format);
}

fs::path ContentNameBelow(const fs::path& file, const fs::path& listedFolder, const fs::path& base,
                          ContentFormat format) {
    fs::path name = ContentName(file, listedFolder, format);
    if (base.empty() || !PlainRelative(name, base).empty())
        return name;
    return base / HashedName(file, format);
}

PathKey PathKey::Of(std::string_view text) {
    PathKey key;
    key.forwards = Fnv1a().addBytes(text).value();
    Fnv1a backwards;
    for (auto c = text.rbegin(); c != text.rend(); ++c)
        backwards.addByte(static_cast<unsigned char>(*c));
    key.backwards = backwards.value();
    return key;
}

fs::path IndexScratchName(const fs::path& index, ContentFormat format) {
    return HashedName(index, format);
}

fs::path Tagged(const fs::path& name, std::uint64_t generation) {
    fs::path tagged = name;
    const fs::path extension = name.extension();
    tagged.replace_extension(".v" + std::to_string(generation));
    return tagged += extension;
}

fs::path Untagged(const fs::path& name) {
    fs::path stem = name;
    const fs::path extension = name.extension();
    stem.replace_extension();
    const std::string tag = stem.extension().string();
    if (tag.size() < 3 || tag.compare(0, 2, ".v") != 0 ||
        tag.find_first_not_of("0123456789", 2) != std::string::npos)
        return name;
    return stem.replace_extension() += extension;
}

fs::path TileTilesetName(const fs::path& contentName, std::uint64_t generation) {
    fs::path name = contentName;
    return name.replace_extension(".v" + std::to_string(generation) + ".tileset.json");
}

std::string ManifestKey(const fs::path& file, const fs::path& listedFolder) {
    const fs::path relative =
        file.lexically_normal().lexically_relative(listedFolder.lexically_normal());
    // Another drive: no relative path leads there.
    return (relative.empty() ? file.lexically_normal() : relative).generic_u8string();
}

} // namespace brindle
