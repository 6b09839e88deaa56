#include "export/export_run.h"

#include "export/atomic_file.h"
#include "export/folder_identity.h"
#include "export/index_graph.h"
#include "export/index_writer.h"
#include "export/origin_report.h"
#include "export/regular_file.h"
#include "export/subfolder_scan.h"
#include "export/tile_check_pool.h"

#include <algorithm>
#include <optional>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

std::optional<Problem> CheckIsFolder(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (status.type() == fs::file_type::not_found)
        return Problem{ProblemKind::FolderMissing, folder, {}};
    if (ec)
        return Problem{ProblemKind::FolderUnreadable, folder, ec};
    if (!fs::is_directory(status))
        return Problem{ProblemKind::NotAFolder, folder, {}};
    return std::nullopt;
}

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
bool LeadsToAnAncestor(const fs::path& subfolder, const fs::path& resolvedFolder) {
    if (resolvedFolder.empty() || !IsLink(subfolder))
        return false;
    std::error_code ec;
    const fs::path target = ResolvedPath(subfolder, ec);
    if (ec)
        return false;
    for (fs::path p = resolvedFolder;; p = p.parent_path()) {
        if (p == target)
            return true;
        if (p == p.parent_path())
            return false;
    }
}

FolderWork ScanFolder(const fs::path& folder, FolderReport& report) {
    report.folder = folder;
    report.indexFile = folder / "root.osgb";
    FolderWork work;
    report.error = CheckIsFolder(folder);
    if (report.error)
        return work;
    std::error_code ec;
    const std::vector<fs::path> subfolders = ListSubfolders(folder, &ec);
    if (ec) {
        report.error = Problem{ProblemKind::FolderUnreadable, folder, ec};
        return work;
    }
    const fs::path resolvedFolder = ResolvedPath(folder, ec);
    work.ownIndex = LookAt(report.indexFile, ec);
    for (const fs::path& subfolder : subfolders) {
        const std::optional<std::string> name = NameText(subfolder.filename());
        if (!name || !IsSafeEntryName(*name))
            report.leftOut.push_back({subfolder.filename(), TileStatus::UnsafeName, {}, 0, {}, {}});
        else if (LeadsToAnAncestor(subfolder, resolvedFolder))
            report.leftOut.push_back({subfolder.filename(), TileStatus::LinksBack, {}, 0, {}, {}});
        else
            work.tiles.push_back(subfolder);
    }
    return work;
}

// The translation carried from folder to folder, and the report it came from.
struct OriginState {
    fs::path report; // empty while none has been read
};

void ApplyOrigin(IndexGraph& graph, OriginState& state, FolderReport& report) {
    const fs::path reportPath = report.folder / "report.txt";
    std::error_code ec;
    if (fs::symlink_status(reportPath, ec).type() != fs::file_type::not_found && !ec) {
        const OriginReading reading = ReadBlockOrigin(reportPath);
        if (reading.origin) {
            graph.setTranslation(osg::Vec3d(reading.origin->x, reading.origin->y, 0.0));
            state.report = reportPath;
        } else if (reading.problem) {
            report.warnings.push_back(*reading.problem);
        }
    }
    report.translation = graph.translation();
    report.originReport = state.report;
    if (state.report.empty())
        report.originSource = OriginSource::None;
    else
        report.originSource =
            state.report == reportPath ? OriginSource::ThisFolder : OriginSource::CarriedOver;
}

