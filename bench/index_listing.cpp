#include "bench/index_listing.h"

#include "bench/exporter_run.h"

#include <algorithm>
#include <cstdint>

namespace brindle::bench {
namespace fs = std::filesystem;

std::vector<std::string> SnapshotIndexes(const std::vector<fs::path>& folders) {
    std::vector<std::string> indexes;
    indexes.reserve(folders.size());
    for (const auto& folder : folders) {
        indexes.push_back(ReadFileBytes(folder / "root.osgb"));
    }
    return indexes;
}

namespace {

// Whether a folder's index names `probe`'s tile. The binary format stores a string as its
// length followed by its bytes, so the length keeps one name from matching inside another.
bool IndexListsTile(const std::string& index, const fs::path& probe) {
    const std::string entry = probe.parent_path().filename().string() + "\\root.osgb";
    const auto length = static_cast<std::uint32_t>(entry.size());
    std::string stored(reinterpret_cast<const char*>(&length), sizeof length);
    return index.find(stored + entry) != std::string::npos;
}

} // namespace

std::vector<fs::path> ListingMismatches(const std::vector<fs::path>& folders,
                                        const std::vector<std::string>& indexes,
                                        const std::vector<fs::path>& probes,
                                        const std::set<fs::path>& loaded) {
    std::vector<fs::path> mismatches;
    for (const auto& probe : probes) {
        const fs::path folder = probe.parent_path().parent_path();
        const auto at = std::find(folders.begin(), folders.end(), folder);
        const bool listed = at != folders.end() &&
                            IndexListsTile(indexes[std::size_t(at - folders.begin())], probe);
        if (listed != (loaded.count(probe) > 0)) {
            mismatches.push_back(probe);
        }
    }
    return mismatches;
}

} // namespace brindle::bench
