#include "export/export_run.h"

#include "export/index_graph.h"
#include "export/index_writer.h"
#include "export/origin_report.h"
#include "export/subfolder_scan.h"
#include "export/tile_validation.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace brindle {
namespace fs = std::filesystem;
namespace {

bool IsCancelled(const ExportOptions& options) {
    return options.cancel && options.cancel->load();
}

std::string CheckIsFolder(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (status.type() == fs::file_type::not_found)
        return folder.string() + ": folder does not exist";
    if (ec)
        return folder.string() + ": " + ec.message();
    if (!fs::is_directory(status))
        return folder.string() + ": not a folder";
    return {};
}

// One listed folder's candidate tiles and, once validated, their statuses.
struct FolderWork {
    std::vector<fs::path> tiles;
    std::vector<TileStatus> statuses;
    std::size_t remaining = 0;
};

// Validates the tiles of all folders on a pool of threads, in list order, so that folders
// with few tiles each still keep every thread busy. Each thread holds one scene at a time.
// The run's thread waits for each folder in turn, writes it and reports progress.
class ValidationPool {
public:
    ValidationPool(std::vector<FolderWork>& folders, const ExportOptions& options,
                   ExportProgress& progress)
        : folders_(folders), options_(options), progress_(progress),
          validator_(options.fullValidation ? TileValidator::Mode::Full
                                            : TileValidator::Mode::Fast) {
        for (std::size_t f = 0; f < folders_.size(); ++f)
            for (std::size_t t = 0; t < folders_[f].tiles.size(); ++t)
                queue_.push_back({f, t});
        progress_.subfolderCount = queue_.size();
        const unsigned wanted = options.jobs ? options.jobs : std::thread::hardware_concurrency();
        const std::size_t threads = std::min<std::size_t>(std::max(1u, wanted), queue_.size());
        for (std::size_t i = 0; i < threads; ++i)
            threads_.emplace_back([this] { work(); });
    }

    ~ValidationPool() {
        for (std::thread& thread : threads_)
            thread.join();
    }

    ValidationPool(const ValidationPool&) = delete;
    ValidationPool& operator=(const ValidationPool&) = delete;

    // Waits until folder `f` is validated; false when the run was cancelled first.
    bool waitFor(std::size_t f) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return folders_[f].remaining == 0 || stopped_; });
        return folders_[f].remaining == 0;
    }

    // Reports progress from the run's thread, in step with the pool's reports.
    void report(const std::function<void(ExportProgress&)>& update) {
        const std::lock_guard<std::mutex> lock(mutex_);
        update(progress_);
        notify();
    }

private:
    struct Job {
        std::size_t folder;
        std::size_t tile;
    };

    void work() {
        for (std::size_t i = next_++; i < queue_.size(); i = next_++) {
            if (IsCancelled(options_)) {
                stop();
                return;
            }
            const Job job = queue_[i];
            FolderWork& folder = folders_[job.folder];
            const TileStatus status = validator_.validate(folder.tiles[job.tile]);
            const std::lock_guard<std::mutex> lock(mutex_);
            folder.statuses[job.tile] = status;
            ++progress_.subfoldersDone;
            notify();
            // The run's thread waits for whole folders; waking it for every tile would take
            // a core from the validation for nothing.
            if (--folder.remaining == 0)
                changed_.notify_all();
        }
    }

    void stop() {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

    void notify() const {
        if (options_.progress)
            options_.progress(progress_);
    }

    std::vector<FolderWork>& folders_;
    const ExportOptions& options_;
    ExportProgress& progress_;
    const TileValidator validator_;
    std::vector<Job> queue_;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false;
    std::vector<std::thread> threads_;
};

FolderWork ScanFolder(const fs::path& folder, FolderReport& report) {
    report.folder = folder;
    report.indexFile = folder / "root.osgb";
    FolderWork work;
    report.error = CheckIsFolder(folder);
    if (!report.error.empty())
        return work;
    std::string scanError;
    work.tiles = ListSubfolders(folder, &scanError);
    if (!scanError.empty())
        report.warnings.push_back(scanError + "; index written without tiles");
    work.statuses.assign(work.tiles.size(), TileStatus::NoRootFile);
    work.remaining = work.tiles.size();
    return work;
}

void ApplyOrigin(const fs::path& folder, IndexGraph& graph, FolderReport& report) {
    const fs::path reportPath = folder / "report.txt";
    std::error_code ec;
    if (!fs::exists(reportPath, ec))
        return;
    const OriginReading reading = ReadBlockOrigin(reportPath);
    if (reading.origin)
        graph.setTranslation(osg::Vec3d(reading.origin->x, reading.origin->y, 0.0));
    else
        report.warnings.push_back(reading.warning);
}

void RecordTiles(const FolderWork& work, FolderReport& report) {
    for (std::size_t i = 0; i < work.tiles.size(); ++i) {
        const std::string name = work.tiles[i].filename().string();
        switch (work.statuses[i]) {
        case TileStatus::Valid:
            report.entries.push_back(ProxyEntryFor(name));
            break;
        case TileStatus::NoRootFile:
            report.skipped.push_back({name, SkipReason::NoRootFile});
            break;
        case TileStatus::LoadFailed:
            report.skipped.push_back({name, SkipReason::LoadFailed});
            break;
        }
    }
}

void WriteFolder(const FolderWork& work, IndexGraph& graph, const ExportOptions& options,
                 FolderReport& report) {
    ApplyOrigin(report.folder, graph, report);
    RecordTiles(work, report);
    graph.setEntries(report.entries);
    report.translation = graph.translation();
    if (options.dryRun) {
        report.status = FolderStatus::DryRun;
        return;
    }
    report.error = WriteIndexFile(graph.root(), report.indexFile);
    report.status = report.error.empty() ? FolderStatus::Written : FolderStatus::Failed;
}

} // namespace

bool ExportReport::succeeded() const {
    return !cancelled && std::all_of(folders.begin(), folders.end(), [](const FolderReport& f) {
        return f.status == FolderStatus::Written || f.status == FolderStatus::DryRun;
    });
}

const char* DescribeSkipReason(SkipReason reason) {
    switch (reason) {
    case SkipReason::NoRootFile:
        return "no root.osgb";
    case SkipReason::LoadFailed:
        return "root.osgb failed to load";
    }
    return "";
}

ExportReport ExportFolderIndexes(const std::vector<fs::path>& folders,
                                 const ExportOptions& options) {
    ExportReport report;
    report.folders.resize(folders.size());
    if (folders.empty())
        return report;

    std::vector<FolderWork> work;
    for (std::size_t i = 0; i < folders.size(); ++i)
        work.push_back(ScanFolder(folders[i], report.folders[i]));

    ExportProgress progress;
    progress.folderCount = folders.size();
    progress.folder = folders.front();
    ValidationPool pool(work, options, progress);
    IndexGraph graph;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        FolderReport& folder = report.folders[i];
        if (!pool.waitFor(i) || IsCancelled(options))
            break;
        if (folder.error.empty())
            WriteFolder(work[i], graph, options, folder);
        else
            folder.status = FolderStatus::Failed;
        pool.report([&](ExportProgress& p) {
            p.foldersDone = i + 1;
            p.folder = folders[std::min(i + 1, folders.size() - 1)];
        });
    }
    report.cancelled = IsCancelled(options);
    return report;
}

} // namespace brindle