// Records the folder's entries and left-out subfolders; returns the entries with bounds.
std::vector<PagedEntry> RecordTiles(const FolderWork& work, FolderReport& report) {
    std::vector<PagedEntry> entries;
    for (std::size_t i = 0; i < work.outcomes.size(); ++i) {
        const LeftOutSubfolder& outcome = work.outcomes[i];
        if (work.rechecked[i])
            report.recheckedTiles.push_back(outcome.name);
        if (outcome.reason != TileStatus::Valid) {
            report.leftOut.push_back(outcome);
            continue;
        }
        entries.push_back({EntryFor(*NameText(outcome.name), report.index), work.bounds[i]});
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

std::optional<Problem> VerdictOnExisting(WorkerProcess& inspector, const fs::path& index,
                                         const ExportOptions& options) {
    const BoundedCheck check =
        MakeCheck(CheckKind::ExistingIndex, index, FileSizeOrZero(index), options);
    CheckReply reply;
    switch (inspector.exchange(check.request, check.deadline, reply)) {
    case WorkerProcess::Outcome::Replied:
        break;
    case WorkerProcess::Outcome::Crashed:
    case WorkerProcess::Outcome::TimedOut:
        return Problem{ProblemKind::ExistingUnreadable, index, {}};
    case WorkerProcess::Outcome::Unavailable:
        return Problem{ProblemKind::WorkersUnavailable, WorkerProgramFor(options),
                       inspector.startError()};
    }
    switch (reply.verdict) {
    case CheckVerdict::IsIndex:
    case CheckVerdict::Missing:
        return std::nullopt;
    case CheckVerdict::HoldsScene:
    case CheckVerdict::Loads:
        return Problem{ProblemKind::ExistingHoldsScene, index, {}};
    case CheckVerdict::Unreadable:
        return Problem{
            ProblemKind::ExistingUnreadable, index, {reply.systemError, std::system_category()}};
    default:
        return Problem{ProblemKind::ExistingUnreadable, index, {}};
    }
}

// Why the folder's existing root.osgb must not be replaced by the new index, if it must not:
// it is scene data (a tile folder listed by mistake), it cannot be read, or the new index
// would list nothing where the old one may list a whole block. Only an index is replaced.
std::optional<Problem> ReasonToKeepExisting(const FolderReport& report, WorkerProcess& inspector,
                                            const ExportOptions& options) {
    std::error_code ec;
    const fs::file_status status = fs::status(report.indexFile, ec);
    if (status.type() == fs::file_type::not_found)
        return std::nullopt;
    if (ec)
        return Problem{ProblemKind::ExistingUnreadable, report.indexFile, ec};
    // A folder in the way is not overwritten; the write fails and says why.
    if (fs::is_directory(status))
        return std::nullopt;
    if (report.entries.empty())
        return Problem{ProblemKind::NoTilesKeptIndex, report.indexFile, {}};
    return VerdictOnExisting(inspector, report.indexFile, options);
}

std::optional<Problem> ProblemBeforeWriting(const FolderReport& report, WorkerProcess& inspector,
                                            const ExportOptions& options) {
    std::optional<Problem> keep = ReasonToKeepExisting(report, inspector, options);
    if (keep && keep->kind != ProblemKind::WorkersUnavailable && options.confirmReplace &&
        options.confirmReplace(*keep))
        keep.reset();
    if (keep || !options.dryRun)
        return keep;
    // What the write itself would find: no permission, a read-only disk, a folder in the way.
    if (fs::is_directory(report.indexFile))
        return Problem{ProblemKind::WriteFailed, report.indexFile,
                       std::make_error_code(std::errc::is_a_directory)};
    if (const std::error_code ec = CheckFolderWritable(report.folder))
        return Problem{ProblemKind::WriteFailed, report.indexFile, ec};
    return std::nullopt;
}

// The folder's own index may be another file now than when the folder was scanned: an
// earlier folder of the run wrote it through a link, or something outside the run replaced
// it. The tiles were checked against the file that was there then, so a tile whose root.osgb
// links to the new one passed; each kept tile is looked at again, and one that is now the
// folder's own index is left out.
void LeaveOutLinksToNewIndex(FolderWork& work, const fs::path& indexFile) {
    std::error_code ec;
    const FileFacts own = LookAt(indexFile, ec);
    // Without an identity from the system there is nothing to compare the tiles with.
    if (ec || own.inode == 0 || SameFile(own, work.ownIndex))
        return;
    for (std::size_t i = 0; i < work.outcomes.size(); ++i) {
        LeftOutSubfolder& outcome = work.outcomes[i];
        if (outcome.reason != TileStatus::Valid)
            continue;
        const FileFacts tile = LookAt(work.tiles[i] / "root.osgb", ec);
        if (!ec && SameFile(tile, own)) {
            outcome.reason = TileStatus::LinksBack;
            outcome.cause.clear();
        }
    }
}

void WriteFolder(FolderWork& work, IndexGraph& graph, OriginState& origin, WorkerProcess& inspector,
                 const ExportOptions& options, FolderReport& report) {
    LeaveOutLinksToNewIndex(work, report.indexFile);
    ApplyOrigin(graph, origin, report);
    report.index = options.index;
    const std::vector<PagedEntry> entries = RecordTiles(work, report);
    report.error = work.workersFailed;
    if (!report.error)
        report.error = ProblemBeforeWriting(report, inspector, options);
    if (report.error) {
        report.status = FolderStatus::Failed;
        return;
    }
    if (options.index == IndexKind::Paged)
        graph.setPagedEntries(entries);
    else
        graph.setEntries(report.entries);
    if (options.dryRun) {
        report.status = FolderStatus::DryRun;
        return;
    }
    RemoveStaleTemporaryFiles(report.folder);
    const IndexWrite write = WriteIndexFile(graph.root(), report.indexFile);
    report.error = write.error;
    if (write.warning)
        report.warnings.push_back(*write.warning);
    report.status = report.error ? FolderStatus::Failed : FolderStatus::Written;
}

} // namespace

std::chrono::milliseconds TileLimits::deadlineFor(std::uint64_t fileSize) const {
    const std::uint64_t perSize =
        deadlineBytesPerSecond ? fileSize * 1000 / deadlineBytesPerSecond : 0;
    return deadlineBase + std::chrono::milliseconds(perSize);
}

std::uint64_t TileLimits::memoryCeilingFor(std::uint64_t fileSize) const {
    const std::uint64_t wanted = memoryBase + fileSize * memoryPerFileByte;
    return std::min(wanted, memoryMax);
}

ExportReport ExportFolderIndexes(const std::vector<fs::path>& folders,
                                 const ExportOptions& options) {
    ExportReport report;
    report.folders.resize(folders.size());
    if (folders.empty())
        return report;
    // A folder listed twice is exported once, at its first listing: a second write would
    // replace the index the first wrote while the tiles were checked against the old one.
    const std::vector<std::size_t> firstListings = FirstListings(folders);
    const auto listedBefore = [&](std::size_t i) { return firstListings[i] != i; };

    ExportProgress progress;
    progress.folderCount = folders.size();
    progress.folder = folders.front();
    const fs::path program =
        options.workerProgram.empty() ? DefaultWorkerProgram() : options.workerProgram;
    TileCheckPool pool(options, program, progress);
    // The pool hands folders back by the order they were added in: handle i is folder i. A
    // repeated listing is queued empty, so that its handle keeps its place.
    for (std::size_t i = 0; i < folders.size(); ++i)
        pool.add(listedBefore(i) ? FolderWork{} : ScanFolder(folders[i], report.folders[i]));
    pool.finish();

    IndexGraph graph;
    OriginState origin;
    // Examines existing root.osgb files before they are replaced; started only if one exists.
    WorkerProcess inspector(program);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        FolderReport& folder = report.folders[i];
        std::optional<FolderWork> work = pool.waitFor(i);
        if (!work || IsCancelled(options))
            break;
        if (listedBefore(i)) {
            folder.folder = folders[i];
            folder.indexFile = folders[i] / "root.osgb";
            folder.status = FolderStatus::ListedTwice;
            folder.firstListing = folders[firstListings[i]];
        } else if (folder.error)
            folder.status = FolderStatus::Failed;
        else
            WriteFolder(*work, graph, origin, inspector, options, folder);
        if (options.folderDone)
            options.folderDone(folder);
        pool.report([&](ExportProgress& p) {
            p.foldersDone = i + 1;
            p.folder = folders[std::min(i + 1, folders.size() - 1)];
        });
    }
    report.cancelled =
        std::any_of(report.folders.begin(), report.folders.end(),
                    [](const FolderReport& f) { return f.status == FolderStatus::Cancelled; });
    return report;
}

} // namespace brindle
