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

fs::path FindTileRoot(const fs::path& tileFolder, std::error_code& ec, FileFacts* found, Look look,
                      const OpenFolder* parent) {
    ec.clear();
    // Anything by the name of root.osgb counts, even a folder or a FIFO: the tile check then
    // says what is wrong with it rather than passing it over for a file the user never meant.
    // The second name is made only when the first is missing: a block has thousands of tiles.
    const bool relative = parent && parent->isOpen();
    fs::path::string_type folderName, under;
    if (relative)
        folderName = tileFolder.filename().native();
    for (int candidate = 0; candidate < 2; ++candidate) {
        const fs::path name = candidate == 0 ? fs::path(kRootFileName) : NamedRootFile(tileFolder);
        FileFacts facts;
        if (relative) {
            under = folderName;
            under += fs::path::preferred_separator;
            under += name.native();
            facts = parent->lookAt(under.c_str(), ec);
        } else {
            facts = LookAt(JoinPath(tileFolder, name), ec, look);
        }
        if (found)
            *found = facts;
        if (ec || facts.type != fs::file_type::not_found)
            return JoinPath(tileFolder, name);
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
