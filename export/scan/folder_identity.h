#pragma once

#include "export/export_report.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace brindle {

// Which folder a path names, so that one folder under two spellings ("A", "A/", "./A", a
// link to A) is told from two folders.
struct FolderIdentity {
    std::uint64_t device = 0; // with `inode`, as LookAt tells; both 0 where the system tells
    std::uint64_t inode = 0;  // nothing (a missing path, a system without such identities)
    // Absolute, lexically normal, with no trailing separator: what is compared when the
    // system gives no identity.
    std::filesystem::path normalPath;
};

FolderIdentity IdentifyFolder(const std::filesystem::path& folder);

// The one path a listed folder is exported under, however it was spelled: absolute, without
// "." components or trailing separators, its parents as the system resolves them (links and
// "..", which after a link is not what the text says). The folder's own name is kept as given,
// even where it is a link: the layout reads that name ("Data"). Where the parents cannot be
// resolved (a folder that is not there), the lexically normal absolute path.
std::filesystem::path ListedFolderPath(const std::filesystem::path& folder);

// True when both name one folder: the same file where the system identifies both, else the
// same normal path (letter case aside on Windows, whose file systems ignore it).
bool SameFolder(const FolderIdentity& a, const FolderIdentity& b);

// For each of `folders`, the position of its first listing: its own position, or that of an
// earlier entry naming the same folder.
std::vector<std::size_t> FirstListings(const std::vector<std::filesystem::path>& folders);

// The position in `listed` of the folder `folder` names, if it is there.
std::optional<std::size_t> FindSameFolder(const std::vector<std::filesystem::path>& listed,
                                          const std::filesystem::path& folder);

// Why a listed folder cannot be exported or checked, if it cannot: it is missing, it is not a
// folder, or the system will not say what it is.
std::optional<Problem> ProblemWithListedFolder(const std::filesystem::path& folder);

} // namespace brindle
