#include "export/export_run.h"

#include "export/cache/cache_folder.h"
#include "export/cache/srs_kind_cache.h"
#include "export/existing_index/existing_index_guard.h"
#include "export/folder_cache.h"
#include "export/folder_origin.h"
#include "export/fs/atomic_file.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/index/index_graph.h"
#include "export/index/index_writer.h"
#include "export/origin/spatial_reference.h"
#include "export/overview/earlier_levels.h"
#include "export/overview/overview_index.h"
#include "export/run_locks.h"
#include "export/scan/block_layout.h"
#include "export/scan/folder_identity.h"
#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"
#include "export/tile_check_pool.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A name the index's "name\root.osgb" entry carries faithfully: a backslash or a control
// character in it would make every reader resolve the entry to some other path.
bool IsSafeEntryName(const std::string& name) {
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '\\' || byte < 0x20 || byte == 0x7f;
    });
}

// True when the subfolder is the listed folder itself or one of its ancestors, through a
// link: listing it would make the index name itself, and a viewer would recurse without end.
// Only a link can lead there, so only links cost more than one look. Both paths are resolved
// the same way, so they compare equal exactly when they name one folder.
bool LeadsToAnAncestor(const fs::path& subfolder, bool isLink, const fs::path& resolvedFolder) {
    if (resolvedFolder.empty() || !isLink)
        return false;
    const Result<fs::path> resolved = ResolvedPath(subfolder);
    if (!resolved)
        return false;
    const fs::path& target = *resolved;
    for (fs::path p = resolvedFolder;; p = p.parent_path()) {
        if (p == target)
            return true;
        if (p == p.parent_path())
            return false;
    }
}

// What the scan of one listed folder found, beyond the tiles the pool checks.
struct FolderScan {
    FolderWork work;
    std::string entryPrefix; // the path from the index to the tile folders
    // Subfolders that are blocks by their layout alone (a production folder, a folder of tile
    // folders) and have no tile root of their own.
    std::vector<fs::path> blocks;
    std::vector<LeftOutSubfolder> noRoot; // subfolders without a tile root
    bool subfoldersHoldTiles = false;     // some subfolder's subfolders hold tile roots
    // A folder of blocks: `blocks` are exported as blocks, and `work` holds no tile.
    bool ofBlocks = false;
    FolderCache verdicts; // the folder's verdict cache
    FolderOrigin origin;  // what its own report.txt or metadata.xml says, read before its tiles
    // Overview index: its levels, built as the tiles are checked.
    std::shared_ptr<OverviewBuild> overview;
    // The folder's lock, from before its scan until what its new index no longer names is
    // removed; none in a dry run, which writes nothing.
    std::shared_ptr<FolderLock> lock;
    // The earlier levels' nodes read back in the pool, after the folder's tiles to check.
    std::size_t nodeReads = 0;
};

// Blocks inside blocks are followed this deep, and no deeper.
constexpr int kMaxBlockDepth = 3;

// Decides, from the scan alone, whether the folder is a folder of blocks: some subfolder is a
// block, and every subfolder with a tile root is a block whose root.osgb is its index (one
// beside tile folders of its own). Those indexes are then never checked as tiles: a check
// would load the whole block within one tile's limits, and could not be kept. One true tile
// makes the folder a block itself, in which the others stay tiles, as they always were; the
// look ends there, so a block of many tiles costs a look at its first tile.
void TakeOutBlocks(FolderScan& scan) {
    FolderWork& work = scan.work;
    for (const TileCheck& tile : work.tiles)
        if (tile.rootName != TileRootName::Root || !LooksLikeBlock(tile.folder))
            return;
    if (work.tiles.empty() && scan.blocks.empty())
        return;
    scan.ofBlocks = true;
    for (TileCheck& block : work.tiles)
        scan.blocks.push_back(std::move(block.folder));
    std::sort(scan.blocks.begin(), scan.blocks.end(), [](const fs::path& a, const fs::path& b) {
        return SubfolderPathNameLess(a.filename(), b.filename());
    });
    work.tiles.clear();
}

void ScanFolder(const fs::path& folder, FolderReport& report, FolderScan& scan, Look rootLook,
                bool followBlocks) {
    report.folder = folder;
    report.indexFile = folder / kRootFileName;
    FolderWork& work = scan.work;
    report.error = ProblemWithListedFolder(folder);
    if (report.error)
        return;
    const TileLayout layout = LayoutOf(folder);
    scan.entryPrefix = layout.entryPrefix;
    if (layout.caseTwins)
        report.warnings.push_back({ProblemKind::NamesDifferInCase, layout.tileFolder, {}});
    std::error_code ec;
    std::vector<bool> links;
    std::vector<fs::path> subfolders = ListSubfolders(layout.tileFolder, &ec, &links);
    if (ec) {
        report.error = Problem{ProblemKind::FolderUnreadable, layout.tileFolder, ec};
        return;
    }
    DropOverviewFolders(subfolders, &links);
    const fs::path resolvedFolder = ResolvedPath(layout.tileFolder).value_or({});
    const OpenFolder tileFolder(layout.tileFolder);
    work.ownIndex = LookAt(report.indexFile).value_or({});
    std::vector<FoundTileRoot> roots = FindTileRoots(subfolders, rootLook, &tileFolder);
    work.tiles.reserve(subfolders.size());
    for (std::size_t i = 0; i < subfolders.size(); ++i) {
        fs::path& subfolder = subfolders[i];
        const std::optional<std::string> name = NameText(subfolder.filename());
        if (!name || !IsSafeEntryName(*name)) {
            report.leftOut.push_back({subfolder.filename(), TileStatus::UnsafeName, {}, 0, {}});
            continue;
        }
        if (LeadsToAnAncestor(subfolder, links[i], resolvedFolder)) {
            report.leftOut.push_back({subfolder.filename(), TileStatus::LinksBack, {}, 0, {}});
            continue;
        }
        if (!roots[i].found) {
            const bool block = LooksLikeBlock(subfolder);
            if (block)
                scan.blocks.push_back(subfolder);
            scan.subfoldersHoldTiles = scan.subfoldersHoldTiles || block;
            scan.noRoot.push_back({subfolder.filename(), TileStatus::NoRootFile, {}, 0, {}});
            continue;
        }
        // A block has thousands of subfolders: their paths are moved, not copied.
        TileCheck& tile = work.tiles.emplace_back();
        tile.folder = std::move(subfolder);
        tile.rootName = roots[i].name;
        tile.listedRoot = std::move(roots[i].listedName);
        if (roots[i].caseTwins)
            report.warnings.push_back(
                {ProblemKind::RootNamesDifferInCase, JoinPath(tile.folder, tile.listedRoot), {}});
        // What the cache compares its stamps with; each check takes its own look.
        tile.result.facts = roots[i].facts;
    }
    if (followBlocks)
        TakeOutBlocks(scan);
}

