#include "export/scan/tile_root.h"

#include "export/fs/regular_file.h"

namespace brindle {
namespace fs = std::filesystem;

fs::path NamedRootFile(const fs::path& tileFolder) {
    fs::path name = tileFolder.filename();
    name += ".osgb";
    return name;
}

fs::path FindTileRoot(const fs::path& tileFolder, std::error_code& ec) {
    ec.clear();
    // Anything by the name of root.osgb counts, even a folder or a FIFO: the tile check then
    // says what is wrong with it rather than passing it over for a file the user never meant.
    for (const fs::path& candidate : {fs::path(kRootFileName), NamedRootFile(tileFolder)}) {
        const fs::path file = tileFolder / candidate;
        const FileFacts facts = LookAt(file, ec, Look::TypeAndSize);
        if (ec)
            return file;
        if (facts.type != fs::file_type::not_found)
            return file;
    }
    return {};
}

std::string TileEntryFor(const std::string& prefix, const std::string& subfolderName,
                         const std::string& rootFileName, IndexKind kind) {
    const char separator = kind == IndexKind::Paged ? '/' : '\\';
    std::string entry;
    if (!prefix.empty())
        entry = prefix + separator;
    return entry + subfolderName + separator + rootFileName;
}

} // namespace brindle
