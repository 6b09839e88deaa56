#include "export/scan/block_layout.h"

#include "export/fs/overview_folder.h"
#include "export/scan/metadata_xml.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"

#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

bool IsOsgbExtension(const fs::path& extension) {
    const auto& text = extension.native();
    static const char osgb[] = ".osgb";
    if (text.size() != 5)
        return false;
    for (std::size_t i = 0; i < 5; ++i) {
        const auto c = text[i];
        if (c != osgb[i] && !(osgb[i] >= 'a' && c == osgb[i] - 'a' + 'A'))
            return false;
    }
    return true;
}

} // namespace

bool IsProductionFolder(const fs::path& folder) {
    std::error_code ec;
    const bool hasMetadata =
        fs::symlink_status(folder / "metadata.xml", ec).type() != fs::file_type::not_found && !ec;
    return hasMetadata && fs::is_directory(folder / "Data", ec);
}

TileLayout LayoutOf(const fs::path& folder) {
    if (IsProductionFolder(folder))
        return {folder / "Data", "Data"};
    return {folder, {}};
}

std::size_t CountTileFolders(const fs::path& folder, std::size_t limit,
                             const std::atomic<bool>* stop) {
    return CountSubfolders(LayoutOf(folder).tileFolder, limit, stop);
}

bool HoldsTileFolders(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError) || IsOverviewFolder(it->path()))
            continue;
        std::error_code rootError;
        if (!FindTileRoot(it->path(), rootError).empty() && !rootError)
            return true;
    }
    return false;
}

bool LooksLikeBlock(const fs::path& folder) {
    return IsProductionFolder(folder) || HoldsTileFolders(folder);
}

bool HoldsOsgbFiles(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError) && IsOsgbExtension(it->path().extension()) &&
            it->path().filename() != kRootFileName)
            return true;
    }
    return false;
}

} // namespace brindle