// A viewer opens `indexFile`, or the index of a folder of blocks above it (`masters`,
// innermost first), and comes down to the tiles from there: each index's folder joins the
// search, and each index is loading above every tile.
void SetWayDown(FolderWork& work, const fs::path& indexFile, const std::vector<fs::path>& masters) {
    work.indexesAbove.push_back(RequestPathText(indexFile));
    work.searchAbove.push_back(RequestPathText(indexFile.parent_path()));
    for (const fs::path& master : masters) {
        work.indexesAbove.push_back(RequestPathText(master));
        work.searchAbove.push_back(RequestPathText(master.parent_path()));
    }
}

// What follows writes a planned folder: its origin, its entries, its index.

// The name a tile's root file has in its entry: root.osgb, or the tile folder's name.osgb.
std::string RootFileText(TileRootName root, const std::string& subfolderName) {
    return root == TileRootName::Root ? std::string(kRootFileName) : subfolderName + ".osgb";
}

// Records the folder's entries and left-out subfolders; returns the entries with bounds.
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
            {TileEntryFor(
                 scan.entryPrefix, name,
                 tile.listed()
                     ? NameText(tile.listedRoot).value_or(RootFileText(tile.rootName, name))
                     : RootFileText(tile.rootName, name),
                 report.index),
             tile.result.bound});
        report.entries.push_back(entries.back().name);
        if (report.index == IndexKind::Paged && entries.back().bound.kind != TileBound::Kind::Known)
            report.proxyLeaves.push_back(entries.back().name);
    }
    // Left-out subfolders in name order, whichever step left them out.
    std::stable_sort(report.leftOut.begin(), report.leftOut.end(),
                     [](const LeftOutSubfolder& a, const LeftOutSubfolder& b) {
                         return SubfolderPathNameLess(a.name, b.name);
                     });
    return entries;
}

// Why a folder whose index would name nothing gets none, with the likeliest cause.
Problem NoTilesProblem(const FolderScan& scan, const FolderReport& report) {
    ProblemKind kind = ProblemKind::NoTilesFound;
    if (HoldsOsgbFiles(report.folder))
        kind = ProblemKind::NoTilesLooksLikeTile;
    else if (scan.subfoldersHoldTiles)
        kind = ProblemKind::NoTilesOneLevelTooHigh;
    return Problem{kind, report.folder, {}};
}

bool Confirmed(const Problem& problem, const ExportOptions& options) {
    return problem.kind != ProblemKind::WorkersUnavailable && options.confirmReplace &&
           options.confirmReplace(problem);
}

