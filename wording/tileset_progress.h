#pragma once

#include "export/export_progress.h"
#include "wording/report_wording.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace brindle {

// What a progress bar shows: the tileset stage of the folder in hand while there is one (its
// tile roots done), the tiles validated and the folders written otherwise.
struct ProgressSteps {
    std::size_t done = 0;
    std::size_t total = 0;
};
ProgressSteps StepsShown(const ExportProgress& progress);

} // namespace brindle

namespace brindle::wording {

// "812 KB", "35.2 MB", "1.24 GB": binary units, as the system's file managers count.
std::string DescribeBytes(std::uint64_t bytes);

// What the tileset stage has done: "3D Tiles Block_A 45% (135/300 tiles), 1204 files
// converted, 36 reused, 1.24 GB"; in Chinese "3D Tiles Block_A：瓦片 135/300（45%），已转换
// 1204 个文件，沿用 36 个，共 1.24 GB". The tiles are left out until the count is known.
std::string TilesetProgressText(Language language, const TilesetProgress& progress);

} // namespace brindle::wording
