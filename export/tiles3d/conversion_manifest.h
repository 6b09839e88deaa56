#pragma once

#include "export/error/result.h"
#include "export/tiles3d/file_conversion.h"
#include "export/tiles3d/tileset_names.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace brindle {

// A file as the manifest knows it: enough to tell whether it changed since.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0; // the file system's time, in its own ticks
};
// The stamp of a regular file; nothing for anything else or when it cannot be read.
std::optional<FileStamp> StampOf(const std::filesystem::path& file);

// What the contents were made with: a content made with other settings is made again.
struct ContentSettings {
    bool quantize = false; // KHR_mesh_quantization
    bool b3dm = false;     // a Batched 3D Model around the glb
    bool meshopt = false;  // EXT_meshopt_compression
};

// What the manifest of an output folder holds: one line a converted file with content, as
// JSON: its path relative to the listed folder, its stamp, where its content is and what its
// conversion gave, finer files relative to the listed folder too (so a listed folder moved
// whole is still the same). A first line holds the version and the settings the contents
// were made with.
class ManifestWriter {
public:
    static Result<std::unique_ptr<ManifestWriter>> Open(const std::filesystem::path& file,
                                                        const std::filesystem::path& listedFolder,
                                                        const ContentSettings& settings);
    void add(const std::filesystem::path& file, const FileStamp& stamp,
             const std::filesystem::path& contentName, const ConvertedFile& converted);
    // Puts what was added on disk; the system's cause when any of it could not be written.
    Status close();

private:
    ManifestWriter() = default;
    std::filesystem::path listedFolder_;
    std::ofstream out_;
};

// What an earlier build recorded: a file unchanged since takes its content and result from
// there.
struct EarlierConversion {
    std::filesystem::path content; // in the earlier output folder
    ConvertedFile converted;
};

class EarlierConversions {
public:
    // The manifest of `outputFolder`, when it reads whole, was made with the same settings
    // and every content it names is there as it recorded; otherwise nothing, and every file
    // is converted again.
    static std::unique_ptr<EarlierConversions> Load(const std::filesystem::path& outputFolder,
                                                    const std::filesystem::path& listedFolder,
                                                    const ContentSettings& settings);
    // The earlier conversion of `file` when its stamp is the one recorded. A node of the
    // overview is also found under the name it had in an earlier levels folder (the overview
    // links its unchanged nodes into each new one), the files it names in its folder moved to
    // its folder now.
    std::optional<EarlierConversion> find(const std::filesystem::path& file,
                                          const FileStamp& stamp);

private:
    EarlierConversions() = default;
    std::filesystem::path folder_, listedFolder_;
    std::ifstream in_;
    // Where each file's line starts, by its key's PathKey: only the lines asked for are
    // read again, and a line is taken only for the file it names.
    std::unordered_map<PathKey, std::streamoff, PathKeyHash> lines_;
    // The lines of the overview's nodes, by their paths within their levels folder.
    std::unordered_map<PathKey, std::streamoff, PathKeyHash> nodeLines_;
};

} // namespace brindle
