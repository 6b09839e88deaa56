#pragma once

#include "export/export_report.h"
#include "export/fs/atomic_file.h"
#include "export/fs/regular_file.h"

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

// What writing an index came to: an error (the target is untouched and nothing is left
// behind), or the index in place with perhaps a warning (IndexNotFlushed).
struct IndexWrite {
    std::optional<Problem> error;
    std::optional<Problem> warning;
    // The index as it lies on disk once written, read back and found to hold exactly the
    // bytes written; type none when it could not be told so.
    FileFacts placed;
    // The target already held exactly these bytes, and was left untouched.
    bool alreadyInPlace = false;
};

// Writes `node` as .osgb to `target` atomically (see ReplaceFileAtomically), unless `target`
// is a regular file, not a link, that holds exactly those bytes already; each problem names the
// file and the cause.
IndexWrite WriteIndexFile(const osg::Node& node, const std::filesystem::path& target,
                          const AtomicFileCalls& calls = SystemFileCalls());

} // namespace brindle
