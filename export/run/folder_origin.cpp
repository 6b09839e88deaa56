#include "export/run/folder_origin.h"

#include "export/origin/origin_report.h"
#include "export/origin/spatial_reference.h"
#include "export/scan/metadata_xml.h"

#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A production folder's origin, where no report.txt gives one: all three coordinates.
void ReadMetadataOrigin(const fs::path& folder, SpatialReferences& references,
                        const std::function<bool(const Problem&)>& confirm, FolderOrigin& origin) {
    bool caseTwins = false;
    const fs::path metadataPath = MetadataFileFor(folder, &caseTwins);
    if (metadataPath.empty())
        return;
    if (caseTwins)
        origin.warnings.push_back({ProblemKind::NamesDifferInCase, metadataPath, {}});
    const MetadataFileReading metadata = ReadMetadataXml(metadataPath);
    if (!metadata.reading.origin) {
        if (metadata.problem)
            origin.warnings.push_back(*metadata.problem);
        return;
    }
    origin.srs = metadata.reading.srs;
    const std::optional<SrsKind> identified = references.identify(metadata.reading.srs);
    if (!identified) {
        origin.srsKind = SrsKind::Unknown;
        origin.refused = Problem{ProblemKind::SrsLibraryMissing,
                                 references.library(),
                                 {},
                                 {{metadataPath, metadata.reading.srs}}};
        return;
    }
    origin.srsKind = *identified;
    if (origin.srsKind == SrsKind::Geographic) {
        Problem degrees{ProblemKind::MetadataGeographicSrs,
                        metadataPath,
                        {},
                        {{metadataPath, metadata.reading.srs}}};
        if (!confirm || !confirm(degrees)) {
            origin.refused = std::move(degrees);
            return;
        }
        degrees.kind = ProblemKind::MetadataGeographicSrsForced;
        origin.warnings.push_back(std::move(degrees));
    }
    origin.translation = *metadata.reading.origin;
    origin.file = metadataPath;
    origin.source = OriginSource::Metadata;
}

} // namespace

FolderOrigin ReadFolderOrigin(const fs::path& folder, SpatialReferences& references,
                              const std::function<bool(const Problem&)>& confirm) {
    FolderOrigin origin;
    const fs::path reportPath = folder / "report.txt";
    std::error_code ec;
    if (fs::symlink_status(reportPath, ec).type() != fs::file_type::not_found && !ec) {
        const OriginReading reading = ReadBlockOrigin(reportPath);
        if (reading.origin) {
            origin.translation = osg::Vec3d(reading.origin->x, reading.origin->y, 0.0);
            origin.file = reportPath;
            origin.source = OriginSource::ThisFolder;
            return origin;
        }
        if (reading.problem)
            origin.warnings.push_back(*reading.problem);
    }
    ReadMetadataOrigin(folder, references, confirm, origin);
    return origin;
}

void ApplyOrigin(const FolderOrigin& own, IndexGraph& graph, OriginState& state,
                 FolderReport& report) {
    report.warnings.insert(report.warnings.end(), own.warnings.begin(), own.warnings.end());
    const bool found = own.translation.has_value();
    if (found) {
        graph.setTranslation(*own.translation);
        state = {own.file, own.srs, own.srsKind};
    }
    report.translation = graph.translation();
    report.originReport = state.report;
    report.srs = state.srs;
    report.srsKind = state.srsKind;
    if (state.report.empty())
        report.originSource = OriginSource::None;
    else if (!found)
        report.originSource = OriginSource::CarriedOver;
    else
        report.originSource = own.source;
}

} // namespace brindle
