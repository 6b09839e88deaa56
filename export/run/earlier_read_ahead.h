#pragma once

#include "export/fs/regular_file.h"
#include "export/tiles3d/conversion_manifest.h"

#include <filesystem>
#include <future>
#include <memory>
#include <vector>

namespace brindle {

// The manifests of the tilesets a run will update in place, read on threads of their own while
// the listed folders' tiles are checked, instead of after: on a re-run that touched a few tiles
// the read is a tenth of the tileset's stage, and nothing it reads is the checks' to change.
// Not on Windows, where a file held open cannot be replaced by another run meanwhile.
class EarlierReadAhead {
public:
    EarlierReadAhead() = default;
    // Waits for the reads still running.
    ~EarlierReadAhead() = default;
    EarlierReadAhead(const EarlierReadAhead&) = delete;
    EarlierReadAhead& operator=(const EarlierReadAhead&) = delete;

    // Begins reading the manifest of `output`, the tileset of `listed`, when it has one made
    // with `settings`.
    void start(const std::filesystem::path& output, const std::filesystem::path& listed,
               const ContentSettings& settings);

    // What the read of `listed`'s tileset found, when it read `output` and the manifest is
    // still the file it read: another run may have updated the tileset meanwhile, before this
    // one held it. Nothing otherwise, and the caller reads it again. Once.
    std::unique_ptr<EarlierConversions> take(const std::filesystem::path& output,
                                             const std::filesystem::path& listed);

private:
    struct Read {
        std::filesystem::path output, listed;
        FileFacts manifest; // as it was before the read began
        std::future<std::unique_ptr<EarlierConversions>> loaded;
    };
    std::vector<Read> reads_;
};

} // namespace brindle
