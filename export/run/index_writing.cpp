#include "export/run/index_writing.h"

#include "export/cache/verdict_cache.h"
#include "export/existing_index/existing_index_guard.h"
#include "export/fs/atomic_file.h"
#include "export/fs/regular_file.h"
#include "export/index/index_writer.h"
#include "export/scan/block_layout.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"

#include <optional>
#include <string_view>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The name a tile's root file has in its entry: root.osgb, or the tile folder's name.osgb.
std::string RootFileText(TileRootName root, const std::string& subfolderName) {
    return root == TileRootName::Root ? std::string(kRootFileName) : subfolderName + ".osgb";
}

// The root file's name in a valid tile's entry, as it is on disk where its case differs.
std::string EntryRootText(const TileCheck& tile, const std::string& name) {
    if (tile.listed())
        return NameText(tile.listedRoot).value_or(RootFileText(tile.rootName, name));
    return RootFileText(tile.rootName, name);
}

// Why a folder whose index would name nothing gets none, with the likeliest cause.
Problem NoTilesProblem(const FolderScan* scan, const FolderReport& report) {
    if (!scan)
        return Problem{ProblemKind::NoTilesFound, report.folder, {}};
    ProblemKind kind = ProblemKind::NoTilesFound;
    if (HoldsOsgbFiles(report.folder))
        kind = ProblemKind::NoTilesLooksLikeTile;
    else if (scan->subfoldersHoldTiles)
        kind = ProblemKind::NoTilesOneLevelTooHigh;
    return Problem{kind, report.folder, {}};
}

// What a dry run's write would find: no permission, a read-only disk, a folder in the way.
std::optional<Problem> ProblemWritingIn(const FolderReport& report) {
    if (fs::is_directory(report.indexFile))
        return Problem{ProblemKind::WriteFailed, report.indexFile,
                       SystemError(std::errc::is_a_directory)};
    if (const Status writable = CheckFolderWritable(report.folder); !writable)
        return Problem{ProblemKind::WriteFailed, report.indexFile, writable.error()};
    return std::nullopt;
}

std::optional<Problem> ProblemBeforeWriting(const FolderReport& report, const FolderScan* scan,
                                            const IndexWriting& writing, FolderCache& cache) {
    std::optional<Problem> keep =
        ReasonToKeepExisting(report.indexFile, writing.inspector, cache, writing.settings);
    if (keep && Confirmed(*keep, writing.confirm))
        keep.reset();
    // An index that names nothing opens as an empty scene, which reads as success; only
    // --force (or the user, asked) writes one.
    if (!keep && report.entries.empty()) {
        keep = NoTilesProblem(scan, report);
        if (Confirmed(*keep, writing.confirm))
            keep.reset();
    }
    if (keep || !writing.dryRun)
        return keep;
    return ProblemWritingIn(report);
}

// What decides the bytes of an index: its kind, translation and entries, and for a paged one
// their bounds. Under one program and scene-graph library (which a folder's verdict cache is
// kept under) indexes that hash alike are the same file.
std::uint64_t IndexHash(IndexKind kind, const osg::Vec3d& translation,
                        const std::vector<PagedEntry>& entries) {
    SettingHash hash;
    hash.add(static_cast<std::uint64_t>(kind)).add(entries.size());
    for (const double c : {translation.x(), translation.y(), translation.z()})
        hash.add(std::string_view(reinterpret_cast<const char*>(&c), sizeof c));
    for (const PagedEntry& entry : entries) {
        hash.add(entry.name);
        if (kind != IndexKind::Paged)
            continue;
        hash.add(static_cast<std::uint64_t>(entry.bound.kind));
        const double bound[4] = {entry.bound.centre[0], entry.bound.centre[1],
                                 entry.bound.centre[2], entry.bound.radius};
        hash.add(std::string_view(reinterpret_cast<const char*>(bound), sizeof bound));
    }
    return hash.value();
}

// The hash of what the index is written from: an overview index's tops stand for its entries.
std::uint64_t SourceHash(const IndexSource& source, IndexKind kind) {
    if (!source.tops)
        return IndexHash(kind, source.graph.translation(), source.entries);
    std::vector<PagedEntry> named;
    for (const std::string& top : *source.tops)
        named.push_back({top, {}});
    return IndexHash(kind, source.graph.translation(), named);
}

