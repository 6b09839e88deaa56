#pragma once

#include "export/error/result.h"
#include "export/export_report.h"
#include "export/fs/scratch_file.h"
#include "export/overview/extent.h"
#include "export/overview/levels_tiles.h"
#include "export/overview/overview_manifest.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_summary.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

class TaskPool;

// What a folder's levels have come to as their pyramids finish.
struct FinishedLevels {
    // The names, relative to the listed folder, by which the index reaches the levels' tops.
    std::vector<std::string> tops;
    OverviewManifest manifest;  // every node file and every tile's stamp
    ReportImage picture;        // the first top's seen from above, when a pyramid built it
    SummaryCount heldSummaries; // the bounds pyramid's, once finished
};

// The listed tiles whose names place them nowhere on the grid, held until the end, when what
// their checks found tells where they lie; then placed in levels of their own, beside the
// grid's. Their summaries wait in a scratch file outside the user's folder, compressed to at
// most kHeldSummaryMaxBytes: held in memory, a block of such tiles would take hundreds of
// kilobytes a tile.
class HeldTiles {
public:
    // The scratch file is made on the disk of `scratchFolder` once a summary is held.
    HeldTiles(ScratchFileCalls calls, std::filesystem::path scratchFolder);
    ~HeldTiles();
    HeldTiles(HeldTiles&&) = default;
    HeldTiles& operator=(HeldTiles&&) = default;

    // Keeps tile `tile` for later, lying at `where`, with its summary when there is one to
    // keep: a summary that cannot be written fails as a node file not written does.
    Status Hold(std::size_t tile, std::optional<Extent> where, const TileSummary* summary,
                std::uint64_t stamp);
    bool Empty() const { return held_.empty(); }

    // Places the held tiles by where they lie and builds their levels in `folder` (named
    // `folderName` in the listed folder), their summaries added branch by branch, each read
    // back just before. A tile that lies nowhere known is reached from the levels' top.
    Status BuildLevels(const LevelsTiles& tiles, const std::filesystem::path& folder,
                       const std::string& folderName, const EarlierPyramid& earlier, TaskPool* pool,
                       FinishedLevels& finished);
    // Whatever came of the levels, the held summaries are read back by now, or never.
    void DropScratch();

private:
    struct Tile {
        std::size_t tile = 0;
        std::optional<Extent> extent; // its summary's, else its bound's
        std::uint64_t stamp = 0;
        std::uint64_t offset = 0; // its summary's place in the scratch file
        std::size_t bytes = 0;    // and its size there; none without a summary
    };

    Status Write(std::string_view bytes);
    Result<TileSummary> ReadBack(const Tile& tile, std::string& bytes) const;
    Status AddAll(OverviewPyramid& pyramid, const OverviewTree& tree);

    std::vector<Tile> held_;
    ScratchFileCalls calls_;
    std::filesystem::path scratchFolder_;
    std::unique_ptr<ScratchFile> scratch_; // once a summary is held
    std::uint64_t scratchBytes_ = 0;       // written to it
};

} // namespace brindle
