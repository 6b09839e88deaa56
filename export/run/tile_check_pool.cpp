#include "export/run/tile_check_pool.h"

#include "export/existing_index/check_answer.h"
#include "export/system/physical_memory.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

using Outcome = TileOutcome;

constexpr std::uint64_t kMostRecheckMemory = std::uint64_t{4} << 30;

// Tells the system the tile's file will be read soon; where it takes no such hints, the file
// is not even opened.
void HintWillNeed(const fs::path& file) {
    if (!RegularFile::kTakesHints)
        return;
    RegularFile tile;
    if (const Result<RegularFile::Opened> opened = tile.open(file);
        opened && *opened == RegularFile::Opened::Yes)
        tile.adviseWillNeed();
}

// Tiles too small to be worth reading ahead are small enough to share a send.
BatchLimits BatchLimitsFor(const ReadAheadPolicy& readAhead) {
    BatchLimits limits;
    limits.smallTile = readAhead.worthReadingAhead;
    return limits;
}

// A request's bytes beside its path: the length and the fixed fields.
constexpr std::size_t kRequestFields = 32;

// The bytes a request takes in a send, to within its fixed fields.
std::size_t RequestBytes(const CheckRequest& request) {
    std::size_t bytes = request.path.size() + kRequestFields;
    for (const std::vector<std::string>* texts : {&request.inheritedSearch, &request.filesAbove})
        for (const std::string& text : *texts)
            bytes += text.size() + 2;
    return bytes;
}

} // namespace

std::uint64_t RecheckMemoryCeiling(std::uint64_t physicalMemory) {
    return std::min(physicalMemory / 2, kMostRecheckMemory);
}

TileCheckPool::TileCheckPool(CheckSettings settings, Look factsLook, ExportProgress& progress,
                             std::function<void(const ExportProgress&)> told,
                             const WorkerStartCalls& startCalls, ReadAheadHint hint)
    : settings_(std::move(settings)), program_(settings_.program()),
      batchLimits_(BatchLimitsFor(settings_.readAhead)),
      recheckCeiling_(RecheckMemoryCeiling(PhysicalMemoryBytes())), factsLook_(factsLook),
      progress_(progress), told_(std::move(told)), hint_(std::move(hint)), queue_(0) {
    for (unsigned i = 0; i < settings_.workerCount(); ++i)
        workers_.push_back(std::make_unique<WorkerProcess>(program_, startCalls));
    queue_ = TileCheckQueue(settings_.readAhead.rounds * workers_.size());
    // The workers' threads wait for tiles, or for startWorkers(), to start their workers.
    workingThreads_ = workers_.size();
    for (auto& worker : workers_)
        threads_.emplace_back([this, w = worker.get()] {
            work(*w);
            const std::lock_guard<std::mutex> lock(mutex_);
            --workingThreads_;
            handOvers_.notify_all();
        });
    threads_.emplace_back([this] { readAhead(); });
    threads_.emplace_back([this] { handOverSummaries(); });
}

TileCheckPool::~TileCheckPool() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
        changed_.notify_all();
        aheadWanted_.notify_all();
        gate_.notify_all();
        handOvers_.notify_all();
    }
    for (std::thread& thread : threads_)
        thread.join();
}

std::size_t TileCheckPool::add(FolderWork folder) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t handle = folders_.size();
    const std::size_t tiles = folder.tiles.size();
    folder.remaining = tiles;
    workersWanted_ = workersWanted_ || tiles > 0;
    folders_.push_back({std::move(folder), false});
    // A folder added after finish() is never checked: it is handed back as it came.
    if (!queue_.add(handle, tiles)) {
        folders_.back().work.remaining = 0;
        done_.notify_all();
        return handle;
    }
    progress_.subfolderCount += tiles;
    changed_.notify_all();
    aheadWanted_.notify_one();
    return handle;
}