std::optional<Problem> ProblemBeforeWriting(const FolderReport& report, const FolderScan* scan,
                                            WorkerProcess& inspector, FolderCache& verdicts,
                                            const ExportOptions& options) {
    std::optional<Problem> keep =
        ReasonToKeepExisting(report.indexFile, inspector, verdicts, options.checkSettings());
    if (keep && Confirmed(*keep, options))
        keep.reset();
    // An index that names nothing opens as an empty scene, which reads as success; only
    // --force (or the user, asked) writes one.
    if (!keep && report.entries.empty()) {
        keep = scan ? NoTilesProblem(*scan, report)
                    : Problem{ProblemKind::NoTilesFound, report.folder, {}};
        if (Confirmed(*keep, options))
            keep.reset();
    }
    if (keep || !options.dryRun)
        return keep;
    // What the write itself would find: no permission, a read-only disk, a folder in the way.
    if (fs::is_directory(report.indexFile))
        return Problem{ProblemKind::WriteFailed, report.indexFile,
                       SystemError(std::errc::is_a_directory)};
    if (const Status writable = CheckFolderWritable(report.folder); !writable)
        return Problem{ProblemKind::WriteFailed, report.indexFile, writable.error()};
    return std::nullopt;
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

// True when the folder's index on disk is the one an earlier run wrote from the same entries
// (`from`) and nothing has touched it since: it is left as it is, unread and unparsed. Not
// through a link, which a write would replace with the file itself.
bool IndexStandsAsWritten(const fs::path& index, std::uint64_t from, FolderCache& verdicts,
                          const std::string& levels) {
    const Result<FileFacts> now = LookAt(index);
    if (!now || IsLink(index) || !verdicts.writtenIndexHolds(*now, from))
        return false;
    verdicts.keepWrittenIndex(*now, from, levels);
    return true;
}

// What the overview levels need of a tile's check.
LevelsCheck LevelsCheckOf(const TileResult& result) {
    LevelsCheck check{result.facts, result.outcome.reason, std::nullopt};
    const TileBound& bound = result.bound;
    if (bound.kind == TileBound::Kind::Known && bound.radius > 0) {
        const Extent extent{bound.centre[0] - bound.radius, bound.centre[1] - bound.radius,
                            bound.centre[0] + bound.radius, bound.centre[1] + bound.radius};
        if (extent.IsUsable())
            check.bound = extent;
    }
    return check;
}

// Hands each tile's summary to the folder's overview levels as its check ends.
class OverviewSummaries final : public SummarySink {
public:
    explicit OverviewSummaries(std::shared_ptr<OverviewBuild> build) : build_(std::move(build)) {}
    void tileChecked(std::size_t tile, const TileResult& result, SummaryState state,
                     std::shared_ptr<const TileSummary> summary) override {
        build_->tileChecked(tile, LevelsCheckOf(result), state, std::move(summary));
    }

private:
    const std::shared_ptr<OverviewBuild> build_;
};

// The folder of levels an overview index's tops name ("brindle-overview-3\L4_0_0.osgb").
std::string LevelsOfTops(const std::vector<std::string>* tops) {
    if (!tops)
        return {};
    for (const std::string& top : *tops)
        if (const std::size_t end = top.find('\\'); end != std::string::npos)
            return top.substr(0, end);
    return {};
}

// Writes `graph` as the folder's index once nothing stands in the way.
//
// An overview index names its levels' tops (`tops`) instead of the tiles: the levels name
// those.
void WriteIndex(IndexGraph& graph, const std::vector<PagedEntry>& entries, const FolderScan* scan,
                WorkerProcess& inspector, FolderCache& verdicts, const ExportOptions& options,
                FolderReport& report, const std::vector<std::string>* tops = nullptr) {
    if (!report.error)
        report.error = ProblemBeforeWriting(report, scan, inspector, verdicts, options);
    if (report.error) {
        report.status = FolderStatus::Failed;
        return;
    }
    if (options.dryRun) {
        report.status = FolderStatus::DryRun;
        return;
    }
    std::vector<PagedEntry> named;
    if (tops)
        for (const std::string& top : *tops)
            named.push_back({top, {}});
    const std::uint64_t from =
        IndexHash(options.index, graph.translation(), tops ? named : entries);
    const std::string levels = LevelsOfTops(tops);
    if (IndexStandsAsWritten(report.indexFile, from, verdicts, levels)) {
        report.status = FolderStatus::Written;
        return;
    }
    if (tops)
        graph.setEntries(*tops);
    else if (options.index == IndexKind::Paged)
        graph.setPagedEntries(entries);
    else
        graph.setEntries(report.entries);
    RemoveStaleTemporaryFiles(report.folder);
    const IndexWrite write = WriteIndexFile(graph.root(), report.indexFile);
    report.error = write.error;
    if (write.placed.type == fs::file_type::regular)
        verdicts.keepWrittenIndex(write.placed, from, levels);
    if (write.warning)
        report.warnings.push_back(*write.warning);
    report.status = report.error ? FolderStatus::Failed : FolderStatus::Written;
}

// The folder's own index may be another file now than when the folder was scanned: an
// earlier folder of the run wrote it through a link, or something outside the run replaced
// it. The tiles were checked against the file that was there then, so a tile whose root file
// links to the new one passed; each kept tile is looked at again, and one that is now the
// folder's own index is left out.
void LeaveOutLinksToNewIndex(FolderWork& work, const fs::path& indexFile) {
    const Result<FileFacts> looked = LookAt(indexFile);
    // Without an identity from the system there is nothing to compare the tiles with.
    if (!looked || looked->inode == 0 || SameFile(*looked, work.ownIndex))
        return;
    const FileFacts& own = *looked;
    for (TileCheck& checked : work.tiles) {
        TileOutcome& outcome = checked.result.outcome;
        // A link to an index is a cycle to the check, which cannot know whose index it is.
        if (outcome.reason != TileStatus::Valid && outcome.reason != TileStatus::Cycle)
            continue;
        const Result<FileFacts> tile = LookAt(checked.root());
        if (tile && SameFile(*tile, own)) {
            outcome.reason = TileStatus::LinksBack;
            outcome.cause.clear();
        }
    }
}

// Progress from the pools of blocks exported along the way, told as part of the run's.
struct ProgressRelay {
    std::mutex mutex;
    ExportProgress run; // as the run's own pool last told it
    std::function<void(const ExportProgress&)> sink;
};

// `path` below `base`, component by component: what follows base, or nothing when `path` does
// not lie within it.
std::optional<fs::path> PathWithin(const fs::path& path, const fs::path& base) {
    auto p = path.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++p)
        if (p == path.end() || *p != *b)
            return std::nullopt;
    fs::path rest;
    for (; p != path.end(); ++p)
        rest /= *p;
    return rest;
}

// A listed folder as the run exports it, and as the user spelled it.
struct Spelling {
    fs::path normal;
    fs::path spelled;
};

// A spelling without trailing separators or "." components, which name the folder before them.
fs::path WithoutTrailingDots(fs::path path) {
    while (path.has_relative_path() && (path.filename().empty() || path.filename() == "."))
        path = path.parent_path();
    return path;
}

// The report of a folder listed again after `firstListing`, as that listing was spelled.
FolderReport RepeatReport(const fs::path& folder, fs::path firstListing, const fs::path& master) {
    FolderReport repeat;
    repeat.folder = folder;
    repeat.indexFile = folder / kRootFileName;
    repeat.status = FolderStatus::ListedTwice;
    repeat.firstListing = std::move(firstListing);
    repeat.master = master;
    return repeat;
}

