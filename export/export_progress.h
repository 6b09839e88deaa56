#pragma once

#include <cstddef>
#include <filesystem>

namespace brindle {

// Where a run stands; handed to the progress callback.
struct ExportProgress {
    std::size_t foldersDone = 0;
    std::size_t folderCount = 0;
    std::size_t subfoldersDone = 0; // validated so far, over all folders of the run
    std::size_t subfolderCount = 0; // to validate, over all folders of the run
    // The folder in hand: the first not yet written, or the last one once all are.
    std::filesystem::path folder;
};

} // namespace brindle
