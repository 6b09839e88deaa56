#pragma once

#include "export/export_report.h"
#include "export/index/index_graph.h"

#include <osg/Vec3d>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

class SpatialReferences;

// What a folder's own files say of its origin, read before any of its tiles: the run refuses
// an origin in degrees before it spends a check on the block it would only have to refuse.
struct FolderOrigin {
    std::optional<osg::Vec3d> translation;    // from report.txt, or from metadata.xml
    std::filesystem::path file;               // the report.txt or metadata.xml that gave it
    OriginSource source = OriginSource::None; // ThisFolder or Metadata, once one gave it
    std::string srs;                          // as metadata.xml named it
    SrsKind srsKind = SrsKind::None;
    // An unusable report.txt or metadata.xml, or an origin in degrees written all the same.
    std::vector<Problem> warnings;
    // An origin in degrees, which no translation in metres can be, not confirmed, or an SRS
    // that cannot be told: the error that keeps the folder's old index.
    std::optional<Problem> refused;
};

// Reads the origin of `folder`: line 2 of its report.txt, else the metadata.xml beside its
// tiles (MetadataFileFor), its SRS told by `references`. An origin in degrees is asked about
// through `confirm`, once; an SRS that cannot be told (no PROJ to load) is refused.
FolderOrigin ReadFolderOrigin(const std::filesystem::path& folder, SpatialReferences& references,
                              const std::function<bool(const Problem&)>& confirm);

// The translation carried from folder to folder, and the file it came from.
struct OriginState {
    std::filesystem::path report; // empty while none has been read
    std::string srs;              // as metadata.xml named it, when the translation came from one
    SrsKind srsKind = SrsKind::None;
};

// Sets the folder's translation from its own origin, or keeps the one carried over, and says
// in `report` which it is.
void ApplyOrigin(const FolderOrigin& own, IndexGraph& graph, OriginState& state,
                 FolderReport& report);

} // namespace brindle
