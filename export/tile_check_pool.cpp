#include "export/tile_check_pool.h"

#include <algorithm>
#include <deque>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

std::string RequestText(const fs::path& path) {
#ifdef _WIN32
    return path.u8string();
#else
    return path.string();
#endif
}

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
// Requests a worker holds at once: the one it parses and the next.
constexpr std::size_t kInFlight = 2;

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
    check.request.path = RequestText(file);
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

// Keeps the next request waiting in the worker while it parses the current one, so that it
// goes straight on while this thread records the reply: with small tiles the hand-over costs
// as much as the parse.
void TileCheckPool::work(WorkerProcess& worker) {
    worker.start();
    std::deque<InFlight> inFlight;
    bool more = true;
    for (;;) {
        while (more && inFlight.size() < kInFlight) {
            const std::optional<Job> job = next();
            if (!job) {
                more = false;
            } else if (IsCancelled(options_)) {
                stop();
                return;
            } else if (std::optional<BoundedCheck> check = prepare(*job)) {
                worker.post(check->request);
                inFlight.push_back({*job, std::move(*check)});
            }
        }
        if (inFlight.empty())
            return;
        const InFlight current = std::move(inFlight.front());
        inFlight.pop_front();
        TileBound bound;
        const LeftOutSubfolder outcome = collect(worker, current, bound);
        record(current.job, outcome, bound);
        // The worker ended with that tile, and what was posted after it went with it.
        if (worker.posted() < inFlight.size())
            for (const InFlight& waiting : inFlight)
                worker.post(waiting.check.request);
    }
}

void TileCheckPool::record(const Job& job, LeftOutSubfolder outcome, const TileBound& bound) {
    FolderWork& folder = *job.folder;
    outcome.name = folder.tiles[job.tile].filename();
    const std::lock_guard<std::mutex> lock(mutex_);
    folder.outcomes[job.tile] = std::move(outcome);
    folder.bounds[job.tile] = bound;
    ++progress_.subfoldersDone;
    notify();
    // The run's thread waits for whole folders; waking it for every tile would take a core
    // from the checks for nothing.
    if (--folder.remaining == 0)
        done_.notify_all();
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

// Looks at the tile's root.osgb; the check the worker must make of it, or nothing when the
// look has decided already (and the outcome is recorded).
std::optional<BoundedCheck> TileCheckPool::prepare(const Job& job) {
    FolderWork& folder = *job.folder;
    const fs::path probe = folder.tiles[job.tile] / "root.osgb";
    std::error_code ec;
    const FileFacts facts = LookAt(probe, ec);
    std::optional<LeftOutSubfolder> decided;
    if (ec)
        decided = Outcome(TileStatus::LoadFailed, ec);
    else if (facts.type == fs::file_type::not_found)
        decided = Outcome(TileStatus::NoRootFile);
    else if (facts.type != fs::file_type::regular)
        decided = Outcome(TileStatus::NotRegularFile);
    else if (SameFile(facts, folder.ownIndex))
        decided = Outcome(TileStatus::LinksBack);
    if (decided) {
        record(job, *decided, {});
        return std::nullopt;
    }
    if (facts.size >= kWorthReadingAhead && !readingAhead_) {
        const std::lock_guard<std::mutex> lock(mutex_);
        readingAhead_ = true;
        aheadWanted_.notify_one();
    }
    return MakeCheck(CheckKind::Tile, probe, facts.size, options_);
}

LeftOutSubfolder TileCheckPool::collect(WorkerProcess& worker, const InFlight& inFlight,
                                        TileBound& bound) {
    const std::chrono::milliseconds deadline = inFlight.check.deadline;
    CheckReply reply;
    switch (worker.collect(deadline, reply)) {
    case WorkerProcess::Outcome::Replied:
        bound = reply.bound;
        return OutcomeOfReply(reply, inFlight.check.request);
    case WorkerProcess::Outcome::Crashed:
        return Outcome(TileStatus::ReaderCrashed);
    case WorkerProcess::Outcome::TimedOut:
        return Outcome(TileStatus::TimedOut, {}, static_cast<std::uint64_t>(deadline.count()));
    case WorkerProcess::Outcome::Unavailable:
        break;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    inFlight.job.folder->workersFailed =
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