void TileCheckPool::finish() {
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.close();
    scanned_ = true;
    notify();
    changed_.notify_all();
    aheadWanted_.notify_all();
}

void TileCheckPool::startWorkers() {
    const std::lock_guard<std::mutex> lock(mutex_);
    workersWanted_ = true;
    changed_.notify_all();
}

bool TileCheckPool::workWanted() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return workersWanted_ || ending_ || queue_.closed(); });
    return workersWanted_ && !ending_;
}

std::optional<FolderWork> TileCheckPool::waitFor(std::size_t folder) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (folder >= folders_.size())
        return std::nullopt;
    Folder& checked = folders_[folder];
    done_.wait(lock, [&] { return checked.work.remaining == 0 || stopped_; });
    if (checked.work.remaining != 0 || checked.handedBack)
        return std::nullopt;
    checked.handedBack = true;
    return std::move(checked.work);
}

std::optional<FolderWork> TileCheckPool::takeChecked(std::size_t folder) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (folder >= folders_.size() || folders_[folder].handedBack)
        return std::nullopt;
    const FolderWork& work = folders_[folder].work;
    if (std::none_of(work.tiles.begin(), work.tiles.end(),
                     [](const TileCheck& tile) { return tile.result.checked; }))
        return std::nullopt;
    folders_[folder].handedBack = true;
    return work;
}

void TileCheckPool::report(const std::function<void(ExportProgress&)>& update) {
    const std::lock_guard<std::mutex> lock(mutex_);
    update(progress_);
    notify();
}

std::vector<TileCheckPool::Task> TileCheckPool::next(std::size_t most) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queue_.canTake() || ending_; });
    if (ending_)
        return {};
    const std::vector<TileCheckQueue::Job> jobs =
        queue_.take(BatchTake(queue_.waiting(), workers_.size(), most));
    if (jobs.empty())
        return {};
    if (queue_.canReadAhead())
        aheadWanted_.notify_one();
    // Holds back new checks while one runs alone.
    gate_.wait(lock, [&] { return !checkingAlone_ || ending_; });
    if (ending_)
        return {};
    ++checking_;
    std::vector<Task> tasks;
    tasks.reserve(jobs.size());
    for (const TileCheckQueue::Job& job : jobs) {
        const FolderWork& folder = folders_[job.folder].work;
        const TileCheck& tile = folder.tiles[job.tile];
        tasks.push_back(Task{job, &tile, tile.result.facts, folder.ownIndex, &folder});
    }
    return tasks;
}

void TileCheckPool::work(WorkerProcess& worker) {
    if (!workWanted())
        return;
    // A worker that cannot start says so at its first check.
    (void)worker.start();
    // Tiles are taken one at a time until one turns out small, and several at once while
    // they stay small.
    bool small = false;
    for (;;) {
        std::vector<Task> tasks = next(small ? batchLimits_.mostTiles : 1);
        if (tasks.empty())
            return;
        std::vector<Checked> checked;
        if (!settings_.cancelled())
            checked = check(worker, tasks, small);
        if (!endRound())
            return;
        // A folder waits for its summaries to be taken before it can be handed back.
        const bool listened = std::any_of(tasks.begin(), tasks.end(), [](const Task& task) {
            return task.folder->checkListener != nullptr;
        });
        if (listened) {
            if (!queueHandOver(std::move(tasks), std::move(checked)))
                return;
            continue;
        }
        if (!record(tasks, checked))
            return;
    }
}

bool TileCheckPool::queueHandOver(std::vector<Task> tasks, std::vector<Checked> checked) {
    // Each waiting round holds its summaries: a few per worker keep the workers busy through
    // a slow hand-over without holding many.
    const std::size_t most = 2 * workers_.size();
    std::unique_lock<std::mutex> lock(mutex_);
    handOvers_.wait(lock, [&] { return waitingHandOvers_.size() < most || ending_; });
    if (ending_)
        return false;
    waitingHandOvers_.push_back(HandOver{std::move(tasks), std::move(checked)});
    handOvers_.notify_all();
    return true;
}

