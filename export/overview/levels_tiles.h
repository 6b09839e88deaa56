#pragma once

#include "export/export_report.h"
#include "export/fs/regular_file.h"
#include "export/overview/extent.h"
#include "export/overview/overview_manifest.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/tile_summary.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// One tile of a listed folder, as its overview levels name it: by the names the scan found.
struct LevelsTile {
    std::filesystem::path folderName;   // the tile folder's own name
    std::filesystem::path rootFileName; // its root file's
};

// What a tile's check came to, as far as the levels rest on it.
struct LevelsCheck {
    FileFacts facts; // its root file's, as its verdict knows them
    TileStatus status = TileStatus::LoadFailed;
    // Where a tile without a grid name lies, by the bound its check found; none when it found
    // none.
    std::optional<Extent> bound;

    bool listed() const { return status == TileStatus::Valid; }
};

// A folder's tiles as its levels number and name them, by the tile's place in the folder's
// work, and how far each has come.
struct LevelsTiles {
    std::vector<std::string> entries;      // from the levels' folder
    std::vector<std::string> indexEntries; // as the index names the tile
    std::vector<std::string> names;        // the tiles' subfolder names
    std::vector<bool> onGrid;              // placed by its grid name
    std::vector<bool> checkEnded;          // its check has ended, or it needs none

    // The tiles of `tiles`, whose folders the index names with `entryPrefix` before them.
    static LevelsTiles Of(const std::vector<LevelsTile>& tiles, const std::string& entryPrefix);
    std::size_t size() const { return entries.size(); }
};

// Why a listed tile is a hole in the levels, by how its summary came out.
SummaryFailure FailureOf(SummaryState state);

// What a tile's part in the levels rests on besides its name and entry: its root file as the
// verdict cache knows it, its verdict, and how its summary came out.
std::uint64_t TileStamp(const LevelsCheck& check, SummaryState state);

// The tile's stamp as its check would give it, when its verdict from the cache and the stamp
// the earlier levels kept for it say it is unchanged.
std::optional<KnownTile> KnownFromBefore(const LevelsCheck& cached, const OverviewManifest& before,
                                         const std::string& entry);

} // namespace brindle