// True when the folder's index on disk is the one an earlier run wrote from the same entries
// (`from`) and nothing has touched it since: it is left as it is, unread and unparsed. Not
// through a link, which a write would replace with the file itself.
bool IndexStandsAsWritten(const fs::path& index, std::uint64_t from, FolderCache& cache,
                          const std::string& levels) {
    const Result<FileFacts> now = LookAt(index);
    if (!now || IsLink(index) || !cache.writtenIndexHolds(*now, from))
        return false;
    cache.keepWrittenIndex(*now, from, levels);
    return true;
}

// The folder of levels an overview index's tops name ("brindle-overview-3\L4_0_0.osgb").
std::string LevelsOfTops(const std::vector<std::string>* tops) {
    if (!tops)
        return {};
    for (const std::string& top : *tops)
        if (const std::size_t end = top.find('\\'); end != std::string::npos)
            return top.substr(0, end);
    return {};
}

// Names the index's entries in its graph: the tops, the paged tree or the proxy's list.
void NameEntries(const IndexSource& source, IndexKind kind, const FolderReport& report) {
    if (source.tops)
        source.graph.setEntries(*source.tops);
    else if (kind == IndexKind::Paged)
        source.graph.setPagedEntries(source.entries);
    else
        source.graph.setEntries(report.entries);
}

} // namespace

bool Confirmed(const Problem& problem, const ConfirmCall& confirm) {
    return problem.kind != ProblemKind::WorkersUnavailable && confirm && confirm(problem);
}

std::vector<PagedEntry> RecordTiles(const FolderScan& scan, FolderReport& report) {
    const FolderWork& work = scan.work;
    std::vector<PagedEntry> entries;
    entries.reserve(work.tiles.size());
    report.entries.reserve(report.entries.size() + work.tiles.size());
    report.leftOut.insert(report.leftOut.end(), scan.noRoot.begin(), scan.noRoot.end());
    for (const TileCheck& tile : work.tiles) {
        LeftOutSubfolder outcome =
            tile.result.outcome.of(tile.folder.filename(), tile.rootFileName());
        if (tile.result.rechecked)
            report.recheckedTiles.push_back(outcome.name);
        if (outcome.reason != TileStatus::Valid) {
            report.leftOut.push_back(outcome);
            continue;
        }
        const std::string name = *NameText(outcome.name);
        entries.push_back(
            {TileEntryFor(scan.entryPrefix, name, EntryRootText(tile, name), report.index),
             tile.result.bound});
        report.entries.push_back(entries.back().name);
        if (report.index == IndexKind::Paged && entries.back().bound.kind != TileBound::Kind::Known)
            report.proxyLeaves.push_back(entries.back().name);
    }
    SortLeftOut(report.leftOut);
    return entries;
}

void WriteIndex(const IndexSource& source, const IndexWriting& writing, FolderCache& cache,
                FolderReport& report) {
    if (!report.error)
        report.error = ProblemBeforeWriting(report, source.scan, writing, cache);
    if (report.error) {
        report.status = FolderStatus::Failed;
        return;
    }
    if (writing.dryRun) {
        report.status = FolderStatus::DryRun;
        return;
    }
    const std::uint64_t from = SourceHash(source, writing.kind);
    const std::string levels = LevelsOfTops(source.tops);
    if (IndexStandsAsWritten(report.indexFile, from, cache, levels)) {
        report.status = FolderStatus::Written;
        return;
    }
    NameEntries(source, writing.kind, report);
    RemoveStaleTemporaryFiles(report.folder);
    const IndexWrite write = WriteIndexFile(source.graph.root(), report.indexFile);
    report.error = write.error;
    if (write.placed.type == fs::file_type::regular)
        cache.keepWrittenIndex(write.placed, from, levels);
    if (write.warning)
        report.warnings.push_back(*write.warning);
    report.status = report.error ? FolderStatus::Failed : FolderStatus::Written;
}

} // namespace brindle
