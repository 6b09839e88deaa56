#pragma once

#include "export/export_report.h"

#include <osg/Vec3d>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// What a production folder's metadata.xml gives: the origin its tiles' coordinates are
// relative to and the spatial reference they are in, or why it gives none.
struct MetadataReading {
    std::optional<osg::Vec3d> origin; // SRSOrigin's X, Y and Z
    std::string srs;                  // SRS's text, trimmed; may be empty
    // Why there is no origin, when there is none: one of the Metadata* problem kinds.
    std::optional<ProblemKind> problem;
};

// Real metadata files are a few hundred bytes; anything past this is not one.
constexpr std::size_t kMaxMetadataBytes = std::size_t{1} << 20;

// Parses a metadata.xml's bytes. Any bytes at all give a reading, never an exception.
MetadataReading ParseMetadataXml(std::string_view bytes);

// Reads and parses `file`. Only a regular file is opened, and no more than kMaxMetadataBytes
// of it are read. A problem in the reading names `file`.
struct MetadataFileReading {
    MetadataReading reading;
    std::optional<Problem> problem;
};
MetadataFileReading ReadMetadataXml(const std::filesystem::path& file);

// The names a production folder's files have, as spelled where they are found in any case.
inline const char* const kMetadataFileName = "metadata.xml";
inline const char* const kDataFolderName = "Data";

// Where the metadata.xml for the tiles of `folder` lies: in the folder, or, for a folder named
// Data (the tiles of a production folder), in its parent; named so in any letter case. Empty
// when there is none. `caseTwins`, when given, is set when the folder holds more than one
// such name in other case than metadata.xml, the first bytewise of which was taken.
std::filesystem::path MetadataFileFor(const std::filesystem::path& folder,
                                      bool* caseTwins = nullptr);

// True for a folder named Data, in any case.
bool IsDataFolderName(const std::filesystem::path& name);

} // namespace brindle
