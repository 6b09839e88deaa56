#pragma once

#include "export/export_run.h"
#include "export/regular_file.h"
#include "export/tile_check_protocol.h"
#include "export/worker_process.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace brindle {

inline bool IsCancelled(const ExportOptions& options) {
    return options.cancel && options.cancel->load();
}

// The worker program the run starts: the one named in the options, or the one installed
// beside this program.
std::filesystem::path WorkerProgramFor(const ExportOptions& options);

std::uint64_t FileSizeOrZero(const std::filesystem::path& file);

// A check of `file`, and how long to wait for it, with the bounds its size earns. The
// processor-time limit is a backstop for a worker whose run is gone; the deadline normally
// ends a hang first.
struct BoundedCheck {
    CheckRequest request;
    std::chrono::milliseconds deadline;
};

BoundedCheck MakeCheck(CheckKind kind, const std::filesystem::path& file, std::uint64_t size,
                       const ExportOptions& options);

// One listed folder's candidate tiles and, once checked, their outcomes.
struct FolderWork {
    FileFacts ownIndex; // the listed folder's root.osgb, which no tile may be
    std::vector<std::filesystem::path> tiles;
    std::vector<std::filesystem::path> roots; // per tile, the file its scene starts from
    std::vector<LeftOutSubfolder> outcomes;   // reason Valid for a tile that loads
    std::vector<TileBound> bounds;            // for a paged index
    std::size_t remaining = 0;
    std::optional<Problem> workersFailed;
};

// Checks the tiles of all folders on a pool of threads, each with a worker process of its
// own, in list order, so that folders with few tiles each still keep every worker busy. The
// run's thread adds folders as it scans them and waits for each in turn to write it.
class TileCheckPool {
public:
    TileCheckPool(const ExportOptions& options, const std::filesystem::path& program,
                  ExportProgress& progress);

    ~TileCheckPool();

    TileCheckPool(const TileCheckPool&) = delete;
    TileCheckPool& operator=(const TileCheckPool&) = delete;

    // Queues a folder's tiles as soon as it is scanned, so the workers need not wait for the
    // scan of a large folder to end.
    void add(FolderWork& folder);

    // Every folder is queued: progress can count the whole run, and threads end once the
    // queue is done.
    void finish();

    // Waits until `folder` is checked; false when the run was cancelled first.
    bool waitFor(const FolderWork& folder);

    // Reports progress from the run's thread, in step with the pool's reports.
    void report(const std::function<void(ExportProgress&)>& update);

private:
    struct Job {
        FolderWork* folder;
        std::size_t tile;
    };

    std::optional<Job> next();

    void work(WorkerProcess& worker);

    // Asks the system to fetch the tiles of the next few rounds from disk while the workers
    // parse these, so that a cold run reads and parses at once. It has a thread of its own,
    // since a hint for a large file can wait on the disk. Blocks of small tiles do without:
    // their tiles come with the folder's first reads, and the look would cost more than it
    // saves.
    void readAhead();

    LeftOutSubfolder check(WorkerProcess& worker, const std::filesystem::path& root,
                           FolderWork& folder, TileBound& bound);

    std::filesystem::path WorkerProgramPath() const { return WorkerProgramFor(options_); }

    void stop();

    void notify() const;

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

} // namespace brindle
