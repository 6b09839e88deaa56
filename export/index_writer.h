#pragma once

#include <osg/Node>

#include <filesystem>
#include <string>

namespace brindle {

// The .osgb file version index files are written in. Viewers built on older scene-graph
// releases read newer versions as an empty transform, while current releases read this one.
constexpr int kIndexFileVersion = 80;

// Writes `node` as .osgb to `target` atomically: into a temporary file in the same folder,
// flushed to disk, then renamed over the target. On failure the target is untouched, no
// temporary file is left and the returned text names the file and the cause; on success it
// is empty.
std::string WriteIndexFile(const osg::Node& node, const std::filesystem::path& target);

} // namespace brindle