// One export run: folders listed, and the blocks of folders of blocks, exported in turn
// with one translation carried over from folder to folder.
class Run {
public:
    Run(const ExportOptions& options, SpatialReferences& references)
        : options_(options), references_(references), settings_(options.checkSettings()),
          inspector_(settings_.program()),
          setting_(options.verdictCache.empty() ? 0 : VerdictSetting(settings_)) {}

    // Exports the folders as listed, each under its one normal path (ListedFolderPath); their
    // reports name them, and the files within them, as the user spelled them.
    void exportListed(const std::vector<fs::path>& folders, std::vector<FolderReport>& out);

    // Why the verdicts of some folder could not be kept, the first time they could not.
    const std::optional<Problem>& cacheNotWritten() const { return cacheNotWritten_; }

private:
    // Exports `folders` in order, appending their reports to `out`: a folder of blocks comes
    // after its blocks. `master` is the folder of blocks they belong to, if any. Gives each
    // folder's outcome, in the order of `folders`.
    struct FolderOutcome {
        FolderStatus status = FolderStatus::Cancelled;
        SrsKind srsKind = SrsKind::None;
        std::string srs; // as its metadata.xml named it
    };
    std::vector<FolderOutcome> exportFolders(const std::vector<fs::path>& folders,
                                             const fs::path& master, int depth,
                                             std::vector<FolderReport>& out);

    // A list of folders as planned, for the writing: each folder's scan and its report so
    // far, in list order.
    struct FolderPlan {
        FolderPlan(const std::vector<fs::path>& folders, const fs::path& master, int depth);
        const std::vector<fs::path>& folders;
        const fs::path& master;
        int depth;
        // Where each folder is listed first, by the system's identity of the folder.
        std::vector<std::size_t> firstListings;
        std::vector<FolderReport> reports;
        std::vector<FolderScan> scans;
        std::vector<bool> queued; // its tiles went to the pool to be checked
        ExportProgress progress;  // the pool's, as it tells the run's callback
    };
    // The listing of folder `i` of a plan, when it is the run's own (a listed folder).
    const Spelling* ownSpelling(const FolderPlan& plan, std::size_t i) const;

    // Step one, planning: repeated listings set aside, each folder scanned, its tiles
    // classified and their cached verdicts taken, and the rest queued in the pool.
    void planFolders(FolderPlan& plan, TileCheckPool& pool);
    void planFolder(FolderPlan& plan, std::size_t i, TileCheckPool& pool);
    // Reads the folder's own origin; one in degrees that is not to be written fails the
    // folder here, before any of its tiles is read.
    void readOrigin(FolderScan& scan, FolderReport& report) const;
    // Starts the folder's overview levels, to be built as its tiles are checked.
    void startOverview(FolderScan& scan, FolderReport& report);
    // The folder's tiles to check for its overview: those whose cached verdicts the levels
    // cannot do with.
    FolderWork takeCachedForOverview(FolderScan& scan);

    // Step two, writing: folder by folder as the pool hands it back, its checked tiles
    // merged with the cached ones, its origin, report and index written and its verdicts
    // kept; and, once the run is cancelled, the verdicts reached for the rest.
    std::vector<FolderOutcome> writeFolders(FolderPlan& plan, TileCheckPool& pool,
                                            std::vector<FolderReport>& out);
    FolderOutcome writePlanned(FolderPlan& plan, std::size_t i, std::vector<FolderReport>& out);
    // The earlier listing folder `i` repeats, as it was spelled there, if it repeats one.
    std::optional<fs::path> firstListingOf(const FolderPlan& plan, std::size_t i) const;
    bool caching() const { return !options_.verdictCache.empty(); }

    // A folder the run has exported (or failed to), listed or a block, as it was named then.
    struct Exported {
        fs::path folder;
        FolderIdentity identity;
        FolderStatus status;
    };

    // Where `folder` was exported earlier in the run, under this or another path, if it was.
    const Exported* exportedBefore(const fs::path& folder) const;
    void writeFolder(FolderScan& scan, int depth, FolderReport& report,
                     std::vector<FolderReport>& out);
    void writeBlocks(FolderScan& scan, int depth, FolderReport& report,
                     std::vector<FolderReport>& out);
    // Finishes the folder's overview levels and writes the index over them.
    void writeOverview(FolderScan& scan, const std::vector<PagedEntry>& entries,
                       FolderReport& report);
    // Reads the folder's verdict cache into `scan`, when the run keeps one.
    void loadVerdicts(const fs::path& folder, FolderScan& scan) const;
    // Keeps the lasting verdicts the pool reached on folder `handle` before the run was
    // cancelled, with those the cache gave, so that the next run starts where this one stopped.
    void keepVerdictsReached(TileCheckPool& pool, std::size_t handle, FolderScan& scan,
                             std::optional<FolderWork> work, const fs::path& folder);
    // What the pool of a run's folders (or, `nested`, of a folder of blocks' blocks) tells of
    // its progress, as the run's progress callback is to hear it.
    std::function<void(const ExportProgress&)> progressRelay(bool nested);
    void noteCacheWrite(std::error_code saved, const fs::path& folder);

    // The paths of `report` as the user spelled the folders they lie in; `own` is the listing
    // the report is of, whose spelling wins where two listings name one folder. Its first
    // listing is spelled where it is set, as that listing was.
    void respell(FolderReport& report, const Spelling* own) const;
    fs::path spelled(const fs::path& path, const Spelling* own) const;