void TileCheckPool::handOverSummaries() {
    for (;;) {
        HandOver handOver;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            handOvers_.wait(lock, [&] {
                return ending_ || !waitingHandOvers_.empty() || workingThreads_ == 0;
            });
            if (ending_ || waitingHandOvers_.empty())
                return;
            handOver = std::move(waitingHandOvers_.front());
            waitingHandOvers_.pop_front();
            handOvers_.notify_all();
        }
        tellListeners(handOver.tasks, handOver.checked);
        if (!record(handOver.tasks, handOver.checked))
            return;
    }
}

bool TileCheckPool::endRound() {
    const bool cancelled = settings_.cancelled();
    if (cancelled)
        stop();
    const std::lock_guard<std::mutex> lock(mutex_);
    --checking_;
    gate_.notify_all();
    return !cancelled && !ending_;
}

bool TileCheckPool::record(const std::vector<Task>& tasks, std::vector<Checked>& checked) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ending_)
        return false;
    bool folderDone = false;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const TileCheckQueue::Job& job = tasks[i].job;
        FolderWork& folder = folders_[job.folder].work;
        TileResult& result = folder.tiles[job.tile].result;
        result = std::move(checked[i].result);
        result.checked = true;
        if (checked[i].workersFailed)
            folder.workersFailed = std::move(checked[i].workersFailed);
        ++progress_.subfoldersDone;
        folderDone |= --folder.remaining == 0;
    }
    notify();
    // The run's thread waits for whole folders; waking it for every tile would take
    // a core from the checks for nothing.
    if (folderDone)
        done_.notify_all();
    return true;
}

bool TileCheckPool::halted() {
    if (settings_.cancelled())
        return true;
    const std::lock_guard<std::mutex> lock(mutex_);
    return ending_;
}

void TileCheckPool::readAhead() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        aheadWanted_.wait(
            lock, [&] { return ending_ || queue_.doneReadingAhead() || queue_.canReadAhead(); });
        if (ending_)
            return;
        const std::optional<TileCheckQueue::Job> job = queue_.takeAhead();
        if (!job) {
            if (queue_.doneReadingAhead())
                return;
            continue;
        }
        const Folder& folder = folders_[job->folder];
        // A folder handed back has been checked whole; there is nothing left to fetch.
        if (folder.handedBack)
            continue;
        const fs::path file = folder.work.tiles[job->tile].root();
        lock.unlock();
        if (hint_)
            hint_(file);
        else
            HintWillNeed(file);
        lock.lock();
    }
}

std::optional<FileFacts> TileCheckPool::lookAtRoot(const Task& task, const fs::path& probe,
                                                   Checked& checked) const {
    // The scan looked at the file a moment ago, with everything asked here: a second look
    // would cost a system call that walks the whole path, for each tile. Stamps from that
    // look are as good for the cache, being older than the check.
    const bool scanTold = task.scanned.type != fs::file_type::none &&
                          (factsLook_ == Look::TypeAndSize || task.scanned.inode != 0);
    const Result<FileFacts> looked = scanTold ? task.scanned : LookAt(probe, factsLook_);
    const FileFacts facts = looked.value_or({});
    checked.result.facts = facts;
    if (!looked) {
        checked.result.outcome = Outcome(TileStatus::LoadFailed, looked.error());
        return std::nullopt;
    }
    if (facts.type == fs::file_type::not_found) {
        checked.result.outcome = Outcome(TileStatus::NoRootFile);
        return std::nullopt;
    }
    if (facts.type != fs::file_type::regular) {
        checked.result.outcome = Outcome(TileStatus::NotRegularFile);
        return std::nullopt;
    }
    // Only a file the size of the folder's own index can be that index; which file it is costs
    // a second look on some systems.
    if (task.ownIndex.inode != 0 && facts.size == task.ownIndex.size &&
        SameFile(LookAt(probe).value_or({}), task.ownIndex)) {
        checked.result.outcome = Outcome(TileStatus::LinksBack);
        return std::nullopt;
    }
    return facts;
}

