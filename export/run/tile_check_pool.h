#pragma once

#include "export/export_progress.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/isolation/check_outcome.h"
#include "export/isolation/check_settings.h"
#include "export/isolation/tile_check_queue.h"
#include "export/isolation/worker_process.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/tile/tile_check.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace brindle {

// The ceiling a tile that ran out of memory is checked under once more, alone: half the
// machine's memory, at most 4 GB; 0 when the machine's memory is not known.
std::uint64_t RecheckMemoryCeiling(std::uint64_t physicalMemory);

// Checks the tiles of all folders on a pool of threads, each with a worker process of its
// own, in list order, so that folders with few tiles each still keep every worker busy. The
// run's thread adds folders as it scans them and takes each back, checked, in turn to write it.
class TileCheckPool {
public:
    // `progress` is the run's, which `told` is handed after each change the pool makes to it;
    // `factsLook` is how much the look at each tile's root asks of the system; `hint` tells the
    // system of the tiles read ahead (the system's own hint when empty).
    TileCheckPool(CheckSettings settings, Look factsLook, ExportProgress& progress,
                  std::function<void(const ExportProgress&)> told,
                  const WorkerStartCalls& startCalls = SystemWorkerStartCalls(),
                  ReadAheadHint hint = {});

    // Stops handing out tiles and ends the workers once their checks in hand are done, without
    // waiting for the rest of the queue.
    ~TileCheckPool();

    TileCheckPool(const TileCheckPool&) = delete;
    TileCheckPool& operator=(const TileCheckPool&) = delete;

    // Queues a folder's tiles as soon as it is scanned, so the workers need not wait for the
    // scan of a large folder to end. Returns the folder's handle: 0 for the first added, and
    // one more for each after it.
    std::size_t add(FolderWork folder);

    // Every folder is queued: progress can count the whole run, and threads end once the
    // queue is done.
    void finish();

    // Starts the workers now, before any tile is queued, as there will be tiles to check.
    // Without it they start with the first folder added that has tiles, and a run with none
    // to check starts none.
    void startWorkers();

    // Waits until the folder is checked and hands it back; nothing when the run was cancelled
    // first, or when it was handed back before.
    std::optional<FolderWork> waitFor(std::size_t folder);

    // The folder as far as it is checked, for a run cancelled before it was done (each tile's
    // `result.checked` says whether it has its outcome); nothing when no tile of it was checked, or
    // when it was handed back. A copy: checks still in hand may hold on to the folder's paths.
    std::optional<FolderWork> takeChecked(std::size_t folder);

    // Reports progress from the run's thread, in step with the pool's reports.
    void report(const std::function<void(ExportProgress&)>& update);

private:
    // One tile to check. Its paths are its folder's own: a folder's work stays where it is
    // until every one of its tiles is done, and only this task's check writes its result.
    struct Task {
        TileCheckQueue::Job job;
        const TileCheck* tile;
        FileFacts scanned; // what the scan's look at the root found, if it took one
        FileFacts ownIndex;
        const FolderWork* folder; // for how a viewer comes to the tile
    };

    struct Folder {
        FolderWork work;
        bool handedBack = false;
    };

    struct Checked {
        TileResult result;
        std::uint64_t failedAllocation = 0; // out of memory: the one request the heap refused
        std::optional<Problem> workersFailed;
    };

    // Up to `most` consecutive tiles for one worker, fewer near the queue's end (see
    // BatchTake); none once the pool ends or the queue is done.
    std::vector<Task> next(std::size_t most);

    // Waits until a worker is wanted; false when the pool ends, or its queue without any tile.
    bool workWanted();

    void work(WorkerProcess& worker);
    // Ends a round of checks in hand; false when the worker is to stop: the run was cancelled
    // (which stops the pool) or the pool ends.
    bool endRound();
    // Puts the results of a round into their folders and wakes whoever waits for them; false
    // when the pool ends.
    bool record(const std::vector<Task>& tasks, std::vector<Checked>& checked);

    // True once the run is cancelled or the pool ends: the checks in hand are abandoned.
    bool halted();

    // Asks the system to fetch the tiles of the next few rounds from disk while the workers
    // parse these, so that a cold run reads and parses at once. It has a thread of its own,
    // since a hint for a large file can wait on the disk. Blocks of small tiles do without:
    // their tiles come with the folder's first reads, and the look would cost more than it
    // saves.
    void readAhead();

