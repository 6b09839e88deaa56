#include "export/overview/overview_pyramid.h"

#include "export/overview/node_bound.h"
#include "export/overview/node_summaries.h"
#include "export/overview/node_writer.h"
#include "export/overview/pyramid_reuse.h"
#include "export/overview/pyramid_tree.h"
#include "export/overview/top_picture.h"
#include "export/system/task_pool.h"

#include <algorithm>
#include <map>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A tile or node summary the pyramid was not waiting for: the caller's mistake, told as a
// failure of the levels rather than thrown on the pool's threads.
std::error_code Misuse() {
    return SystemError(std::errc::invalid_argument);
}

// The lowest level whose nodes' summaries are kept: from the top level down, as many whole
// levels as `budget` summaries hold; past the top when none is kept.
int LowestKeptLevel(const OverviewTree& shape, std::size_t budget) {
    std::map<int, std::size_t, std::greater<>> perLevel;
    for (const OverviewNode& node : shape.nodes)
        if (!node.IsLeaf())
            ++perLevel[node.level];
    int lowest = shape.Levels();
    std::size_t kept = 0;
    for (const auto& [level, count] : perLevel) {
        if (kept + count > budget)
            break;
        kept += count;
        lowest = level;
    }
    return lowest;
}

} // namespace

// Brings the three together: the tree says which node is done, the reuse which of them an
// earlier pyramid has already, and the writer makes the rest.
class OverviewPyramid::Builder {
public:
    Builder(const OverviewTree& tree, std::vector<std::string> entries, fs::path folder,
            const PyramidOptions& options, EarlierPyramid earlier, NodeFileCalls files,
            TaskPool* pool)
        : tree_(tree, std::move(entries), options.namePrefix), folder_(std::move(folder)),
          relativeSkirtDepth_(options.mesh.relativeSkirtDepth), hashes_(options),
          earlier_(std::move(earlier), files.create ? files : SystemNodeFileCalls()),
          ownPool_(pool ? nullptr : std::make_unique<TaskPool>(options.threads)),
          writer_(options, files.create ? std::move(files) : SystemNodeFileCalls(),
                  pool ? *pool : *ownPool_),
          summaryCounter_(std::make_shared<SummaryCounter>()),
          lowestKeptLevel_(LowestKeptLevel(tree_.Shape(), options.keptSummaries)) {
        if (!tree_.LeavesNameKnownTiles())
            writer_.Fail(Misuse());
    }

    Status LeaveOut(std::size_t tile, std::uint64_t stamp) {
        tree_.Unname(tile);
        return Add(tile, std::nullopt, stamp);
    }

    Status Add(std::size_t tile, std::optional<TileSummary> summary, std::uint64_t stamp) {
        if (!tree_.Awaits(tile))
            return Misuse();
        if (const Status failed = writer_.Failure(); !failed)
            return failed;
        SummaryPtr counted;
        if (summary && HasArea(summary->extent))
            counted = Counted(std::move(*summary), summaryCounter_);
        if (const std::size_t leaf = tree_.AddTile(tile, std::move(counted), stamp);
            leaf != kNoNode)
            CompleteUpwards(leaf);
        return writer_.Failure();
    }

    UnchangedNodesTaken TakeUnchangedNodes(const std::vector<std::optional<KnownTile>>& known) {
        EarlierNodes::Taken taken = earlier_.TakeUnchangedSubtrees(tree_, hashes_, known, folder_);
        writer_.RecordTaken(taken.result.nodeFiles, taken.bytes, taken.manifest);
        KeepTakenSummaries(taken.manifest);
        summariesWanted_.insert(summariesWanted_.end(), taken.summariesWanted.begin(),
                                taken.summariesWanted.end());
        summariesLeft_ += taken.summariesWanted.size();
        for (const std::size_t node : taken.summariesWanted) {
            taken.result.keptSummaries.push_back(
                EarlierSummaryBytes(tree_.FileName(node), tree_.State(node).hash));
            wantedUnkept_.push_back(taken.result.keptSummaries.back().empty());
        }
        return std::move(taken.result);
    }

