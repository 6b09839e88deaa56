#include "export/earlier_levels.h"

#include "export/existing_index/existing_index_guard.h"
#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"

#include <optional>
#include <string>
#include <vector>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The folder of ours an entry name begins with ("brindle-overview-3\L4_0_0.osgb"), if any.
std::optional<std::string> LevelsOfEntry(const std::string& entry) {
    const std::size_t end = entry.find_first_of("\\/");
    if (end == std::string::npos)
        return std::nullopt;
    std::string folder = entry.substr(0, end);
    if (!HasOverviewFolderName(fs::path(folder)))
        return std::nullopt;
    return folder;
}

} // namespace

fs::path LevelsTheIndexNames(const fs::path& listed, const fs::path& indexFile,
                             OwnIndexMemory& verdicts, WorkerProcess& inspector,
                             const CheckSettings& settings) {
    const Result<FileFacts> index = LookAt(indexFile);
    if (!index || index->type != fs::file_type::regular || IsLink(indexFile))
        return {};
    std::string name = verdicts.writtenLevels(*index);
    if (name.empty()) {
        // A first run, or one after the last folder of ours went, need not ask.
        if (OverviewFolders(listed).empty())
            return {};
        const std::optional<std::vector<std::string>> entries =
            ExistingIndexNames(indexFile, inspector, verdicts, settings);
        for (const std::string& entry : entries.value_or(std::vector<std::string>()))
            if (const std::optional<std::string> folder = LevelsOfEntry(entry)) {
                name = *folder;
                break;
            }
    }
    if (name.empty() || !HasOverviewFolderName(fs::path(name)))
        return {};
    const fs::path folder = JoinPath(listed, fs::path(name));
    return IsOverviewFolder(folder) ? folder : fs::path();
}

} // namespace brindle
