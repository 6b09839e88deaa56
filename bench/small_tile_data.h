#pragma once

#include <filesystem>
#include <vector>

namespace brindle::bench {

// Folders of many small tiles (a few KB each: a coarse mesh and a tiny raw texture), as
// blocks cut fine are. `tiles` tiles spread over `folders` folders under `root`, generated
// when missing or left incomplete; an existing complete set is reused as is. A few distinct
// tiles are made and their bytes copied, so ten thousand take about a second.
std::vector<std::filesystem::path> PrepareSmallTileData(const std::filesystem::path& root,
                                                        int tiles, int folders);

} // namespace brindle::bench
