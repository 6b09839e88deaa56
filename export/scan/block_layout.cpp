#include "export/scan/block_layout.h"

#include "export/fs/overview_folder.h"
#include "export/scan/metadata_xml.h"
#include "export/scan/name_in_any_case.h"
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

namespace {

// The Data folder of a production folder `folder`: empty when `folder` is none.
NameInAnyCase ProductionDataFolder(const fs::path& folder) {
    if (!FindNameInAnyCase(folder, kMetadataFileName).found())
        return {};
    return FindNameInAnyCase(folder, kDataFolderName, [](const fs::path& entry) {
        std::error_code ec;
        return fs::is_directory(entry, ec);
    });
}

} // namespace

bool IsProductionFolder(const fs::path& folder) {
    return ProductionDataFolder(folder).found();
}

TileLayout LayoutOf(const fs::path& folder) {
    const NameInAnyCase data = ProductionDataFolder(folder);
    if (!data.found())
        return {folder, {}};
    TileLayout layout{folder / data.name, data.name.string()};
    layout.caseTwins = data.caseTwins;
    return layout;
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
