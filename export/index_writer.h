#pragma once

#include "export/export_report.h"

#include <osg/Node>

#include <filesystem>
#include <optional>
#include <string>

namespace brindle {

// The .osgb file version index files are written in. Viewers built on older scene-graph
// releases read newer versions as an empty transform, while current releases read this one.
constexpr int kIndexFileVersion = 80;

// The bytes of `node` as an .osgb file of version kIndexFileVersion; nothing when the
// scene-graph library has no .osgb writer.
std::optional<std::string> SerialiseIndex(const osg::Node& node);

// Writes `node` as .osgb to `target` atomically (see ReplaceFileAtomically). On failure the
// target is untouched, nothing is left behind and the returned problem names the file and
// the cause.
std::optional<Problem> WriteIndexFile(const osg::Node& node, const std::filesystem::path& target);

} // namespace brindle
