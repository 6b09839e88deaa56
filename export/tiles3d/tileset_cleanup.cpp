#include "export/tiles3d/tileset_cleanup.h"

#include "export/fs/our_folder_calls.h"
#include "export/tiles3d/tileset_folder.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A folder's own files, which no tileset names.
bool OwnFile(const fs::path& relative) {
    const std::string name = relative.generic_u8string();
    return name == kTilesetName || name == kConversionManifestName || name == kTilesetMarkerName ||
           name == kUpdatePendingName;
}

// Removes the folders of `name` below `folder` that are empty now, deepest first.
void RemoveEmptyFoldersOf(const fs::path& folder, const fs::path& name) {
    for (fs::path parent = name.parent_path(); !parent.empty(); parent = parent.parent_path()) {
        std::error_code error;
        if (!fs::is_empty(folder / parent, error) || error || !fs::remove(folder / parent, error))
            return;
    }
}

} // namespace

PathKey NameKey(const fs::path& relative) {
    return PathKey::Of(relative.lexically_normal().generic_u8string());
}

Status RemoveNamesNotKept(const fs::path& folder, const std::vector<fs::path>& names,
                          const NameSet& kept) {
    std::error_code first;
    for (const fs::path& name : names) {
        if (kept.count(NameKey(name)) != 0 || OwnFile(name))
            continue;
        if (const Status removed = RemoveOne(folder / name); !removed && !first)
            first = removed.error();
        RemoveEmptyFoldersOf(folder, name);
    }
    return first;
}

Status RemoveAllNotKept(const fs::path& folder, const NameSet& kept) {
    std::error_code first;
    std::vector<fs::path> folders;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path relative = it->path().lexically_relative(folder);
        std::error_code status;
        if (it->is_directory(status) && !it->is_symlink(status)) {
            folders.push_back(relative);
            continue;
        }
        if (kept.count(NameKey(relative)) != 0 || OwnFile(relative))
            continue;
        if (const Status removed = RemoveOne(it->path()); !removed && !first)
            first = removed.error();
    }
    if (error && !first)
        first = error;
    // Deepest first: a folder's folders go before it.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
    });
    for (const fs::path& relative : folders) {
        std::error_code empty;
        if (fs::is_empty(folder / relative, empty) && !empty)
            fs::remove(folder / relative, empty);
    }
    return first;
}

} // namespace brindle