    const ExportOptions& options_;
    // Asked from the run's thread alone; the projection library is loaded at its first need.
    SpatialReferences& references_;
    const CheckSettings settings_;
    IndexGraph graph_;
    OriginState origin_;
    // Examines existing root.osgb files before they are replaced; started only if one exists.
    WorkerProcess inspector_;
    std::shared_ptr<ProgressRelay> relay_ = std::make_shared<ProgressRelay>();
    // A folder is exported once: a second write would replace the index the first wrote
    // while the tiles were checked against the old one.
    std::vector<Exported> exported_;
    std::uint64_t setting_; // what the verdicts cached for this run were taken under
    std::optional<Problem> cacheNotWritten_;
    // The indexes of the folders of blocks whose blocks are being exported, innermost first.
    std::vector<fs::path> mastersAbove_;
    // Per listed folder, in list order; and the parents the spellings name, for the files a
    // folder's layout reads beside it (a production folder's metadata.xml).
    std::vector<Spelling> listings_;
    std::vector<Spelling> parents_;
    RunLocks locks_;
};

void Run::noteCacheWrite(std::error_code saved, const fs::path& folder) {
    if (!saved || cacheNotWritten_)
        return;
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    cacheNotWritten_ =
        Problem{ProblemKind::CacheNotWritten,
                VerdictCacheFileFor(options_.verdictCache, ec ? folder : absolute), saved};
}

void Run::exportListed(const std::vector<fs::path>& folders, std::vector<FolderReport>& out) {
    std::vector<fs::path> normal;
    normal.reserve(folders.size());
    for (const fs::path& folder : folders) {
        normal.push_back(ListedFolderPath(folder));
        listings_.push_back({normal.back(), folder});
        const fs::path trimmed = WithoutTrailingDots(folder);
        const fs::path name = trimmed.filename();
        if (!trimmed.parent_path().empty() && !name.empty() && name != "." && name != "..")
            parents_.push_back({normal.back().parent_path(), trimmed.parent_path()});
    }
    exportFolders(normal, {}, 0, out);
}

fs::path Run::spelled(const fs::path& path, const Spelling* own) const {
    if (path.empty())
        return path;
    const Spelling* best = nullptr;
    fs::path rest;
    std::size_t bestLength = 0;
    const auto consider = [&](const Spelling& s) {
        const std::optional<fs::path> within = PathWithin(path, s.normal);
        const std::size_t length = s.normal.native().size();
        if (within && (!best || length > bestLength)) {
            best = &s;
            rest = *within;
            bestLength = length;
        }
    };
    if (own)
        consider(*own);
    for (const Spelling& s : listings_)
        consider(s);
    for (const Spelling& s : parents_)
        consider(s);
    if (!best || best->normal == best->spelled)
        return path;
    return rest.empty() ? best->spelled : best->spelled / rest;
}

void Run::respell(FolderReport& report, const Spelling* own) const {
    if (listings_.empty())
        return;
    report.folder = spelled(report.folder, own);
    report.indexFile = spelled(report.indexFile, own);
    report.originReport = spelled(report.originReport, own);
    report.master = spelled(report.master, own);
    for (fs::path& block : report.blocks)
        block = spelled(block, own);
    for (Problem& warning : report.warnings)
        warning.path = spelled(warning.path, own);
    if (report.error)
        report.error->path = spelled(report.error->path, own);
}

void Run::loadVerdicts(const fs::path& folder, FolderScan& scan) const {
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    if (!ec)
        scan.verdicts = FolderCache(options_.verdictCache, absolute, setting_);
}

void Run::keepVerdictsReached(TileCheckPool& pool, std::size_t handle, FolderScan& scan,
                              std::optional<FolderWork> work, const fs::path& folder) {
    if (!work)
        work = pool.takeChecked(handle);
    if (!work || std::none_of(work->tiles.begin(), work->tiles.end(),
                              [](const TileCheck& tile) { return tile.result.checked; }))
        return;
    work->tiles.resize(work->tiles.size() - std::min(scan.nodeReads, work->tiles.size()));
    noteCacheWrite(scan.verdicts.save(scan.verdicts.merge(std::move(*work))), folder);
}

const Run::Exported* Run::exportedBefore(const fs::path& folder) const {
    if (exported_.empty())
        return nullptr;
    const FolderIdentity wanted = IdentifyFolder(folder);
    for (const Exported& earlier : exported_)
        if (SameFolder(earlier.identity, wanted))
            return &earlier;
    return nullptr;
}

std::function<void(const ExportProgress&)> Run::progressRelay(bool nested) {
    if (!options_.progress)
        return {};
    relay_->sink = options_.progress;
    std::shared_ptr<ProgressRelay> relay = relay_;
    if (!nested)
        return [relay](const ExportProgress& p) {
            const std::lock_guard<std::mutex> lock(relay->mutex);
            relay->run = p;
            relay->sink(p);
        };
    return [relay](const ExportProgress& p) {
        const std::lock_guard<std::mutex> lock(relay->mutex);
        ExportProgress told = relay->run;
        told.subfoldersDone += p.subfoldersDone;
        told.subfolderCount += p.subfolderCount;
        told.folder = p.folder;
        relay->sink(told);
    };
}

// A folder listed twice, or a block listed on its own as well, is exported once: where it
// comes first. A repeat known before the scan is not scanned (planFolder); one that only turns
// out to be a repeat later (a block that a folder of blocks before it exported) is told so
// when its turn to be written comes (writePlanned).
std::vector<Run::FolderOutcome> Run::exportFolders(const std::vector<fs::path>& folders,
                                                   const fs::path& master, int depth,
                                                   std::vector<FolderReport>& out) {
    if (folders.empty())
        return {};
    FolderPlan plan(folders, master, depth);
    plan.progress.folder = spelled(folders.front(), ownSpelling(plan, 0));
    TileCheckPool pool(settings_, caching() ? Look::WithIdentity : Look::TypeAndSize, plan.progress,
                       progressRelay(depth > 0));
    planFolders(plan, pool);
    return writeFolders(plan, pool, out);
}

