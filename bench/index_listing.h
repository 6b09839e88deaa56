#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace brindle::bench {

// The bytes of each folder's root.osgb, in the folders' order; empty where there is none.
std::vector<std::string> SnapshotIndexes(const std::vector<std::filesystem::path>& folders);

// The probes (subfolder root.osgb files) whose listing in their folder's index, `indexes` as
// SnapshotIndexes returns them, differs from whether they are in `loaded`.
std::vector<std::filesystem::path>
ListingMismatches(const std::vector<std::filesystem::path>& folders,
                  const std::vector<std::string>& indexes,
                  const std::vector<std::filesystem::path>& probes,
                  const std::set<std::filesystem::path>& loaded);

} // namespace brindle::bench
