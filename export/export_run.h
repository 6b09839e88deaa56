#pragma once

#include <osg/Vec3d>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace brindle {

// Where a run stands; handed to the progress callback.
struct ExportProgress {
    std::size_t foldersDone = 0;
    std::size_t folderCount = 0;
    std::size_t subfoldersDone = 0; // validated so far, over all folders of the run
    std::size_t subfolderCount = 0; // to validate, over all folders of the run
    // The folder in hand: the first not yet written, or the last one once all are.
    std::filesystem::path folder;
};

struct ExportOptions {
    unsigned jobs = 0;   // threads validating tiles; 0 means one per hardware thread
    bool dryRun = false; // scan and validate, write nothing
    // Load every tile in full, textures and referenced scenes included, as a viewer would.
    // Gives the same answer as the default check, which reads only each tile's own file.
    bool fullValidation = false;
    // Called as folders and subfolders complete, from the run's threads but never from two
    // at once. Keep it short: validation waits for it.
    std::function<void(const ExportProgress&)> progress;
    // Checked between subfolders; once set, the run stops and writes nothing more.
    const std::atomic<bool>* cancel = nullptr;
};

enum class SkipReason { NoRootFile, LoadFailed };

struct SkippedSubfolder {
    std::string name;
    SkipReason reason;
};

enum class FolderStatus {
    Written,   // the index file was written
    DryRun,    // everything but the write was done
    Failed,    // the index could not be written; `error` says why
    Cancelled, // the run was cancelled before this folder's index was written
};

struct FolderReport {
    std::filesystem::path folder;
    std::filesystem::path indexFile;
    FolderStatus status = FolderStatus::Cancelled;
    std::vector<std::string> entries; // proxy names, in index order
    osg::Vec3d translation;           // the translation written (or that would be)
    std::vector<SkippedSubfolder> skipped;
    std::vector<std::string> warnings; // e.g. an unusable report.txt
    std::string error;
};

struct ExportReport {
    std::vector<FolderReport> folders; // one per listed folder, in list order
    bool cancelled = false;

    // True when every folder's index was written (or, in a dry run, would be).
    bool succeeded() const;
};

// Writes root.osgb into every folder in `folders`, in the order given: a translation by the
// folder's report.txt origin (carried over from the last report read when the folder has
// none) over a proxy naming each subfolder's root.osgb that loads. Never throws for bad
// input, never prints: what happened is in the report, folder by folder.
ExportReport ExportFolderIndexes(const std::vector<std::filesystem::path>& folders,
                                 const ExportOptions& options = {});

const char* DescribeSkipReason(SkipReason reason);

} // namespace brindle
