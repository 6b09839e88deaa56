#pragma once

#include "export/error/result.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace brindle {

// The life of a tileset's output folder, DIR/<name>, beside whatever else DIR holds.
//
// A tileset is built in a folder of its own, DIR/<name>.brindle-new, marked ours by a marker
// file written before anything else, and takes the name DIR/<name> only once it is complete
// and flushed: a viewer of DIR/<name> sees the old tileset or the new one, never part of one.
// Where the system swaps two folders in one step (Linux, renameat2 RENAME_EXCHANGE) the new
// one replaces the old one so; elsewhere the old one is first renamed DIR/<name>.brindle-old,
// then the new one takes its name. At every step one complete tileset of ours is there to
// find, so the next run recovers from a run killed at any line: an old one left under
// .brindle-old while DIR/<name> is missing takes its name back, and a .brindle-new or a
// .brindle-old beside a DIR/<name> is removed. A folder by any of these names is touched only
// when it holds our marker; DIR/<name> that is not ours (no marker) and not empty is never
// touched, and stops the run of that folder.

// The system calls the folder's life makes, which tests make fail on demand;
// SystemTilesetFolderCalls() gives the real ones.
struct TilesetFolderCalls {
    // Makes the folder and any missing parents; succeeds for a folder already there.
    Status (*makeFolders)(const std::filesystem::path& folder) = nullptr;
    // Makes `folder`, and only it; std::errc::file_exists when anything is there by that name.
    Status (*makeFolder)(const std::filesystem::path& folder) = nullptr;
    // Puts `bytes` in place as `file`, whole or not at all.
    Status (*writeFile)(const std::filesystem::path& file, std::string_view bytes) = nullptr;
    // Removes `path`: a file, a link itself, or an empty folder.
    Status (*remove)(const std::filesystem::path& path) = nullptr;
    // Removes `path` and everything inside it, never following a link.
    Status (*removeAll)(const std::filesystem::path& path) = nullptr;
    // Renames a folder, never over anything (RenameFolderWithoutReplacing).
    Status (*renameFolder)(const std::filesystem::path& from,
                           const std::filesystem::path& to) = nullptr;
    // Swaps two folders' names in one step; std::errc::function_not_supported where the
    // system or the file system cannot.
    Status (*exchangeFolders)(const std::filesystem::path& a,
                              const std::filesystem::path& b) = nullptr;
    // Puts the folder's files, and its entry in its parent, on disk (FlushFolder).
    Status (*flushFolder)(const std::filesystem::path& folder) = nullptr;
};
TilesetFolderCalls SystemTilesetFolderCalls();

inline constexpr std::string_view kTilesetMarkerName = "brindle-tileset.marker";
inline constexpr std::string_view kTilesetMarkerText =
    "Brindle 3D Tiles tileset; replaced as a whole by Brindle's next export into this folder.\n";

// True when `folder` is a folder itself (not a link) holding our marker, as a regular file of
// our exact content.
bool IsTilesetFolderOfOurs(const std::filesystem::path& folder);

// Why a tileset's folder could not be prepared or put in place.
enum class TilesetFolderFailure {
    NotOurs,    // `path` holds files, and no marker of ours: it is never touched
    NotWritten, // `path` could not be made, written or renamed; `cause` says why
};

struct TilesetFolderError {
    TilesetFolderFailure failure = TilesetFolderFailure::NotWritten;
    std::filesystem::path path;
    std::error_code cause;
};

// One tileset being built for DIR/<name>: its staging folder from Begin until it is put in
// place, or removed when it is not (a run cancelled or failed leaves the old tileset). Or,
// where the tileset there is ours and its builder can update it in place (its build replaces
// its files in an order that keeps it whole at every step), that folder itself.
class TilesetStaging {
public:
    // Says whether the tileset of ours in `folder` can be updated in place.
    using Updatable = std::function<bool(const std::filesystem::path& folder)>;

    // Makes DIR when it is missing, recovers or removes what a killed run left, checks that
    // DIR/<name> is missing, empty or ours, and makes the marked staging folder; or, when
    // DIR/<name> is ours and `updatable` says so, takes that folder to build in.
    static std::optional<TilesetFolderError>
    Begin(const std::filesystem::path& dir, const std::filesystem::path& name,
          TilesetStaging& staging, const TilesetFolderCalls& calls = SystemTilesetFolderCalls(),
          const Updatable& updatable = {});

    TilesetStaging() = default;
    ~TilesetStaging();
    TilesetStaging(TilesetStaging&& other) noexcept;
    TilesetStaging& operator=(TilesetStaging&& other) noexcept;
    TilesetStaging(const TilesetStaging&) = delete;
    TilesetStaging& operator=(const TilesetStaging&) = delete;

    // Where the new tileset is written: the staging folder, or DIR/<name> in place.
    const std::filesystem::path& folder() const { return staging_; }
    // The tileset in DIR/<name> is updated there: publish() has nothing to do.
    bool inPlace() const { return inPlace_; }
    // Where it is put: DIR/<name>.
    const std::filesystem::path& target() const { return target_; }
    // The tileset in place before this run, ours, for its unchanged contents to be taken;
    // empty when there is none.
    const std::filesystem::path& previous() const { return previous_; }

    // Flushes the staging folder and puts it in place as DIR/<name>, replacing the old
    // tileset, which is then removed. On failure the old tileset is where it was (or, where
    // the system has no swap and the failure came between the two renames, under
    // DIR/<name>.brindle-old, for the next run to put back), and the staging folder is removed.
    std::optional<TilesetFolderError> publish();
    // Removes the staging folder: the old tileset stays as it was.
    void abandon();

private:
    TilesetFolderCalls calls_{};
    std::filesystem::path dir_, target_, staging_, old_, previous_;
    bool live_ = false; // the staging folder is this object's to remove
    bool inPlace_ = false;
};

// True when the folders `a` and `b` are one, or one lies inside the other, as the system
// resolves them (links followed, as far as they exist).
bool FoldersOverlap(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace brindle