    // The facts of the tile's root file, `probe`, when the look leaves the tile to a worker;
    // otherwise (missing, not a regular file, the folder's own index) its outcome is set in
    // `checked`.
    std::optional<FileFacts> lookAtRoot(const Task& task, const std::filesystem::path& probe,
                                        Checked& checked) const;
    // A tile the run's own look settles gets its outcome in `checked`; any other gets the
    // check a worker is to make of it.
    std::optional<BoundedCheck> prepare(const Task& task, Checked& checked, std::uint64_t& size);
    // Checks the tiles taken at once. A run of small tiles goes to the worker in one send;
    // when the worker crashes or overruns, the replies it gave stand and the rest of the run
    // is checked one tile at a time, so a hostile tile costs only itself. `small` says
    // whether the last tile with a check was small.
    std::vector<Checked> check(WorkerProcess& worker, const std::vector<Task>& tasks, bool& small);
    // Checks `count` tiles from `first` of `checks` with one send, as far as the worker lets.
    struct Pending {
        std::size_t task; // its place among the tasks taken
        BoundedCheck check;
    };
    void checkTogether(WorkerProcess& worker, const std::vector<Pending>& checks, std::size_t first,
                       std::size_t count, std::vector<Checked>& checked);
    // Tells the check listeners of the tiles' folders of the tiles just checked, without the
    // lock, and hands them the tiles' summaries.
    static void tellListeners(const std::vector<Task>& tasks, std::vector<Checked>& checked);

    // Checks whose listeners wait to be told. A listener can be slow to take a tile (an
    // overview builds its levels as the summaries come), and the worker that checked it would
    // stand idle meanwhile: it checks its next tile while another thread tells these.
    struct HandOver {
        std::vector<Task> tasks;
        std::vector<Checked> checked;
    };
    // Queues the checks for handing over, waiting while the queue is full; false when the pool
    // ends first.
    bool queueHandOver(std::vector<Task> tasks, std::vector<Checked> checked);
    // The hand-over thread: tells the listeners of each queued round, then records it, until
    // the workers' threads have all ended and nothing is left, or the pool ends.
    void handOverSummaries();
    // Checks a tile that ran out of memory once more, alone, when a higher ceiling may let it
    // load.
    void recheck(WorkerProcess& worker, const BoundedCheck& bounded, Checked& checked);
    // The facts a worker's reply gives of a tile, and the outcome it makes of it.
    static TileOutcome takeReply(const CheckReply& reply, const CheckRequest& request,
                                 Checked& checked);
    TileOutcome exchange(WorkerProcess& worker, const CheckRequest& request,
                         std::chrono::milliseconds deadline, Checked& checked);

    // Runs `check` with no other check of the pool running: waits for those in hand to end,
    // and holds back the others until it is done. False, without running it, when the pool
    // is ending.
    bool alone(const std::function<void()>& check);

    void stop();

    void notify() const;

    const CheckSettings settings_;
    const std::filesystem::path program_;
    const BatchLimits batchLimits_;
    const std::uint64_t recheckCeiling_;
    // A verdict cache keys its entries by which file a tile is; without one the look need not
    // ask, which on some systems costs many times the rest of it.
    const Look factsLook_;
    ExportProgress& progress_;
    const std::function<void(const ExportProgress&)> told_;
    const ReadAheadHint hint_;
    std::vector<std::unique_ptr<WorkerProcess>> workers_;
    std::deque<Folder> folders_; // every folder added, by handle
    TileCheckQueue queue_;
    std::mutex mutex_;
    std::condition_variable changed_;     // the queue changed
    std::condition_variable done_;        // a folder is done, or the run stopped
    std::condition_variable aheadWanted_; // a tile may be read ahead, or the pool ends
    std::condition_variable gate_;        // a check ended, or one that runs alone did
    std::condition_variable handOvers_;   // a hand-over was queued or taken, or a worker ended
    std::deque<HandOver> waitingHandOvers_;
    std::size_t workingThreads_ = 0; // the workers' threads that have not ended
    std::size_t checking_ = 0;       // checks running now
    bool checkingAlone_ = false;     // a check runs alone, or waits to
    bool scanned_ = false;
    bool workersWanted_ = false;
    bool ending_ = false;
    bool stopped_ = false;
    std::vector<std::thread> threads_;
};

} // namespace brindle
