#pragma once

#include "export/scan/folder_listing_calls.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace brindle {

// The immediate subfolders of `folder`, as absolute paths, sorted by name (case-insensitively,
// then bytewise) so that the order is the same on every file system. Hidden folders are
// included; files, "." and ".." never are. A folder that cannot be read yields an empty list
// and, when `error` is given, the cause. The process's current directory is never changed.
// `links`, when given, gets for each subfolder whether it is a link (as IsLink tells), from the
// listing itself where the system gives it there.
std::vector<std::filesystem::path>
ListSubfolders(const std::filesystem::path& folder, std::error_code* error = nullptr,
               std::vector<bool>* links = nullptr,
               const FolderListingCalls& calls = SystemListingCalls());

// Takes the overview folders of ours (IsOverviewFolder, and IsUnfinishedOverviewFolder: those a
// killed run left) out of `subfolders`, as ListSubfolders gave them, and their places out of
// `links` when given: such a folder is no tile, no block and no subfolder left out. Only names
// of our patterns cost a look, at our marker.
void DropOverviewFolders(std::vector<std::filesystem::path>& subfolders,
                         std::vector<bool>* links = nullptr);

// How many immediate subfolders `folder` holds, as ListSubfolders counts them, but no more
// than `limit`: counting stops there, so that asking whether a folder of 10^5 tiles on a
// network share holds more than a few thousand costs a bounded time. Counting also stops,
// short, once `stop` (when given) is set. A folder that cannot be read counts 0 and, when
// `error` is given, gives the cause.
std::size_t CountSubfolders(const std::filesystem::path& folder, std::size_t limit,
                            const std::atomic<bool>* stop = nullptr,
                            std::error_code* error = nullptr);

// The order ListSubfolders sorts names in.
bool SubfolderNameLess(const std::string& a, const std::string& b);

// A subfolder's name as the index stores it: UTF-8 on Windows, its own bytes elsewhere.
// Nothing for a Windows name that no UTF-8 can carry (one holding a lone surrogate).
std::optional<std::string> NameText(const std::filesystem::path& name);

// Names in ListSubfolders' order, including those NameText cannot carry.
bool SubfolderPathNameLess(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace brindle
