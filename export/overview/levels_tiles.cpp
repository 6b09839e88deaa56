#include "export/overview/levels_tiles.h"

#include "export/hash/fnv1a.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"

#include <algorithm>

namespace brindle {
namespace {

// The name by which a node of the levels reaches a tile's root file: from the levels' folder,
// with forward slashes, as the database pager that loads it wants them.
std::string LevelEntryFor(const std::string& prefix, const LevelsTile& tile) {
    std::string entry = "..";
    if (!prefix.empty()) {
        std::string slashed = prefix;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        entry += '/' + slashed;
    }
    return entry + '/' + NameText(tile.folderName).value_or(std::string()) + '/' +
           NameText(tile.rootFileName).value_or(std::string());
}

// A summary that a later run may count on: one that the tile's bytes decide, not the machine's
// memory or a crash.
bool LastingSummary(SummaryState state) {
    return state != SummaryState::OutOfMemory && state != SummaryState::Crashed;
}

} // namespace

LevelsTiles LevelsTiles::Of(const std::vector<LevelsTile>& tiles, const std::string& entryPrefix) {
    LevelsTiles levels;
    for (const LevelsTile& tile : tiles) {
        levels.entries.push_back(LevelEntryFor(entryPrefix, tile));
        levels.indexEntries.push_back(
            TileEntryFor(entryPrefix, NameText(tile.folderName).value_or(std::string()),
                         NameText(tile.rootFileName).value_or(std::string()), IndexKind::Proxy));
        levels.names.push_back(NameText(tile.folderName).value_or(std::string()));
    }
    levels.onGrid.assign(tiles.size(), false);
    levels.checkEnded.assign(tiles.size(), false);
    return levels;
}

SummaryFailure FailureOf(SummaryState state) {
    switch (state) {
    case SummaryState::TooLarge:
        return SummaryFailure::TooLarge;
    case SummaryState::OutOfMemory:
        return SummaryFailure::OutOfMemory;
    case SummaryState::Crashed:
        return SummaryFailure::Crashed;
    case SummaryState::NotMade:
    case SummaryState::Made:
    case SummaryState::NoSurface:
        break;
    }
    return SummaryFailure::NoSurface;
}

std::uint64_t TileStamp(const LevelsCheck& check, SummaryState state) {
    Fnv1a hash;
    const auto add = [&hash](std::uint64_t value) { hash.addWord(value); };
    const FileFacts& facts = check.facts;
    add(facts.size);
    add(static_cast<std::uint64_t>(facts.modified));
    add(static_cast<std::uint64_t>(facts.changed));
    add(facts.device);
    add(facts.inode);
    add(static_cast<std::uint64_t>(check.status));
    add(static_cast<std::uint64_t>(state));
    return hash.value();
}

std::optional<KnownTile> KnownFromBefore(const LevelsCheck& cached, const OverviewManifest& before,
                                         const std::string& entry) {
    const auto kept = before.tiles.find(entry);
    if (kept == before.tiles.end() ||
        kept->second.summaryState > static_cast<std::uint8_t>(SummaryState::Crashed))
        return std::nullopt;
    const auto state = static_cast<SummaryState>(kept->second.summaryState);
    if (!LastingSummary(state) || TileStamp(cached, state) != kept->second.stamp)
        return std::nullopt;
    return KnownTile{kept->second.stamp, cached.listed()};
}

} // namespace brindle