Run::FolderPlan::FolderPlan(const std::vector<fs::path>& folders, const fs::path& master, int depth)
    : folders(folders), master(master), depth(depth), firstListings(FirstListings(folders)),
      reports(folders.size()), scans(folders.size()), queued(folders.size(), false) {
    progress.folderCount = folders.size();
}

const Spelling* Run::ownSpelling(const FolderPlan& plan, std::size_t i) const {
    return plan.depth == 0 && i < listings_.size() ? &listings_[i] : nullptr;
}

void Run::planFolders(FolderPlan& plan, TileCheckPool& pool) {
    // Without a cache every tile is checked: the workers start while the scan runs. With one,
    // they start as soon as a folder turns out to have no cache, or tiles to check.
    if (!caching())
        pool.startWorkers();
    for (std::size_t i = 0; i < plan.folders.size(); ++i)
        planFolder(plan, i, pool);
    pool.finish();
}

void Run::readOrigin(FolderScan& scan, FolderReport& report) const {
    scan.origin = ReadFolderOrigin(report.folder, references_,
                                   [this](const Problem& why) { return Confirmed(why, options_); });
    if (!scan.origin.refused)
        return;
    report.error = scan.origin.refused;
    report.srs = scan.origin.srs;
    report.srsKind = scan.origin.srsKind;
}

void Run::startOverview(FolderScan& scan, FolderReport& report) {
    EarlierLevels earlier;
    FolderCache& verdicts = scan.verdicts;
    const IndexLevelsLookup lookup{
        [&verdicts](const FileFacts& index) { return verdicts.writtenLevels(index); },
        [&](const fs::path& index) {
            return ExistingIndexNames(index, inspector_, verdicts, settings_);
        }};
    earlier.folder = LevelsTheIndexNames(report.folder, report.indexFile, lookup);
    // With the cache, the run knows before any tile is read whether the levels can stay.
    earlier.keepIfUnchanged = caching();
    // The held summaries wait in the cache folder where there is one: the system's temporary
    // folder is often memory.
    std::vector<LevelsTile> tiles;
    for (const TileCheck& tile : scan.work.tiles)
        tiles.push_back({tile.folder.filename(), tile.rootFileName()});
    Result<std::shared_ptr<OverviewBuild>> started = OverviewBuild::Start(
        report.folder, scan.entryPrefix, tiles,
        std::max(1u, settings_.jobs ? settings_.jobs : std::thread::hardware_concurrency()),
        SystemScratchFileCalls(), options_.verdictCache, earlier);
    if (!started) {
        report.error = Problem{ProblemKind::OverviewNotWritten, report.folder, started.error()};
        return;
    }
    scan.overview = std::move(*started);
    scan.work.summaries = std::make_shared<OverviewSummaries>(scan.overview);
}

void Run::planFolder(FolderPlan& plan, std::size_t i, TileCheckPool& pool) {
    const fs::path& folder = plan.folders[i];
    FolderReport& report = plan.reports[i];
    FolderScan& scan = plan.scans[i];
    report.master = plan.master;
    // The pool hands folders back by the order they were added in: handle i is folder i. A
    // repeated listing is queued empty, so that its handle keeps its place.
    if (plan.firstListings[i] != i || exportedBefore(folder)) {
        pool.add(FolderWork{});
        return;
    }
    if (!options_.dryRun)
        if (std::optional<Problem> busy = locks_.take(folder, scan.lock)) {
            report.folder = folder;
            report.indexFile = folder / kRootFileName;
            report.error = std::move(busy);
            pool.add(FolderWork{});
            return;
        }
    if (caching()) {
        loadVerdicts(folder, scan);
        if (!scan.verdicts.loaded())
            pool.startWorkers();
    }
    ScanFolder(folder, report, scan, caching() ? Look::WithIdentity : Look::TypeAndSize,
               plan.depth < kMaxBlockDepth);
    SetWayDown(scan.work, report.indexFile, mastersAbove_);
    if (!report.error && !scan.ofBlocks)
        readOrigin(scan, report);
    if (options_.index == IndexKind::Overview && !options_.dryRun && !report.error &&
        !scan.ofBlocks && !scan.work.tiles.empty()) {
        // The tiles' verdicts are looked up before the index's, in the order the cache keeps
        // them.
        if (caching())
            scan.verdicts.lookUp(scan.work, true);
        startOverview(scan, report);
    }
    plan.queued[i] = !report.error;
    if (report.error)
        pool.add(FolderWork{});
    else if (caching() && scan.overview)
        pool.add(takeCachedForOverview(scan));
    else if (caching())
        pool.add(scan.verdicts.takeCached(scan.work, options_.index == IndexKind::Paged));
    else
        pool.add(std::move(scan.work));
}

FolderWork Run::takeCachedForOverview(FolderScan& scan) {
    FolderCache& verdicts = scan.verdicts;
    std::vector<std::optional<LevelsCheck>> cached(scan.work.tiles.size());
    for (std::size_t t = 0; t < cached.size(); ++t)
        if (verdicts.fromCache(t))
            cached[t] = LevelsCheckOf(scan.work.tiles[t].result);
    OverviewBuild::TakenFromEarlier taken = scan.overview->takeUnchanged(cached);
    // The tiles beside a changed one are read again: the node above them is new, and is made
    // from their summaries, which no verdict kept holds.
    for (const std::size_t tile : taken.checkAgain)
        verdicts.checkAgain(tile);
    FolderWork left = verdicts.takeUnknown(scan.work);
    scan.overview->checkedAt(verdicts.placesChecked());
    // The earlier nodes a new node is built over are read back by the same workers, after the
    // tiles; merge() takes back only the tiles.
    scan.nodeReads = taken.nodeFilesToRead.size();
    for (const fs::path& name : taken.nodeFilesToRead) {
        TileCheck node;
        node.folder = scan.overview->folder();
        node.listedRoot = name;
        node.levelFile = true;
        left.tiles.push_back(std::move(node));
    }
    return left;
}

