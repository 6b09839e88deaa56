#include "export/export_run.h"

#include "export/index_graph.h"
#include "export/index_writer.h"
#include "export/origin_report.h"
#include "export/subfolder_scan.h"
#include "export/tile_validation.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// Serialises progress reports from the validation threads.
class ProgressReporter {
public:
    ProgressReporter(const ExportOptions& options, std::size_t folderCount)
        : callback_(options.progress) {
        progress_.folderCount = folderCount;
    }

    void startFolder(std::size_t index, const fs::path& folder, std::size_t subfolderCount) {
        const std::lock_guard<std::mutex> lock(mutex_);
        progress_.foldersDone = index;
        progress_.folder = folder;
        progress_.subfoldersDone = 0;
        progress_.subfolderCount = subfolderCount;
        notify();
    }

    void subfolderDone() {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++progress_.subfoldersDone;
        notify();
    }

    void finish(std::size_t foldersDone) {
        const std::lock_guard<std::mutex> lock(mutex_);
        progress_.foldersDone = foldersDone;
        notify();
    }

private:
    void notify() const {
        if (callback_)
            callback_(progress_);
    }

    const std::function<void(const ExportProgress&)>& callback_;
    ExportProgress progress_;
    std::mutex mutex_;
};

bool IsCancelled(const ExportOptions& options) {
    return options.cancel && options.cancel->load();
}

unsigned EffectiveJobs(const ExportOptions& options, std::size_t work) {
    unsigned jobs = options.jobs ? options.jobs : std::thread::hardware_concurrency();
    jobs = std::max(1u, jobs);
    return static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(work, 1)));
}

// Validates every tile folder on up to `jobs` threads, each holding one scene at a time.
// Returns nothing when the run was cancelled before all were validated.
std::optional<std::vector<TileStatus>> ValidateTiles(const std::vector<fs::path>& tiles,
                                                     const ExportOptions& options,
                                                     ProgressReporter& reporter) {
    std::vector<TileStatus> statuses(tiles.size(), TileStatus::NoRootFile);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false};
    const auto work = [&] {
        for (std::size_t i = next++; i < tiles.size(); i = next++) {
            if (IsCancelled(options)) {
                stopped = true;
                return;
            }
            statuses[i] = ValidateTile(tiles[i]);
            reporter.subfolderDone();
        }
    };
    const unsigned jobs = EffectiveJobs(options, tiles.size());
    std::vector<std::thread> helpers;
    for (unsigned j = 1; j < jobs; ++j)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (stopped || IsCancelled(options))
        return std::nullopt;
    return statuses;
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

void RecordTiles(const std::vector<fs::path>& tiles, const std::vector<TileStatus>& statuses,
                 FolderReport& report) {
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const std::string name = tiles[i].filename().string();
        switch (statuses[i]) {
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

void ExportFolder(const fs::path& folder, std::size_t index, IndexGraph& graph,
                  const ExportOptions& options, ProgressReporter& reporter, FolderReport& report) {
    report.folder = folder;
    report.indexFile = folder / "root.osgb";
    if (std::string error = CheckIsFolder(folder); !error.empty()) {
        reporter.startFolder(index, folder, 0);
        report.status = FolderStatus::Failed;
        report.error = std::move(error);
        return;
    }
    ApplyOrigin(folder, graph, report);
    std::string scanError;
    const std::vector<fs::path> tiles = ListSubfolders(folder, &scanError);
    if (!scanError.empty())
        report.warnings.push_back(scanError + "; index written without tiles");
    reporter.startFolder(index, folder, tiles.size());

    const std::optional<std::vector<TileStatus>> statuses = ValidateTiles(tiles, options, reporter);
    if (!statuses) {
        report.status = FolderStatus::Cancelled;
        return;
    }
    RecordTiles(tiles, *statuses, report);
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
    for (std::size_t i = 0; i < folders.size(); ++i) {
        report.folders[i].folder = folders[i];
        report.folders[i].indexFile = folders[i] / "root.osgb";
    }
    if (folders.empty())
        return report;

    PrepareTileValidation();
    ProgressReporter reporter(options, folders.size());
    IndexGraph graph;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (IsCancelled(options))
            break;
        ExportFolder(folders[i], i, graph, options, reporter, report.folders[i]);
        if (report.folders[i].status == FolderStatus::Cancelled)
            break;
    }
    report.cancelled = IsCancelled(options);
    reporter.finish(static_cast<std::size_t>(
        std::count_if(report.folders.begin(), report.folders.end(),
                      [](const FolderReport& f) { return f.status != FolderStatus::Cancelled; })));
    return report;
}

} // namespace brindle
