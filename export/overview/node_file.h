#pragma once

#include "export/error/result.h"

#include <osg/Node>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// The .osgb file version node files are written in: the one the index is written in, so that
// a viewer that reads the index reads the levels below it too.
constexpr int kNodeFileVersion = 80;

// The name an embedded texture is stored under: it names no file, only the format the bytes
// are in, which is how a reader picks the decoder for them.
constexpr const char* kEmbeddedJpegName = ".jpg";

// How a node file is put on disk; tests make it fail.
struct NodeFileCalls {
    // Creates `file`, which must not exist yet, holding exactly `bytes`. A failure leaves no
    // file of that name behind that this call created.
    std::function<Status(const std::filesystem::path& file, std::string_view bytes)> create;
};
// Creates the file exclusively and writes it whole. Not flushed to disk: a pyramid is many
// small files, and a flush each would cost a disk round trip per file.
NodeFileCalls SystemNodeFileCalls();

// The file name of the overview node of `level` at cell (x, y) of its level: "L3_1_2.osgb".
std::string NodeFileName(int level, std::int64_t x, std::int64_t y);

// The bytes of `node` as an .osgb file of version kNodeFileVersion, each texture image in it
// embedded as JPEG of this quality (1 to 100) instead of raw pixels; nothing when the
// scene-graph library has no .osgb writer or no JPEG one. The images must be named
// kEmbeddedJpegName.
std::optional<std::string> SerialiseNodeFile(const osg::Node& node, int jpegQuality);

} // namespace brindle
