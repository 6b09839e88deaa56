#pragma once

#include "tools/sample_block.h"

#include <filesystem>
#include <functional>
#include <ios>
#include <string>
#include <vector>

namespace brindle::bench {

std::string ReadBytes(const std::filesystem::path& file);

// Throws when the bytes could not all be written.
void WriteBytes(const std::filesystem::path& file, const std::string& bytes,
                std::ios::openmode mode = std::ios::trunc);

// The bytes of `count` distinct generated tiles, the i-th made with `paramsFor(i)`, written
// through a scratch file in `scratch`. Large blocks copy these rather than generate each tile.
std::vector<std::string> MakeDistinctTiles(const std::filesystem::path& scratch, int count,
                                           const std::function<SampleTileParams(int)>& paramsFor);

// "Tile_00042": names that sort as they are numbered.
std::string NumberedTileName(int index);

} // namespace brindle::bench