std::vector<Run::FolderOutcome> Run::writeFolders(FolderPlan& plan, TileCheckPool& pool,
                                                  std::vector<FolderReport>& out) {
    const std::size_t count = plan.folders.size();
    std::vector<FolderOutcome> outcomes(count);
    std::size_t i = 0;
    std::optional<FolderWork> work;
    for (; i < count; ++i) {
        work = pool.waitFor(i);
        if (!work || settings_.cancelled())
            break;
        FolderScan& scan = plan.scans[i];
        work->tiles.resize(work->tiles.size() - std::min(scan.nodeReads, work->tiles.size()));
        scan.work = scan.verdicts.merge(std::move(*work));
        work.reset();
        outcomes[i] = writePlanned(plan, i, out);
        if (plan.depth == 0)
            pool.report([&](ExportProgress& p) {
                const std::size_t next = std::min(i + 1, count - 1);
                p.foldersDone = i + 1;
                p.folder = spelled(plan.folders[next], ownSpelling(plan, next));
            });
    }
    // What was learned of the folders not written is kept all the same: an interrupted run of
    // a large block may have checked most of its tiles.
    for (std::size_t k = i; k < count && caching(); ++k)
        if (plan.queued[k])
            keepVerdictsReached(pool, k, plan.scans[k], k == i ? std::move(work) : std::nullopt,
                                plan.folders[k]);
    for (; i < count; ++i) {
        respell(plan.reports[i], ownSpelling(plan, i));
        out.push_back(std::move(plan.reports[i]));
    }
    return outcomes;
}

std::optional<fs::path> Run::firstListingOf(const FolderPlan& plan, std::size_t i) const {
    const std::size_t first = plan.firstListings[i];
    if (first != i)
        return spelled(plan.folders[first], ownSpelling(plan, first));
    if (const Exported* earlier = exportedBefore(plan.folders[i]))
        return spelled(earlier->folder, nullptr);
    return std::nullopt;
}

Run::FolderOutcome Run::writePlanned(FolderPlan& plan, std::size_t i,
                                     std::vector<FolderReport>& out) {
    FolderReport& folder = plan.reports[i];
    const fs::path& path = plan.folders[i];
    if (std::optional<fs::path> firstListing = firstListingOf(plan, i)) {
        folder = RepeatReport(path, std::move(*firstListing), plan.master);
    } else {
        if (folder.error) {
            folder.status = FolderStatus::Failed;
        } else {
            FolderScan& scan = plan.scans[i];
            folder.cachedVerdicts = scan.verdicts.cachedTiles();
            writeFolder(scan, plan.depth, folder, out);
            // A cache that cannot be written costs the next run time, and nothing else; the
            // run says so once.
            if (folder.status != FolderStatus::Cancelled)
                noteCacheWrite(scan.verdicts.save(scan.work), path);
        }
        // Written and tidied: the folder is another run's to write.
        plan.scans[i].lock.reset();
        // Cancelled within its blocks, it was not exported, and may still be later.
        if (folder.status != FolderStatus::Cancelled)
            exported_.push_back({path, IdentifyFolder(path), folder.status});
    }
    FolderOutcome outcome{folder.status, folder.srsKind, folder.srs};
    respell(folder, ownSpelling(plan, i));
    if (options_.folderDone)
        options_.folderDone(folder);
    out.push_back(std::move(folder));
    return outcome;
}

void Run::writeFolder(FolderScan& scan, int depth, FolderReport& report,
                      std::vector<FolderReport>& out) {
    report.index = options_.index;
    LeaveOutLinksToNewIndex(scan.work, report.indexFile);
    if (scan.ofBlocks) {
        writeBlocks(scan, depth, report, out);
        return;
    }
    ApplyOrigin(scan.origin, graph_, origin_, report);
    const std::vector<PagedEntry> entries = RecordTiles(scan, report);
    report.error = scan.work.workersFailed;
    if (scan.overview) {
        writeOverview(scan, entries, report);
        return;
    }
    WriteIndex(graph_, entries, &scan, inspector_, scan.verdicts, options_, report);
    // Back from an overview index, its levels are no index's any more.
    if (report.status == FolderStatus::Written && !options_.dryRun)
        for (Problem& kept : RemoveOtherOverviews(report.folder))
            report.warnings.push_back(std::move(kept));
}

void Run::writeOverview(FolderScan& scan, const std::vector<PagedEntry>& entries,
                        FolderReport& report) {
    const std::shared_ptr<OverviewBuild> overview = std::move(scan.overview);
    Result<std::vector<std::string>> tops = overview->finish();
    report.overviewHoles = overview->holes();
    if (!tops && !report.error)
        report.error = Problem{ProblemKind::OverviewNotWritten, overview->folder(), tops.error()};
    WriteIndex(graph_, entries, &scan, inspector_, scan.verdicts, options_, report,
               tops ? &*tops : nullptr);
    if (report.status != FolderStatus::Written)
        return;
    report.overviewPicture = overview->picture();
    // The new index names the new levels only; the old ones go once it is in place.
    overview->commit();
    for (Problem& kept : RemoveOtherOverviews(report.folder, overview->folder()))
        report.warnings.push_back(std::move(kept));
}

