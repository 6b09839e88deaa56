#include "wording/tileset_progress.h"

#include "wording/text.h"

#include <algorithm>

namespace brindle {

ProgressSteps StepsShown(const ExportProgress& progress) {
    if (progress.tileset && progress.tileset->tileCount > 0) {
        const TilesetProgress& stage = *progress.tileset;
        return {static_cast<std::size_t>(std::min(stage.tilesDone, stage.tileCount)),
                static_cast<std::size_t>(stage.tileCount)};
    }
    // A block is usually one folder of thousands of tiles, so the bar moves with every tile
    // validated as well as with every index written.
    const std::size_t total = progress.subfolderCount + progress.folderCount;
    return {std::min(progress.subfoldersDone + progress.foldersDone, total), total};
}

} // namespace brindle

namespace brindle::wording {
namespace {

std::string Count(std::uint64_t value) {
    return std::to_string(value);
}

} // namespace

std::string DescribeBytes(std::uint64_t bytes) {
    constexpr double kKilo = 1024.0;
    const auto value = static_cast<double>(bytes);
    if (bytes < (1u << 20))
        return Count(bytes >> 10) + " KB";
    if (bytes < (1u << 30))
        return FixedNumber(value / (kKilo * kKilo), 1) + " MB";
    return FixedNumber(value / (kKilo * kKilo * kKilo), 2) + " GB";
}

std::string TilesetProgressText(Language language, const TilesetProgress& progress) {
    const std::string name = PathText(progress.folder.filename());
    const std::uint64_t done = std::min(progress.tilesDone, progress.tileCount);
    const std::string percent =
        progress.tileCount == 0 ? std::string() : Count(done * 100 / progress.tileCount);
    const std::string tiles = progress.tileCount == 0 ? std::string() : Count(done);
    const std::vector<std::string> args{name,
                                        percent,
                                        tiles,
                                        Count(progress.tileCount),
                                        Count(progress.converted),
                                        Count(progress.reused),
                                        DescribeBytes(progress.bytes)};
    if (language == Language::Chinese)
        return Phrase("3D Tiles %1：[瓦片 %3/%4（%2%），]已转换 %5 个文件，沿用 %6 个，共 %7",
                      args);
    return Phrase("3D Tiles %1[ %2% (%3/%4 tiles)], %5 files converted, %6 reused, %7", args);
}

} // namespace brindle::wording
