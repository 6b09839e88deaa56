#include "export/tile_check_pool.h"

#include <algorithm>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

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

} // namespace

fs::path WorkerProgramFor(const ExportOptions& options) {
    return options.workerProgram.empty() ? DefaultWorkerProgram() : options.workerProgram;
}

std::uint64_t FileSizeOrZero(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

BoundedCheck MakeCheck(CheckKind kind, const fs::path& file, std::uint64_t size,
                       const ExportOptions& options) {
    BoundedCheck check;
    check.deadline = options.limits.deadlineFor(size);
    check.request.kind = kind;
    check.request.mode =
        options.fullValidation && kind == CheckKind::Tile ? ParseMode::Full : ParseMode::Fast;
    check.request.memoryCeiling = options.limits.memoryCeilingFor(size);
    check.request.cpuSeconds = 2.0 * static_cast<double>(check.deadline.count()) / 1000.0;
    check.request.path = RequestPathText(file);
    check.request.wantBound = kind == CheckKind::Tile && options.index == IndexKind::Paged;
    return check;
}

TileCheckPool::TileCheckPool(const ExportOptions& options, const fs::path& program,
                             ExportProgress& progress)
    : options_(options), progress_(progress) {
    const unsigned wanted = options.jobs ? options.jobs : std::thread::hardware_concurrency();
    for (unsigned i = 0; i < std::max(1u, wanted); ++i)
        workers_.push_back(std::make_unique<WorkerProcess>(program));
    // The workers start while the run's thread scans the folders.
    for (auto& worker : workers_)
        threads_.emplace_back([this, w = worker.get()] { work(*w); });
    threads_.emplace_back([this] { readAhead(); });
}

TileCheckPool::~TileCheckPool() {
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

void TileCheckPool::add(FolderWork& folder) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t t = 0; t < folder.tiles.size(); ++t)
        jobs_.push_back({&folder, t});
    progress_.subfolderCount += folder.tiles.size();
    changed_.notify_all();
}

void TileCheckPool::finish() {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    scanned_ = true;
    notify();
    changed_.notify_all();
    aheadWanted_.notify_all();
}

bool TileCheckPool::waitFor(const FolderWork& folder) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return folder.remaining == 0 || stopped_; });
    return folder.remaining == 0;
}

void TileCheckPool::report(const std::function<void(ExportProgress&)>& update) {
    const std::lock_guard<std::mutex> lock(mutex_);
    update(progress_);
    notify();
}

std::optional<TileCheckPool::Job> TileCheckPool::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return next_ < jobs_.size() || closed_; });
    if (next_ == jobs_.size())
        return std::nullopt;
    if (readingAhead_)
        aheadWanted_.notify_one();
    return jobs_[next_++];
}

void TileCheckPool::work(WorkerProcess& worker) {
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

void TileCheckPool::readAhead() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        aheadWanted_.wait(lock, [&] {
            return ending_ || (closed_ && ahead_ >= jobs_.size()) ||
                   (readingAhead_ && ahead_ < jobs_.size() &&
                    ahead_ < next_ + kReadAheadRounds * workers_.size());
        });
        if (ending_ || ahead_ >= jobs_.size())
            return;
        // The workers may have taken every job since the wait; then there is none to read.
        ahead_ = std::max(ahead_, next_);
        if (ahead_ >= jobs_.size())
            continue;
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

LeftOutSubfolder TileCheckPool::check(WorkerProcess& worker, const fs::path& tile,
                                      FolderWork& folder, TileBound& bound) {
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

void TileCheckPool::stop() {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    done_.notify_all();
}

void TileCheckPool::notify() const {
    if (options_.progress && scanned_)
        options_.progress(progress_);
}
} // namespace brindle