// A folder of blocks: each block is exported as if listed, then the folder's index names
// their indexes, untranslated.
void Run::writeBlocks(FolderScan& scan, int depth, FolderReport& report,
                      std::vector<FolderReport>& out) {
    const std::vector<fs::path>& blocks = scan.blocks;
    // What is neither a block nor a tile is left out, as in any folder.
    for (const LeftOutSubfolder& subfolder : scan.noRoot)
        if (std::none_of(blocks.begin(), blocks.end(),
                         [&](const fs::path& b) { return b.filename() == subfolder.name; }))
            report.leftOut.push_back(subfolder);
    mastersAbove_.insert(mastersAbove_.begin(), report.indexFile);
    const std::vector<FolderOutcome> outcomes =
        exportFolders(blocks, report.folder, depth + 1, out);
    mastersAbove_.erase(mastersAbove_.begin());
    if (settings_.cancelled()) {
        report.status = FolderStatus::Cancelled;
        return;
    }
    report.originSource = OriginSource::Blocks;
    std::vector<PagedEntry> entries;
    std::vector<SrsOf> blockSrs;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const fs::path name = blocks[i].filename();
        // A block exported earlier in the run has its index from then.
        FolderStatus status = outcomes[i].status;
        if (status == FolderStatus::ListedTwice)
            if (const Exported* first = exportedBefore(blocks[i]))
                status = first->status;
        if (status != FolderStatus::Written && status != FolderStatus::DryRun) {
            report.leftOut.push_back({name, TileStatus::BlockNotWritten, {}, 0, {}});
            continue;
        }
        PagedEntry entry;
        entry.name = TileEntryFor({}, *NameText(name), kRootFileName, report.index);
        entry.bound.kind = TileBound::Kind::Unknown;
        entries.push_back(entry);
        report.entries.push_back(entry.name);
        report.blocks.push_back(blocks[i]);
        if (outcomes[i].srsKind != SrsKind::None)
            blockSrs.push_back({blocks[i], outcomes[i].srs});
        if (report.index == IndexKind::Paged)
            report.proxyLeaves.push_back(entry.name);
    }
    std::stable_sort(report.leftOut.begin(), report.leftOut.end(),
                     [](const LeftOutSubfolder& a, const LeftOutSubfolder& b) {
                         return SubfolderPathNameLess(a.name, b.name);
                     });
    if (std::optional<Problem> differ =
            BlocksInDifferentSrs(report.folder, blockSrs, references_)) {
        if (options_.strict)
            report.error = std::move(differ);
        else
            report.warnings.push_back(std::move(*differ));
    }
    IndexGraph graph;
    WriteIndex(graph, entries, nullptr, inspector_, scan.verdicts, options_, report);
}

// Why the run does not use the verdict cache folder `folder`, if it does not.
std::optional<Problem> ProblemWithCacheFolder(const fs::path& folder) {
    const Result<CacheFolderTrust> trust = PrepareVerdictCacheFolder(folder);
    if (!trust)
        return Problem{ProblemKind::CacheFolderUnusable, folder, trust.error()};
    switch (*trust) {
    case CacheFolderTrust::Usable:
        return std::nullopt;
    case CacheFolderTrust::IsLink:
        return Problem{ProblemKind::CacheFolderIsLink, folder, {}};
    case CacheFolderTrust::NotOwned:
        return Problem{ProblemKind::CacheFolderNotOwned, folder, {}};
    case CacheFolderTrust::OpenToOthers:
        return Problem{ProblemKind::CacheFolderOpenToOthers, folder, {}};
    }
    return std::nullopt;
}

} // namespace

CheckSettings ExportOptions::checkSettings() const {
    CheckSettings settings;
    settings.limits = limits;
    settings.readAhead = readAhead;
    settings.fullValidation = fullValidation;
    // Tiles without a grid name take their place on an overview by their bounds.
    settings.wantBound = index == IndexKind::Paged || index == IndexKind::Overview;
    settings.jobs = jobs;
    settings.workerProgram = workerProgram;
    settings.cancel = cancel;
    return settings;
}

ExportReport ExportFolderIndexes(const std::vector<fs::path>& folders,
                                 const ExportOptions& options) {
    ExportReport report;
    if (folders.empty())
        return report;
    // A cache folder that is not safe to trust, or cannot be made, is not used: every tile is
    // checked, as without a cache, and the run says why once.
    ExportOptions checked;
    const ExportOptions* used = &options;
    if (!options.verdictCache.empty()) {
        if (std::optional<Problem> unusable = ProblemWithCacheFolder(options.verdictCache)) {
            report.warnings.push_back(std::move(*unusable));
            checked = options;
            checked.verdictCache.clear();
            used = &checked;
        }
    }
    // What earlier runs found the SRSs to be: a re-run over known ones never loads PROJ.
    SrsKindCache srsKinds = SrsKindCache::Load(used->verdictCache, ProjLibraryName());
    SpatialReferences references;
    for (const auto& [text, kind] : srsKinds.kinds())
        references.remember(text, kind);
    Run run(*used, references);
    run.exportListed(folders, report.folders);
    srsKinds.keep(references.learnt());
    // Like the verdicts, the kinds only save time: one not kept is identified again.
    (void)srsKinds.save();
    if (run.cacheNotWritten())
        report.warnings.push_back(*run.cacheNotWritten());
    if (!used->verdictCache.empty())
        TrimVerdictCache(used->verdictCache, kVerdictCacheBudget);
    report.cancelled =
        std::any_of(report.folders.begin(), report.folders.end(),
                    [](const FolderReport& f) { return f.status == FolderStatus::Cancelled; });
    return report;
}

} // namespace brindle
