#pragma once

#include "export/error/result.h"
#include "export/overview/node_file.h"
#include "export/overview/overview_manifest.h"
#include "export/overview/overview_pyramid.h"
#include "export/overview/pyramid_tree.h"

#include <osg/BoundingBox>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace brindle {

class TaskPool;

// Everything a node file is made from, settled before it is built, so that the file is the
// same whichever thread builds it and when.
struct NodeJob {
    std::filesystem::path file;
    SummaryPtr summary; // none for a node whose tiles are all holes
    osg::BoundingBoxd box;
    std::vector<std::string> children; // file names relative to the node's own file
    // The earlier pyramid's file of the same subtree, taken instead; or none.
    std::filesystem::path earlierFile;
    std::uint64_t earlierContent = 0; // the hash of that file's bytes
    std::uint64_t hash = 0;
    // The node's summary is kept for a later run, in `summaryFile`: the earlier pyramid's file
    // of it linked (`earlierSummary`, where the node is taken), or else encoded anew.
    std::filesystem::path summaryFile;
    std::filesystem::path earlierSummary;
    // Only the summary is to be kept: the node is taken, its summary read back from its file.
    bool summaryOnly = false;
};

// The node files a pyramid has put on disk so far.
struct WrittenNodes {
    std::size_t files = 0;
    std::size_t reused = 0; // of files, those taken from the earlier pyramid
    std::uint64_t bytes = 0;
};

// Makes each node's file (its coarse mesh, the mesh's texture as JPEG, the paged node above
// its children) and writes it, or takes the earlier pyramid's file of the same subtree; on the
// pool's threads, each job as it comes. The first file not written stops it: the jobs after
// it are dropped.
class NodeWriter {
public:
    NodeWriter(const PyramidOptions& options, NodeFileCalls files, TaskPool& pool);
    // Jobs not started yet are dropped; those being built are waited for.
    ~NodeWriter();
    NodeWriter(const NodeWriter&) = delete;
    NodeWriter& operator=(const NodeWriter&) = delete;

    void Submit(NodeJob job);
    // Returns once every job submitted has been built or dropped.
    void WaitForJobs();

    // The first failure: a file not written (FailedFile() names it), or a misuse of the
    // pyramid the caller records here.
    Status Failure() const;
    void Fail(std::error_code cause, const std::filesystem::path& file = {});
    std::filesystem::path FailedFile() const;

    // Files the pyramid took from the earlier one before any job.
    void RecordTaken(std::size_t files, std::uint64_t bytes, const OverviewManifest& taken);
    // The node's file shows what may be damaged: no later run may take it.
    void Forget(const std::string& name);
    // Puts the earlier pyramid's file of a taken node's summary in place as `file`; where it
    // cannot be, a later run reads the node's file back instead.
    void TakeEarlierSummary(const std::filesystem::path& earlier,
                            const std::filesystem::path& file) const;
    WrittenNodes Written() const;
    // Every file written or taken, with its subtree's hash.
    OverviewManifest Manifest() const;

private:
    void Write(const NodeJob& job);
    bool TakeEarlier(const NodeJob& job);
    void Build(const NodeJob& job);
    void KeepSummary(const NodeJob& job);

    const PyramidOptions options_;
    const NodeFileCalls files_;
    TaskPool& pool_;

    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::size_t pending_ = 0; // jobs submitted and not yet built or dropped
    bool closing_ = false;
    std::error_code failure_;
    std::filesystem::path failedFile_;
    WrittenNodes written_;
    OverviewManifest manifest_;
};

} // namespace brindle