std::optional<BoundedCheck> TileCheckPool::prepare(const Task& task, Checked& checked,
                                                   std::uint64_t& size) {
    const fs::path probe = task.tile->root();
    checked.result.checkBegan = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
    const std::optional<FileFacts> looked = lookAtRoot(task, probe, checked);
    if (!looked)
        return std::nullopt;
    const FileFacts& facts = *looked;
    if (facts.size >= settings_.readAhead.worthReadingAhead) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!queue_.readingAhead()) {
            queue_.startReadingAhead();
            aheadWanted_.notify_one();
        }
    }
    size = facts.size;
    BoundedCheck bounded = MakeCheck(CheckKind::Tile, probe, facts.size, settings_);
    bounded.request.wantSummary = task.folder->checkListener != nullptr;
    if (task.tile->levelFile) {
        bounded.request.mode = ParseMode::Fast;
        return bounded;
    }
    bounded.request.inheritedSearch = task.folder->searchAbove;
    bounded.request.filesAbove = task.folder->indexesAbove;
    return bounded;
}

std::vector<TileCheckPool::Checked>
TileCheckPool::check(WorkerProcess& worker, const std::vector<Task>& tasks, bool& small) {
    std::vector<Checked> checked(tasks.size());
    std::vector<Pending> pending;
    std::vector<BatchItem> items;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        std::uint64_t size = 0;
        if (std::optional<BoundedCheck> bounded = prepare(tasks[i], checked[i], size)) {
            items.push_back({size, RequestBytes(bounded->request)});
            pending.push_back({i, std::move(*bounded)});
            small = size < batchLimits_.smallTile;
        }
    }
    for (std::size_t first = 0; first < pending.size();) {
        const std::size_t count = BatchRun(items, first, batchLimits_);
        if (count == 1) {
            const Pending& one = pending[first];
            checked[one.task].result.outcome =
                exchange(worker, one.check.request, one.check.deadline, checked[one.task]);
        } else {
            checkTogether(worker, pending, first, count, checked);
        }
        first += count;
    }
    if (halted())
        return checked;
    for (const Pending& one : pending)
        recheck(worker, one.check, checked[one.task]);
    return checked;
}

void TileCheckPool::checkTogether(WorkerProcess& worker, const std::vector<Pending>& checks,
                                  std::size_t first, std::size_t count,
                                  std::vector<Checked>& checked) {
    const std::size_t end = first + count;
    std::size_t next = first;
    // Rounds of one send each: a worker that retires after a reply leaves the rest of the
    // run to its successor.
    while (end - next > 1) {
        std::vector<CheckRequest> requests;
        for (std::size_t i = next; i < end; ++i)
            requests.push_back(checks[i].check.request);
        if (const auto sent = worker.send(requests, checks[next].check.deadline); !sent || *sent)
            break;
        bool failed = false;
        while (next < end) {
            if (halted())
                return;
            const Pending& one = checks[next];
            CheckReply reply;
            // Each reply is due one deadline after the one before it, and the worker may have
            // held it back while it checked the next.
            if (worker.receive(one.check.deadline + kMostReplyHold, reply) !=
                WorkerProcess::Outcome::Replied) {
                failed = true;
                break;
            }
            checked[one.task].result.outcome =
                takeReply(reply, one.check.request, checked[one.task]);
            ++next;
            if (reply.retiring)
                break;
        }
        if (failed)
            break;
    }
    // What is left is checked one tile at a time: after a crash or an overrun, the tile to
    // blame is then the one whose own check fails.
    for (; next < end; ++next) {
        if (halted())
            return;
        const Pending& one = checks[next];
        checked[one.task].result.outcome =
            exchange(worker, one.check.request, one.check.deadline, checked[one.task]);
    }
}

