#include "export/export_run.h"

#include "export/atomic_file.h"
#include "export/index_graph.h"
#include "export/index_writer.h"
#include "export/origin_report.h"
#include "export/regular_file.h"
#include "export/subfolder_scan.h"
#include "export/worker_process.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace brindle {
namespace fs = std::filesystem;
namespace {

bool IsCancelled(const ExportOptions& options) {
    return options.cancel && options.cancel->load();
}

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
// Only a link can lead there, so only links cost more than one look.
bool LeadsToAnAncestor(const fs::path& subfolder, const fs::path& canonicalFolder) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(subfolder, ec)) || canonicalFolder.empty())
        return false;
    const fs::path target = fs::canonical(subfolder, ec);
    if (ec)
        return false;
    for (fs::path p = canonicalFolder;; p = p.parent_path()) {
        if (p == target)
            return true;
        if (p == p.parent_path())
            return false;
    }
}

fs::path WorkerProgramFor(const ExportOptions& options) {
    return options.workerProgram.empty() ? DefaultWorkerProgram() : options.workerProgram;
}

std::string RequestText(const fs::path& path) {
#ifdef _WIN32
    return path.u8string();
#else
    return path.string();
#endif
}

std::uint64_t FileSizeOrZero(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

// A check of `file`, and how long to wait for it, with the bounds its size earns. The
// processor-time limit is a backstop for a worker whose run is gone; the deadline normally
// ends a hang first.
struct BoundedCheck {
    CheckRequest request;
    std::chrono::milliseconds deadline;
};

BoundedCheck MakeCheck(CheckKind kind, const fs::path& file, std::uint64_t size,
                       const ExportOptions& options) {
    BoundedCheck check;
    check.deadline = options.limits.deadlineFor(size);
    check.request.kind = kind;
    check.request.mode =
        options.fullValidation && kind == CheckKind::Tile ? ParseMode::Full : ParseMode::Fast;
    check.request.memoryCeiling = options.limits.memoryCeilingFor(size);
    check.request.cpuSeconds = 2.0 * static_cast<double>(check.deadline.count()) / 1000.0;
    check.request.path = RequestText(file);
    check.request.wantBound = kind == CheckKind::Tile && options.index == IndexKind::Paged;
    return check;
}

// One listed folder's candidate tiles and, once checked, their outcomes.
struct FolderWork {
    FileFacts ownIndex; // the listed folder's root.osgb, which no tile may be
    std::vector<fs::path> tiles;
    std::vector<LeftOutSubfolder> outcomes; // reason Valid for a tile that loads
    std::vector<TileBound> bounds;          // for a paged index
    std::size_t remaining = 0;
    std::optional<Problem> workersFailed;
};

LeftOutSubfolder Outcome(TileStatus status, std::error_code cause = {}, std::uint64_t limit = 0) {
    LeftOutSubfolder outcome;
    outcome.reason = status;
    outcome.cause = cause;
    outcome.limit = limit;
    return outcome;
}

LeftOutSubfolder OutcomeOfReply(const CheckReply& reply, const CheckRequest& request) {
    switch (reply.verdict) {
    case CheckVerdict::Loads:
    case CheckVerdict::IsIndex:
    case CheckVerdict::HoldsScene:
        return Outcome(TileStatus::Valid);
    case CheckVerdict::Missing:
        return Outcome(TileStatus::NoRootFile);
    case CheckVerdict::NotRegular:
        return Outcome(TileStatus::NotRegularFile);
    case CheckVerdict::Unreadable:
        return Outcome(TileStatus::LoadFailed, {reply.systemError, std::system_category()});
    case CheckVerdict::DoesNotLoad:
        break;
    case CheckVerdict::OutOfMemory:
        return Outcome(TileStatus::OutOfMemory, {}, request.memoryCeiling);
    }
    return Outcome(TileStatus::LoadFailed);
}

// Once a tile of this size or larger is seen, tiles are fetched from disk ahead of their
// check, this many rounds of workers ahead.
constexpr std::uint64_t kWorthReadingAhead = std::uint64_t{64} * 1024;
constexpr std::size_t kReadAheadRounds = 8;

// Checks the tiles of all folders on a pool of threads, each with a worker process of its
// own, in list order, so that folders with few tiles each still keep every worker busy. The
// run's thread adds folders as it scans them and waits for each in turn to write it.
class CheckPool {
public:
    CheckPool(const ExportOptions& options, const fs::path& program, ExportProgress& progress)
        : options_(options), progress_(progress) {
        const unsigned wanted = options.jobs ? options.jobs : std::thread::hardware_concurrency();
        for (unsigned i = 0; i < std::max(1u, wanted); ++i)
            workers_.push_back(std::make_unique<WorkerProcess>(program));
        // The workers start while the run's thread scans the folders.
        for (auto& worker : workers_)
            threads_.emplace_back([this, w = worker.get()] { work(*w); });
        threads_.emplace_back([this] { readAhead(); });
    }

    ~CheckPool() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            ending_ = true;
            changed_.notify_all();
            aheadWanted_.notify_all();
        }
        for (std::thread& thread : threads_)
            thread.join();
    }

    CheckPool(const CheckPool&) = delete;
    CheckPool& operator=(const CheckPool&) = delete;

    // Queues a folder's tiles as soon as it is scanned, so the workers need not wait for the
    // scan of a large folder to end.
    void add(FolderWork& folder) {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t t = 0; t < folder.tiles.size(); ++t)
            jobs_.push_back({&folder, t});
        progress_.subfolderCount += folder.tiles.size();
        changed_.notify_all();
    }

    // Every folder is queued: progress can count the whole run, and threads end once the
    // queue is done.
    void finish() {
        const std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        scanned_ = true;
        notify();
        changed_.notify_all();
        aheadWanted_.notify_all();
    }

    // Waits until `folder` is checked; false when the run was cancelled first.
    bool waitFor(const FolderWork& folder) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return folder.remaining == 0 || stopped_; });
        return folder.remaining == 0;
    }

    // Reports progress from the run's thread, in step with the pool's reports.
    void report(const std::function<void(ExportProgress&)>& update) {
        const std::lock_guard<std::mutex> lock(mutex_);
        update(progress_);
        notify();
    }

