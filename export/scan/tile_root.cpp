#include "export/scan/tile_root.h"

#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"

namespace brindle {
namespace fs = std::filesystem;

fs::path NamedRootFile(const fs::path& tileFolder) {
    fs::path name = tileFolder.filename();
    name += ".osgb";
    return name;
}

fs::path FindTileRoot(const fs::path& tileFolder, std::error_code& ec, FileFacts* found,
                      Look look) {
    ec.clear();
    // Anything by the name of root.osgb counts, even a folder or a FIFO: the tile check then
    // says what is wrong with it rather than passing it over for a file the user never meant.
    // The second name is made only when the first is missing: a block has thousands of tiles.
    fs::path file = JoinPath(tileFolder, kRootFileName);
    for (int candidate = 0; candidate < 2; ++candidate) {
        if (candidate == 1)
            file = JoinPath(tileFolder, NamedRootFile(tileFolder));
        const FileFacts facts = LookAt(file, ec, look);
        if (found)
            *found = facts;
        if (ec || facts.type != fs::file_type::not_found)
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