void TileCheckPool::tellListeners(const std::vector<Task>& tasks, std::vector<Checked>& checked) {
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        // The folder stays where it is while any of its tiles is in hand.
        const std::shared_ptr<TileCheckListener>& listener = tasks[i].folder->checkListener;
        if (!listener)
            continue;
        TileResult& result = checked[i].result;
        result.checked = true;
        listener->tileChecked(tasks[i].tile->id, result);
        // The listener has taken what it keeps of the summary: the folder's record holds none.
        result.summary.reset();
    }
}

void TileCheckPool::recheck(WorkerProcess& worker, const BoundedCheck& bounded, Checked& checked) {
    // A ceiling sized for the file can be too low for a valid tile that unpacks to much more
    // (a small compressed file holding large textures). Before such a tile is left out it is
    // checked once more under the most any one check may take, with no other check beside it
    // so that the pool as a whole stays within that. A file whose size alone earned the
    // highest ceiling the limits give is no such tile, and a second load of it would only
    // cost its size again.
    if (checked.result.outcome.reason != TileStatus::OutOfMemory ||
        bounded.request.memoryCeiling >= settings_.limits.memoryMax ||
        recheckCeiling_ <= bounded.request.memoryCeiling)
        return;
    // One request for as much as the second ceiling allows, or more, would fail again at the
    // same place of the same bytes: the tile claims more than any check may take (a damaged
    // count, typically), and is told so without a second load, which would hold back every
    // other check while it ran alone.
    if (checked.failedAllocation >= recheckCeiling_) {
        checked.result.outcome.limit = recheckCeiling_;
        return;
    }
    CheckRequest underRecheckCeiling = bounded.request;
    underRecheckCeiling.memoryCeiling = recheckCeiling_;
    alone([&] {
        checked.result.rechecked = true;
        checked.result.outcome = exchange(worker, underRecheckCeiling, bounded.deadline, checked);
    });
}

TileOutcome TileCheckPool::takeReply(const CheckReply& reply, const CheckRequest& request,
                                     Checked& checked) {
    checked.result.bound = reply.bound;
    checked.result.followsOthers = reply.followsOthers;
    checked.result.indexScene = reply.indexScene;
    checked.failedAllocation = std::uint64_t{reply.failedAllocationMiB} << 20;
    checked.result.summaryState = reply.summaryState;
    checked.result.summary = reply.summary;
    return OutcomeOfReply(reply, request);
}

TileOutcome TileCheckPool::exchange(WorkerProcess& worker, const CheckRequest& request,
                                    std::chrono::milliseconds deadline, Checked& checked) {
    CheckReply reply;
    const CheckAnswer answer = AnswerOf({CheckAsker::Tile, request, deadline, {}, program_},
                                        worker.exchange(request, deadline, reply), reply);
    if (answer.problem)
        checked.workersFailed = answer.problem;
    if (answer.replied)
        return takeReply(reply, request, checked);
    return answer.tile;
}

bool TileCheckPool::alone(const std::function<void()>& check) {
    std::unique_lock<std::mutex> lock(mutex_);
    // This check's own place is given up while it waits, so that two that wait at once do
    // not wait for each other; it is taken back before returning, to be given up as usual.
    --checking_;
    gate_.notify_all();
    gate_.wait(lock, [&] { return !checkingAlone_ || ending_; });
    if (ending_) {
        ++checking_;
        return false;
    }
    checkingAlone_ = true;
    gate_.wait(lock, [&] { return checking_ == 0 || ending_; });
    ++checking_;
    const bool runs = !ending_;
    if (runs) {
        lock.unlock();
        check();
        lock.lock();
    }
    checkingAlone_ = false;
    gate_.notify_all();
    return runs;
}

void TileCheckPool::stop() {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    done_.notify_all();
}

void TileCheckPool::notify() const {
    if (told_ && scanned_)
        told_(progress_);
}
} // namespace brindle