private:
    struct Job {
        FolderWork* folder;
        std::size_t tile;
    };

    std::optional<Job> next() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return next_ < jobs_.size() || closed_; });
        if (next_ == jobs_.size())
            return std::nullopt;
        if (readingAhead_)
            aheadWanted_.notify_one();
        return jobs_[next_++];
    }

    void work(WorkerProcess& worker) {
        worker.start();
        while (const std::optional<Job> job = next()) {
            if (IsCancelled(options_)) {
                stop();
                return;
            }
            FolderWork& folder = *job->folder;
            TileBound bound;
            LeftOutSubfolder outcome = check(worker, folder.tiles[job->tile], folder, bound);
            outcome.name = folder.tiles[job->tile].filename();
            const std::lock_guard<std::mutex> lock(mutex_);
            folder.outcomes[job->tile] = std::move(outcome);
            folder.bounds[job->tile] = bound;
            ++progress_.subfoldersDone;
            notify();
            // The run's thread waits for whole folders; waking it for every tile would take
            // a core from the checks for nothing.
            if (--folder.remaining == 0)
                done_.notify_all();
        }
    }

    // Asks the system to fetch the tiles of the next few rounds from disk while the workers
    // parse these, so that a cold run reads and parses at once. It has a thread of its own,
    // since a hint for a large file can wait on the disk. Blocks of small tiles do without:
    // their tiles come with the folder's first reads, and the look would cost more than it
    // saves.
    void readAhead() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            aheadWanted_.wait(lock, [&] {
                return ending_ || (closed_ && ahead_ >= jobs_.size()) ||
                       (readingAhead_ && ahead_ < jobs_.size() &&
                        ahead_ < next_ + kReadAheadRounds * workers_.size());
            });
            if (ending_ || ahead_ >= jobs_.size())
                return;
            ahead_ = std::max(ahead_, next_);
            const Job job = jobs_[ahead_++];
            const fs::path file = job.folder->tiles[job.tile] / "root.osgb";
            lock.unlock();
            RegularFile tile;
            std::error_code ignored;
            if (tile.open(file, ignored) == RegularFile::Opened::Yes)
                tile.adviseWillNeed();
            lock.lock();
        }
    }

    LeftOutSubfolder check(WorkerProcess& worker, const fs::path& tile, FolderWork& folder,
                           TileBound& bound) {
        const fs::path probe = tile / "root.osgb";
        std::error_code ec;
        const FileFacts facts = LookAt(probe, ec);
        if (ec)
            return Outcome(TileStatus::LoadFailed, ec);
        if (facts.type == fs::file_type::not_found)
            return Outcome(TileStatus::NoRootFile);
        if (facts.type != fs::file_type::regular)
            return Outcome(TileStatus::NotRegularFile);
        if (SameFile(facts, folder.ownIndex))
            return Outcome(TileStatus::LinksBack);
        if (facts.size >= kWorthReadingAhead && !readingAhead_) {
            const std::lock_guard<std::mutex> lock(mutex_);
            readingAhead_ = true;
            aheadWanted_.notify_one();
        }
        const BoundedCheck bounded = MakeCheck(CheckKind::Tile, probe, facts.size, options_);
        const std::chrono::milliseconds deadline = bounded.deadline;
        CheckReply reply;
        switch (worker.exchange(bounded.request, deadline, reply)) {
        case WorkerProcess::Outcome::Replied:
            bound = reply.bound;
            return OutcomeOfReply(reply, bounded.request);
        case WorkerProcess::Outcome::Crashed:
            return Outcome(TileStatus::ReaderCrashed);
        case WorkerProcess::Outcome::TimedOut:
            return Outcome(TileStatus::TimedOut, {}, static_cast<std::uint64_t>(deadline.count()));
        case WorkerProcess::Outcome::Unavailable:
            break;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        folder.workersFailed =
            Problem{ProblemKind::WorkersUnavailable, WorkerProgramPath(), worker.startError()};
        return Outcome(TileStatus::LoadFailed, worker.startError());
    }

    fs::path WorkerProgramPath() const { return WorkerProgramFor(options_); }

    void stop() {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        done_.notify_all();
    }

    void notify() const {
        if (options_.progress && scanned_)
            options_.progress(progress_);
    }

    const ExportOptions& options_;
    ExportProgress& progress_;
    std::vector<std::unique_ptr<WorkerProcess>> workers_;
    std::vector<Job> jobs_; // every tile queued so far, in list order
    std::size_t next_ = 0;  // the next job to hand out
    std::size_t ahead_ = 0; // the next job whose tile has not been read ahead
    std::mutex mutex_;
    std::condition_variable changed_;     // the queue changed
    std::condition_variable done_;        // a folder is done, or the run stopped
    std::condition_variable aheadWanted_; // a tile may be read ahead, or the pool ends
    bool closed_ = false;
    bool scanned_ = false;
    std::atomic<bool> readingAhead_{false}; // set once a tile worth reading ahead is seen
    bool ending_ = false;
    bool stopped_ = false;
    std::vector<std::thread> threads_;
};

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
    const fs::path canonicalFolder = fs::canonical(folder, ec);
    work.ownIndex = LookAt(report.indexFile, ec);
    for (const fs::path& subfolder : subfolders) {
        if (!IsSafeEntryName(subfolder.filename().string()))
            report.leftOut.push_back({subfolder.filename(), TileStatus::UnsafeName, {}, 0});
        else if (LeadsToAnAncestor(subfolder, canonicalFolder))
            report.leftOut.push_back({subfolder.filename(), TileStatus::LinksBack, {}, 0});
        else
            work.tiles.push_back(subfolder);
    }
    work.outcomes.resize(work.tiles.size());
    work.bounds.resize(work.tiles.size());
    work.remaining = work.tiles.size();
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
        if (outcome.reason != TileStatus::Valid) {
            report.leftOut.push_back(outcome);
            continue;
        }
        entries.push_back({EntryFor(outcome.name.string(), report.index), work.bounds[i]});
        report.entries.push_back(entries.back().name);
        if (report.index == IndexKind::Paged && entries.back().bound.kind != TileBound::Kind::Known)
            report.proxyLeaves.push_back(entries.back().name);
    }
    // Left-out subfolders in name order, whichever step left them out.
    std::stable_sort(report.leftOut.begin(), report.leftOut.end(),
                     [](const LeftOutSubfolder& a, const LeftOutSubfolder& b) {
                         return SubfolderNameLess(a.name.string(), b.name.string());
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

void WriteFolder(const FolderWork& work, IndexGraph& graph, OriginState& origin,
                 WorkerProcess& inspector, const ExportOptions& options, FolderReport& report) {
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
    report.error = WriteIndexFile(graph.root(), report.indexFile);
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

    ExportProgress progress;
    progress.folderCount = folders.size();
    progress.folder = folders.front();
    const fs::path program =
        options.workerProgram.empty() ? DefaultWorkerProgram() : options.workerProgram;
    std::vector<FolderWork> work(folders.size());
    CheckPool pool(options, program, progress);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        work[i] = ScanFolder(folders[i], report.folders[i]);
        pool.add(work[i]);
    }
    pool.finish();

    IndexGraph graph;
    OriginState origin;
    // Examines existing root.osgb files before they are replaced; started only if one exists.
    WorkerProcess inspector(program);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        FolderReport& folder = report.folders[i];
        if (!pool.waitFor(work[i]) || IsCancelled(options))
            break;
        if (folder.error)
            folder.status = FolderStatus::Failed;
        else
            WriteFolder(work[i], graph, origin, inspector, options, folder);
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
