#pragma once

#include "export/error/result.h"
#include "export/tiles3d/file_conversion.h"
#include "export/tiles3d/file_stamp.h"
#include "export/tiles3d/tileset_names.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brindle {

// What the contents were made with: a content made with other settings is made again.
struct ContentSettings {
    bool quantize = false; // KHR_mesh_quantization
    bool b3dm = false;     // a Batched 3D Model around the glb
    bool meshopt = false;  // EXT_meshopt_compression
    bool operator==(const ContentSettings& other) const {
        return quantize == other.quantize && b3dm == other.b3dm && meshopt == other.meshopt;
    }
};

// What a manifest's first line says: the settings its contents were made with, and the
// generation of the build that wrote it (Tagged), which a file it names was written in or
// before.
struct ManifestHead {
    ContentSettings settings;
    std::uint64_t generation = 0;
};
// The first line of the manifest in `outputFolder`; nothing when there is none or it does not
// read as one the writer made.
std::optional<ManifestHead> ReadManifestHead(const std::filesystem::path& outputFolder);

// What the manifest of an output folder holds: one line a converted file with content, as
// JSON: its path relative to the listed folder, its stamp, where its content is and what its
// conversion gave, finer files relative to the listed folder too (so a listed folder moved
// whole is still the same); and one line a tile root's own tileset, with a hash of its bytes.
// A first line holds the version, the settings the contents were made with and the build's
// generation.
class ManifestWriter {
public:
    static Result<std::unique_ptr<ManifestWriter>> Open(const std::filesystem::path& file,
                                                        const std::filesystem::path& listedFolder,
                                                        const ManifestHead& head);
    void add(const std::filesystem::path& file, const FileStamp& stamp,
             const std::filesystem::path& contentName, const ConvertedFile& converted);
    // A line as an earlier manifest holds it, for a file taken from there as it was.
    void addLine(const std::string& text);
    // The tileset of the tile root `file`, written as `name` with `bytes` bytes of hash `hash`.
    void addTileset(const std::filesystem::path& file, const std::filesystem::path& name,
                    std::uint64_t hash, std::uint64_t bytes);
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
    std::filesystem::path name;    // the same, relative to that folder
    ConvertedFile converted;
    std::streamoff line = 0; // its line, for keep()
    // The line itself, when the new manifest's line for the file is the same: it was found
    // under its own path, not moved from an earlier levels folder.
    std::string text;
};

// A file an earlier build converted that has changed since (its stamp is another): it will be
// converted again, whatever else changed.
struct ChangedFile {
    std::filesystem::path file;
    std::filesystem::path name; // its content's, relative to the earlier output folder
};

// A tile root's tileset as an earlier build wrote it: a tileset of the same bytes is that file.
struct EarlierTileTileset {
    std::filesystem::path name; // relative to the earlier output folder
    std::uint64_t hash = 0, bytes = 0;
    std::streamoff line = 0;
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
    // The tileset an earlier build wrote for the tile root `file`.
    std::optional<EarlierTileTileset> findTileset(const std::filesystem::path& file);
    // The generation of the earlier build.
    std::uint64_t generation() const { return generation_; }
    // The files of tiles (not the overview's nodes, which it makes anew in a folder of their
    // own) that changed since, in the manifest's order.
    const std::vector<ChangedFile>& changed() const { return changed_; }

    // The line at `line` names a file the new build names too: a build updating the earlier
    // output in place keeps it.
    void keep(std::streamoff line) { kept_.insert(line); }
    // The files the earlier build named that the new one does not keep, relative to its folder.
    std::vector<std::filesystem::path> namesNotKept();

private:
    EarlierConversions() = default;
    std::optional<std::string> lineAt(std::streamoff start);

    std::filesystem::path folder_, listedFolder_;
    std::uint64_t generation_ = 0;
    std::ifstream in_;
    std::vector<std::streamoff> starts_; // every line's but the head's
    std::vector<ChangedFile> changed_;
    std::unordered_set<std::streamoff> kept_;
    // The tile roots' tilesets' lines, by their roots' PathKey.
    std::unordered_map<PathKey, std::streamoff, PathKeyHash> tilesets_;
    // Where each file's line starts, by its key's PathKey: only the lines asked for are
    // read again, and a line is taken only for the file it names.
    std::unordered_map<PathKey, std::streamoff, PathKeyHash> lines_;
    // The lines of the overview's nodes, by their paths within their levels folder.
    std::unordered_map<PathKey, std::streamoff, PathKeyHash> nodeLines_;
};

} // namespace brindle
