#pragma once

#include "export/export_report.h"

#include <osg/Node>

#include <filesystem>
#include <optional>

namespace brindle {

// The .osgb file version index files are written in. Viewers built on older scene-graph
// releases read newer versions as an empty transform, while current releases read this one.
constexpr int kIndexFileVersion = 80;

// Writes `node` as .osgb to `target` atomically: into a temporary file in the same folder,
// flushed to disk, then renamed over the target. On failure the target is untouched, no
// temporary file is left and the returned problem names the file and the cause.
std::optional<Problem> WriteIndexFile(const osg::Node& node, const std::filesystem::path& target);

} // namespace brindle