    std::optional<std::string>
    UnchangedTop(const std::vector<std::optional<KnownTile>>& known) const {
        return earlier_.UnchangedTop(tree_, hashes_, known);
    }

    Status AddNodeSummary(std::size_t wanted, std::optional<TileSummary> summary) {
        if (wanted >= summariesWanted_.size() || summariesWanted_[wanted] == kNoNode)
            return Misuse();
        if (const Status failed = writer_.Failure(); !failed)
            return failed;
        const std::size_t node = summariesWanted_[wanted];
        summariesWanted_[wanted] = kNoNode;
        --summariesLeft_;
        SummaryPtr counted;
        if (summary && HasArea(summary->extent)) {
            counted = Counted(std::move(*summary), summaryCounter_);
            // Read back from its file for want of a kept one: kept now, so that the next run
            // need not read it back, as after a run that kept none (an earlier version's).
            if (wantedUnkept_[wanted] && Keeps(node))
                KeepReadBack(node, counted);
        } else {
            // Its file may be damaged: the next run builds it again, and the node above, which
            // shows nothing of it now, too.
            tree_.State(node).hash = WithoutChild(tree_.State(node).hash);
            tree_.State(node).taken = false;
            writer_.Forget(tree_.FileName(node));
        }
        if (const std::size_t parent = PassUp(node, std::move(counted)); parent != kNoNode)
            CompleteUpwards(parent);
        return writer_.Failure();
    }

    Result<PyramidTop> Finish() {
        writer_.WaitForJobs();
        if (tree_.TilesLeft() != 0 || summariesLeft_ != 0)
            return Misuse();
        if (const Status failed = writer_.Failure(); !failed)
            return failed.error();
        PyramidTop top;
        if (tree_.Shape().IsEmpty())
            return top;
        const std::size_t root = tree_.Shape().Root();
        top.file = tree_.FileName(root);
        if (tree_.State(root).box.valid())
            top.bound = StoredSphere(tree_.State(root).box);
        const WrittenNodes written = writer_.Written();
        top.nodeFiles = written.files;
        top.bytes = written.bytes;
        top.reusedFiles = written.reused;
        top.picture = std::move(topPicture_);
        return top;
    }

    OverviewManifest Manifest() const { return writer_.Manifest(); }
    fs::path FailedFile() const { return writer_.FailedFile(); }
    SummaryCount Summaries() const {
        return SummaryCount{summaryCounter_->Live(), summaryCounter_->Peak()};
    }

private:
    // Completes `node` and every ancestor whose last child it completes.
    void CompleteUpwards(std::size_t node) {
        while (node != kNoNode)
            node = PassUp(node, Complete(node));
    }

    // The node's summary to its parent: the parent, when that was its last child to come.
    std::size_t PassUp(std::size_t node, SummaryPtr summary) {
        // The top's summary goes no further: the block as the report shows it.
        if (tree_.Node(node).parent == kNoNode && summary)
            topPicture_ = PictureFromAbove(*summary);
        return tree_.PassToParent(node, std::move(summary));
    }

    bool Keeps(std::size_t n) const { return tree_.Node(n).level >= lowestKeptLevel_; }

    void KeepReadBack(std::size_t n, SummaryPtr summary) {
        NodeJob job;
        job.summaryOnly = true;
        job.summary = std::move(summary);
        job.hash = tree_.State(n).hash;
        job.summaryFile = KeptSummaryPath(folder_, tree_.FileName(n));
        writer_.Submit(std::move(job));
    }

    // The summary the earlier pyramid kept of node `name`, when it kept it for the same
    // subtree (`hash`); empty otherwise.
    std::string EarlierSummaryBytes(const std::string& name, std::uint64_t hash) const {
        if (!earlier_.Exist())
            return {};
        return ReadKeptSummary(KeptSummaryPath(earlier_.Folder(), name), hash)
            .value_or(std::string());
    }

    // The nodes taken whole take the files of the summaries the earlier pyramid kept of them,
    // as they are: whether each is of the same subtree is checked where it is read.
    void KeepTakenSummaries(const OverviewManifest& taken) {
        for (std::size_t n = 0; n < tree_.Shape().nodes.size(); ++n) {
            if (!tree_.State(n).taken || !Keeps(n))
                continue;
            const std::string name = tree_.FileName(n);
            if (taken.nodes.count(name) != 0)
                writer_.TakeEarlierSummary(KeptSummaryPath(earlier_.Folder(), name),
                                           KeptSummaryPath(folder_, name));
        }
    }

