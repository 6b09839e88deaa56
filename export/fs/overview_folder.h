#pragma once

#include "export/error/result.h"

#include <filesystem>
#include <string_view>
#include <vector>

namespace brindle {

// The overview levels of a listed folder live in one folder of the program's own inside it,
// beside the tile folders: "brindle-overview-<n>", n a decimal number, holding the levels'
// .osgb files and a marker file that says the folder is ours. Only a folder with both the name
// and the marker is ours; one merely named so is the user's, and the program leaves it alone.
//
// Such a folder is made under a temporary name, "brindle-overview-<n>.tmp", and takes its own
// name only once the marker is in it: a run killed in between leaves a folder of the temporary
// name, empty or holding our marker alone, which the scan passes over and a later run removes.
// A folder of that name holding anything else is the user's.

// The system calls the overview folder's life makes, which tests make fail on demand;
// SystemOverviewFolderCalls() gives the real ones. The same on every system: they go through
// the standard library, and the marker through the atomic write.
struct OverviewFolderCalls {
    // Makes `folder`, and only it, never anything through a link; std::errc::file_exists when
    // anything at all is there by that name.
    Status (*makeFolder)(const std::filesystem::path& folder) = nullptr;
    // Puts `bytes` in place as `file`, whole or not at all.
    Status (*writeFile)(const std::filesystem::path& file, std::string_view bytes) = nullptr;
    // The names of every entry of `folder`, whatever they are.
    Status (*listNames)(const std::filesystem::path& folder,
                        std::vector<std::filesystem::path>& names) = nullptr;
    // Removes `path`: a file, a link itself, or an empty folder; never what a link leads to.
    Status (*remove)(const std::filesystem::path& path) = nullptr;
    // Renames a folder, never over anything (RenameFolderWithoutReplacing).
    Status (*renameFolder)(const std::filesystem::path& from,
                           const std::filesystem::path& to) = nullptr;
    // Puts the folder's files on disk (FlushFolder).
    Status (*flushFolder)(const std::filesystem::path& folder) = nullptr;
};
OverviewFolderCalls SystemOverviewFolderCalls();

// The marker's file name, and the one line it holds.
inline constexpr std::string_view kOverviewMarkerName = "brindle-overview.marker";
inline constexpr std::string_view kOverviewMarkerText =
    "Brindle overview levels; removed by Brindle when no index names them.\n";
// What the levels were made from, for a later run to take the unchanged ones as they are.
inline constexpr std::string_view kOverviewManifestName = "brindle-overview.manifest";
// The extension of the files that keep the upper nodes' summaries, one a node, for a later
// run to build a node again over them.
inline constexpr std::string_view kKeptSummaryExtension = ".summary";
// Where earlier versions kept the summaries of the tiles without grid names while the build
// waited for where they lie (now in a scratch file outside the block): a run of theirs that was
// killed left it, and a removal still takes it.
inline constexpr std::string_view kHeldSummariesName = "held-summaries.tmp";

// True when `name` (a file name, not a path) has our folders' pattern: "brindle-overview-" and
// a number of 1 to 9 digits without leading zeros. Looks at the text alone, so that the scan
// can afford it for every subfolder.
bool HasOverviewFolderName(const std::filesystem::path& name);

// True when `name` has our folders' temporary pattern: such a name with ".tmp" after it.
bool HasUnfinishedOverviewFolderName(const std::filesystem::path& name);

// True when `folder` is a folder of ours that a run left before it took its name: a folder
// itself with our temporary name, holding nothing, or nothing but our marker.
bool IsUnfinishedOverviewFolder(const std::filesystem::path& folder);

// True when `folder` is one of ours: a folder itself, not a link, with our name, holding our
// marker as a regular file (not a link) of our exact content. The name is looked at first, so
// that a folder of any other name costs no system call; the marker's read is bounded.
bool IsOverviewFolder(const std::filesystem::path& folder);

// Makes a new, empty overview folder inside `listed` and returns its path: named with the
// number after the highest one any entry of `listed` with our name or our temporary name has,
// so that no name is used twice while its folder is there and each new folder sorts after those
// before it; an entry that turns up by that name in the meantime moves it on. The folder is
// made under its temporary name, the marker written whole into it, and only then is it renamed
// to its own name; a failure on the way removes what was made (the marker, the empty folder)
// and is returned.
Result<std::filesystem::path>
MakeOverviewFolder(const std::filesystem::path& listed,
                   const OverviewFolderCalls& calls = SystemOverviewFolderCalls());

// The overview folders of ours inside `listed`, oldest (lowest number) first. A listed folder
// that cannot be read gives none and, when `error` is given, the cause.
std::vector<std::filesystem::path>
OverviewFolders(const std::filesystem::path& listed, std::error_code* error = nullptr,
                const OverviewFolderCalls& calls = SystemOverviewFolderCalls());

// Removes an overview folder of ours, and only what we put in it: regular files named *.osgb,
// the manifest, the held summaries, the atomic write's temporary files, and last the marker, so
// that a removal cut short leaves a folder still known as ours (one that cannot go once empty gets
// its marker back). No link is followed and no subfolder entered. Fails, leaving the folder and its
// marker, when `folder` is not ours (std::errc::operation_not_permitted), when anything else is
// inside (std::errc::directory_not_empty), or when a call fails (its cause).
Status RemoveOverviewFolder(const std::filesystem::path& folder,
                            const OverviewFolderCalls& calls = SystemOverviewFolderCalls());

// Removes the folders of ours in `listed` that a killed run left under their temporary name
// (IsUnfinishedOverviewFolder): the marker, then the empty folder, which the system removes
// only while it is empty, so nothing of the user's can go with it. Gives the first failure.
Status
RemoveUnfinishedOverviewFolders(const std::filesystem::path& listed,
                                const OverviewFolderCalls& calls = SystemOverviewFolderCalls());

} // namespace brindle
