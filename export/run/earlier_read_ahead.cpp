#include "export/run/earlier_read_ahead.h"

#include "export/tiles3d/tileset_build.h"
#include "export/tiles3d/tileset_names.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;

void EarlierReadAhead::start(const fs::path& outputFolder, const fs::path& listedFolder,
                             const ContentSettings& settings) {
#ifdef _WIN32
    // The read holds the manifest open until the walk, and Windows replaces no file that is
    // open: another run updating the tileset meanwhile would fail. The walk reads it there.
    (void)outputFolder, (void)listedFolder, (void)settings;
#else
    const fs::path output = WalkPath(outputFolder), listed = WalkPath(listedFolder);
    const std::optional<ManifestHead> head = ReadManifestHead(output);
    const Result<FileFacts> manifest = LookAt(output / kConversionManifestName);
    if (!head || !(head->settings == settings) || !manifest ||
        manifest->type != fs::file_type::regular)
        return;
    Read read{output, listed, *manifest, {}};
    try {
        read.loaded = std::async(std::launch::async, [output, listed, settings] {
            // Whatever the read meets is a manifest that cannot be used: the walk reads it
            // again, and meets it there.
            try {
                return EarlierConversions::Load(output, listed, settings);
            } catch (const std::exception&) {
                return std::unique_ptr<EarlierConversions>();
            }
        });
    } catch (const std::system_error&) {
        return; // no thread to spare: the walk reads it itself
    }
    reads_.push_back(std::move(read));
#endif
}

std::unique_ptr<EarlierConversions> EarlierReadAhead::take(const fs::path& outputFolder,
                                                           const fs::path& listedFolder) {
    const fs::path output = WalkPath(outputFolder), listed = WalkPath(listedFolder);
    const auto read = std::find_if(reads_.begin(), reads_.end(), [&](const Read& r) {
        return r.output == output && r.listed == listed && r.loaded.valid();
    });
    if (read == reads_.end())
        return nullptr;
    std::unique_ptr<EarlierConversions> loaded = read->loaded.get();
    const Result<FileFacts> now = LookAt(output / kConversionManifestName);
    if (!loaded || !now || !Unchanged(read->manifest, *now))
        return nullptr;
    return loaded;
}

} // namespace brindle