    // The node's summary, handed to its parent; a node of level 1 and up goes to be built.
    SummaryPtr Complete(std::size_t n) {
        PyramidNode& state = tree_.State(n);
        if (tree_.Node(n).IsLeaf()) {
            state.hash = hashes_.Leaf(tree_, n);
            return tree_.MergeLeafTiles(n, summaryCounter_);
        }
        NodeJob job;
        const std::string name = tree_.FileName(n);
        job.file = folder_ / name;
        state.hash = hashes_.Node(tree_, n, state.childHashes);
        if (earlier_.Exist() && tree_.ChildNodesTaken(n))
            if (const std::optional<EarlierNodeFile> file = earlier_.Unchanged(name, state.hash)) {
                job.earlierFile = file->file;
                job.earlierContent = file->content;
                state.taken = true;
            }
        job.summary = tree_.MosaicChildren(n, summaryCounter_, relativeSkirtDepth_);
        job.box = state.box;
        job.hash = state.hash;
        job.children = tree_.ChildNames(n);
        if (Keeps(n)) {
            job.summaryFile = KeptSummaryPath(folder_, name);
            if (!job.earlierFile.empty())
                job.earlierSummary = KeptSummaryPath(earlier_.Folder(), name);
        }
        SummaryPtr summary = job.summary;
        writer_.Submit(std::move(job));
        return summary;
    }

    PyramidTree tree_;
    const fs::path folder_;
    const float relativeSkirtDepth_;
    const SubtreeHashes hashes_;
    const EarlierNodes earlier_;
    // The writer's jobs end before the pool it was given, or its own, goes.
    const std::unique_ptr<TaskPool> ownPool_;
    NodeWriter writer_;
    std::shared_ptr<SummaryCounter> summaryCounter_;
    // The nodes whose summaries addNodeSummary() takes, by takeUnchangedNodes()'s list.
    std::vector<std::size_t> summariesWanted_;
    std::vector<bool> wantedUnkept_; // by the same place: the earlier pyramid kept no summary
    std::size_t summariesLeft_ = 0;
    ReportImage topPicture_; // once the top is built
    const int lowestKeptLevel_;
};

OverviewPyramid::OverviewPyramid(const OverviewTree& tree, std::vector<std::string> entries,
                                 fs::path folder, const PyramidOptions& options,
                                 EarlierPyramid earlier, NodeFileCalls files, TaskPool* pool)
    : builder_(std::make_unique<Builder>(tree, std::move(entries), std::move(folder), options,
                                         std::move(earlier), std::move(files), pool)) {}

OverviewPyramid::~OverviewPyramid() = default;

Status OverviewPyramid::leaveOut(std::size_t tile, std::uint64_t stamp) {
    return builder_->LeaveOut(tile, stamp);
}

Status OverviewPyramid::addTile(std::size_t tile, std::optional<TileSummary> summary,
                                std::uint64_t stamp) {
    return builder_->Add(tile, std::move(summary), stamp);
}

UnchangedNodesTaken
OverviewPyramid::takeUnchangedNodes(const std::vector<std::optional<KnownTile>>& known) {
    return builder_->TakeUnchangedNodes(known);
}

std::optional<std::string>
OverviewPyramid::unchangedTop(const std::vector<std::optional<KnownTile>>& known) const {
    return builder_->UnchangedTop(known);
}

Status OverviewPyramid::addNodeSummary(std::size_t wanted, std::optional<TileSummary> summary) {
    return builder_->AddNodeSummary(wanted, std::move(summary));
}

OverviewManifest OverviewPyramid::manifest() const {
    return builder_->Manifest();
}

Result<PyramidTop> OverviewPyramid::finish() {
    return builder_->Finish();
}

fs::path OverviewPyramid::failedFile() const {
    return builder_->FailedFile();
}

SummaryCount OverviewPyramid::summaries() const {
    return builder_->Summaries();
}

} // namespace brindle
