#include "export/verify/index_verify.h"

#include "export/existing_index/check_answer.h"
#include "export/fs/overview_folder.h"
#include "export/fs/regular_file.h"
#include "export/fs/scene_file_search.h"
#include "export/isolation/check_outcome.h"
#include "export/isolation/check_settings.h"
#include "export/isolation/worker_process.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/scan/block_layout.h"
#include "export/scan/folder_identity.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The check of `file` with the bounds its size earns; a file that is not regular is
// checked with the bounds of an empty one, and the worker says what it is.
BoundedCheck BoundedRequest(CheckKind kind, const fs::path& file, const CheckSettings& settings) {
    const FileFacts facts = LookAt(file).value_or({});
    const std::uint64_t size = facts.type == fs::file_type::regular ? facts.size : 0;
    return MakeCheck(kind, file, size, settings);
}

Problem IndexUnreadable(const fs::path& index, std::error_code cause = {}) {
    return Problem{ProblemKind::ExistingUnreadable, index, cause};
}

// Asks a worker for the index's names, a reply's worth at a time.
std::optional<Problem> ListEntries(WorkerProcess& worker, FolderVerification& folder,
                                   const CheckSettings& settings) {
    BoundedCheck bounded = BoundedRequest(CheckKind::IndexEntries, folder.indexFile, settings);
    const fs::path program = settings.program();
    for (;;) {
        bounded.request.firstEntry = static_cast<std::uint32_t>(folder.entries.size());
        CheckReply reply;
        const CheckAnswer answer = AnswerOf(
            {CheckAsker::ListedIndex, bounded.request, bounded.deadline, folder.indexFile, program},
            worker.exchange(bounded.request, bounded.deadline, reply), reply);
        if (answer.problem)
            return answer.problem;
        // A reply that brings nothing new while names remain would never end the listing.
        if (reply.entries.empty() && folder.entries.size() < reply.entryCount)
            return IndexUnreadable(folder.indexFile);
        for (std::string& name : reply.entries) {
            IndexEntryCheck& entry = folder.entries.emplace_back();
            entry.name = std::move(name);
        }
        if (folder.entries.size() >= reply.entryCount)
            return std::nullopt;
    }
}

// How a viewer that opens the index reaches one of its entries.
struct EntryReach {
    std::string indexFile;            // the index, in its text form
    FileFacts index;                  // what it is
    SearchFolders searched;           // the folders the entry's name is searched in
    std::optional<std::string> found; // the file the search opens
};

// Searches for the entry's name as the reader does when the viewer opens the index, and
// names what it finds, or the plain place of the name when it finds nothing.
EntryReach Reach(const FolderVerification& folder, IndexEntryCheck& entry) {
    EntryReach reach;
    std::error_code ec;
    reach.indexFile = RequestPathText(fs::absolute(folder.indexFile, ec));
    reach.index = LookAt(folder.indexFile).value_or({});
    reach.searched = SearchFoldersForName(SearchFoldersOfFile(reach.indexFile), entry.name);
    reach.found = FindSceneFile(entry.name, reach.searched);
    entry.file = reach.found ? PathOfRequestText(*reach.found)
                             : ResolveSceneFileName(folder.folder, entry.name);
    return reach;
}

// The deepest chain of level files below an index: a quadtree over grid indices within 2^40
// of 0 has 42 levels, and tiles without grid names have a tree of their own of no more.
constexpr int kMostLevelFiles = 64;

constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);

// Where an entry stands in the walk: the level file that names it and how many level files
// lie above it, and, for a level file that loads, the names it holds.
struct WalkStep {
    std::size_t parent = kNoParent;
    int depth = 0;
    std::vector<std::string> names;
};

void TakeOutcome(IndexEntryCheck& entry, const TileOutcome& outcome) {
    entry.status = outcome.reason;
    entry.cause = outcome.cause;
    entry.limit = outcome.limit;
    entry.loadFailure = outcome.loadFailure;
    entry.readerText = outcome.readerText;
}

// True when `file` lies in a folder of levels of ours: its names lead on to further levels or
// to tiles, and are followed. A folder merely named so is the user's, and holds tiles.
bool IsLevelFile(const fs::path& file) {
    return IsOverviewFolder(file.parent_path());
}

// Checks that a level file loads, as a tile is checked, and asks for the names it holds, a
// reply's worth at a time.
void CheckLevel(WorkerProcess& worker, IndexEntryCheck& entry, WalkStep& step,
                const CheckSettings& settings, const fs::path& program,
                std::error_code& unavailable) {
    BoundedCheck bounded = BoundedRequest(CheckKind::IndexEntries, entry.file, settings);
    for (;;) {
        bounded.request.firstEntry = static_cast<std::uint32_t>(step.names.size());
        CheckReply reply;
        const CheckAnswer answer =
            AnswerOf({CheckAsker::Tile, bounded.request, bounded.deadline, entry.file, program},
                     worker.exchange(bounded.request, bounded.deadline, reply), reply);
        if (answer.problem)
            unavailable = answer.problem->cause;
        TakeOutcome(entry, answer.tile);
        if (entry.status != TileStatus::Valid)
            return;
        // A reply that brings nothing new while names remain would never end the listing.
        if (reply.entries.empty() && step.names.size() < reply.entryCount) {
            entry.status = TileStatus::LoadFailed;
            return;
        }
        for (std::string& name : reply.entries)
            step.names.push_back(std::move(name));
        if (step.names.size() >= reply.entryCount)
            return;
    }
}

void CheckTile(WorkerProcess& worker, IndexEntryCheck& entry, const EntryReach* reach,
               const CheckSettings& settings, const fs::path& program,
               std::error_code& unavailable) {
    BoundedCheck bounded = BoundedRequest(CheckKind::Tile, entry.file, settings);
    if (reach && reach->found) {
        // The entry's own folder goes in front of these when it is read.
        bounded.request.inheritedSearch = reach->searched;
        bounded.request.filesAbove = {reach->indexFile};
    }
    CheckReply reply;
    const CheckAnswer answer =
        AnswerOf({CheckAsker::Tile, bounded.request, bounded.deadline, entry.file, program},
                 worker.exchange(bounded.request, bounded.deadline, reply), reply);
    if (answer.problem)
        unavailable = answer.problem->cause;
    TakeOutcome(entry, answer.tile);
}

// An entry of the index itself is reached by the reader's search from the index; a name in a
// level file leads, as the pager loads it, to the file beside the level file it names.
void CheckEntry(WorkerProcess& worker, const FolderVerification& folder, IndexEntryCheck& entry,
                WalkStep& step, const CheckSettings& settings, const fs::path& program,
                std::error_code& unavailable) {
    std::optional<EntryReach> reach;
    if (step.parent == kNoParent) {
        reach = Reach(folder, entry);
        if (reach->found && SameFile(LookAt(entry.file).value_or({}), reach->index)) {
            entry.status = TileStatus::Cycle;
            return;
        }
        entry.level = IsLevelFile(entry.file);
    }
    if (entry.level)
        CheckLevel(worker, entry, step, settings, program, unavailable);
    else
        CheckTile(worker, entry, reach ? &*reach : nullptr, settings, program, unavailable);
}

// Checks the entries `wave` of the folder, each on one of up to `jobs` threads.
void CheckWave(FolderVerification& folder, std::vector<WalkStep>& steps,
               const std::vector<std::size_t>& wave, const CheckSettings& settings) {
    const fs::path program = settings.program();
    const std::size_t threads = std::min<std::size_t>(settings.workerCount(), wave.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::error_code> unavailable(threads);
    std::vector<std::thread> pool;
    // Each thread starts and ends its own worker: on Linux a worker ends with the thread
    // that started it, so none may outlive its thread.
    for (std::size_t t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            WorkerProcess worker(program);
            for (std::size_t i = next++; i < wave.size() && !settings.cancelled(); i = next++)
                CheckEntry(worker, folder, folder.entries[wave[i]], steps[wave[i]], settings,
                           program, unavailable[t]);
        });
    for (std::thread& thread : pool)
        thread.join();
    for (const std::error_code& ec : unavailable)
        if (ec)
            folder.error = Problem{ProblemKind::WorkersUnavailable, program, ec};
}

// Which file a path is, to tell a file reached twice: the system's identity where it has
// one, its path otherwise (a missing file's, say).
struct FileKey {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string path;

    bool operator<(const FileKey& other) const {
        return std::tie(device, inode, path) < std::tie(other.device, other.inode, other.path);
    }
};

FileKey KeyOf(const fs::path& file) {
    const FileFacts facts = LookAt(file).value_or({});
    if (facts.device != 0 || facts.inode != 0)
        return {facts.device, facts.inode, {}};
    return {0, 0, file.lexically_normal().generic_string()};
}

// The files the walk has reached, each with the entry that checked it (none for the index).
class Reached {
public:
    explicit Reached(const fs::path& index) { entryOf_[KeyOf(index)] = kNoParent; }

    // The entry that reached `key` already, if any: kNoParent for the index itself.
    std::optional<std::size_t> find(const FileKey& key) const {
        const auto found = entryOf_.find(key);
        if (found == entryOf_.end())
            return std::nullopt;
        return found->second;
    }
    void add(const FileKey& key, std::size_t entry) { entryOf_.emplace(key, entry); }

private:
    std::map<FileKey, std::size_t> entryOf_;
};

// True when `entry` is `level` or lies above it; kNoParent, the index, lies above all.
bool IsOnTheWay(std::size_t entry, std::size_t level, const std::vector<WalkStep>& steps) {
    if (entry == kNoParent)
        return true;
    for (std::size_t at = level; at != kNoParent; at = steps[at].parent)
        if (at == entry)
            return true;
    return false;
}

// `file` as the user finds it from the listed folder, however the folder was given; as it is
// when it lies outside.
fs::path ShownFromFolder(const fs::path& file, const fs::path& folder) {
    std::error_code ec;
    const fs::path base = file.is_absolute() ? fs::absolute(folder, ec) : folder;
    const fs::path relative = file.lexically_relative(base.lexically_normal());
    if (ec || relative.empty() || *relative.begin() == "..")
        return file;
    return relative;
}

// The files the level `level` names that the walk has not reached yet, as new entries. A
// name leading back to a file on its own way down makes the level a cycle, as a viewer
// coming close would page it in without end; one leading to levels deeper than any overview
// has ends the walk there.
std::vector<std::size_t> NamedBelow(FolderVerification& folder, std::vector<WalkStep>& steps,
                                    std::size_t level, Reached& reached) {
    std::vector<std::size_t> added;
    const fs::path levelFile = folder.entries[level].file;
    const fs::path namedBy = ShownFromFolder(levelFile, folder.folder);
    const std::vector<std::string> names = std::move(steps[level].names);
    for (const std::string& name : names) {
        const fs::path file =
            ResolveSceneFileName(levelFile.parent_path(), name).lexically_normal();
        const FileKey key = KeyOf(file);
        if (const std::optional<std::size_t> before = reached.find(key)) {
            if (IsOnTheWay(*before, level, steps))
                folder.entries[level].status = TileStatus::Cycle;
            continue;
        }
        const bool isLevel = IsLevelFile(file);
        if (isLevel && steps[level].depth >= kMostLevelFiles) {
            folder.entries[level].status = TileStatus::Cycle;
            folder.entries[level].tooDeep = true;
            continue;
        }
        IndexEntryCheck entry;
        entry.name = name;
        entry.file = file;
        entry.namedBy = namedBy;
        entry.level = isLevel;
        reached.add(key, folder.entries.size());
        added.push_back(folder.entries.size());
        folder.entries.push_back(std::move(entry));
        steps.push_back({level, steps[level].depth + 1, {}});
    }
    return added;
}

// Checks the index's entries, then, level by level, what the level files among them name.
void WalkEntries(FolderVerification& folder, const CheckSettings& settings) {
    std::vector<WalkStep> steps(folder.entries.size(), WalkStep{kNoParent, 1, {}});
    std::vector<std::size_t> wave(folder.entries.size());
    for (std::size_t i = 0; i < wave.size(); ++i)
        wave[i] = i;
    CheckWave(folder, steps, wave, settings);
    // A proxy or paged index ends here, with no look at its entries again.
    if (folder.levelFiles() == 0)
        return;
    Reached reached(folder.indexFile);
    // The index's own entries are each checked as listed, even one named twice.
    for (const std::size_t i : wave)
        reached.add(KeyOf(folder.entries[i].file), i);
    while (!wave.empty() && !settings.cancelled() && !folder.error) {
        std::vector<std::size_t> below;
        for (const std::size_t i : wave)
            if (folder.entries[i].level && folder.entries[i].status == TileStatus::Valid) {
                const std::vector<std::size_t> named = NamedBelow(folder, steps, i, reached);
                below.insert(below.end(), named.begin(), named.end());
            }
        wave = std::move(below);
        CheckWave(folder, steps, wave, settings);
    }
}

std::size_t CountEntries(const std::vector<IndexEntryCheck>& entries, bool levelsOnly,
                         bool brokenOnly) {
    return static_cast<std::size_t>(
        std::count_if(entries.begin(), entries.end(), [&](const IndexEntryCheck& e) {
            return (!levelsOnly || e.level) && (!brokenOnly || e.status != TileStatus::Valid);
        }));
}

} // namespace

bool FolderVerification::allResolve() const {
    return !error && std::all_of(entries.begin(), entries.end(), [](const IndexEntryCheck& e) {
        return e.status == TileStatus::Valid;
    });
}

std::size_t FolderVerification::levelFiles() const {
    return CountEntries(entries, true, false);
}

std::size_t FolderVerification::brokenLevelFiles() const {
    return CountEntries(entries, true, true);
}

std::size_t FolderVerification::broken() const {
    return CountEntries(entries, false, true);
}

namespace {

// The blocks of a folder of blocks, as its index names them: every entry the index of each
// block within, `<block>/root.osgb`, in a subfolder laid out as a block. None for any other
// folder, whose entries are its tiles.
std::vector<fs::path> BlocksNamed(const FolderVerification& folder) {
    std::vector<fs::path> blocks;
    const FileFacts listed = LookAt(folder.folder).value_or({});
    for (const IndexEntryCheck& entry : folder.entries) {
        if (entry.namedBy != fs::path() || entry.level)
            continue;
        const fs::path block = entry.file.parent_path();
        if (entry.file.filename() != "root.osgb" ||
            !SameFile(LookAt(block.parent_path()).value_or({}), listed) || !LooksLikeBlock(block))
            return {};
        blocks.push_back(folder.folder / block.filename());
    }
    return blocks;
}

// Folders of blocks within folders of blocks, no deeper than this: deeper than any a user has.
constexpr int kMostBlockDepth = 8;

void VerifyFolder(const fs::path& listed, int depth, WorkerProcess& lister,
                  const CheckSettings& settings, std::vector<FolderVerification>& results) {
    FolderVerification folder;
    folder.folder = listed;
    folder.indexFile = listed / "root.osgb";
    folder.error = ProblemWithListedFolder(folder.folder);
    if (!folder.error)
        folder.error = ListEntries(lister, folder, settings);
    if (folder.error) {
        folder.entries.clear();
        results.push_back(std::move(folder));
        return;
    }
    WalkEntries(folder, settings);
    // A block's index is checked as an entry, loading at once; the levels and tiles it pages in
    // are walked as its own folder's, right after it.
    const std::vector<fs::path> blocks =
        depth < kMostBlockDepth && !folder.error ? BlocksNamed(folder) : std::vector<fs::path>{};
    results.push_back(std::move(folder));
    for (const fs::path& block : blocks) {
        if (settings.cancelled())
            return;
        VerifyFolder(block, depth + 1, lister, settings, results);
    }
}

} // namespace

std::vector<FolderVerification> VerifyFolderIndexes(const std::vector<fs::path>& folders,
                                                    const CheckSettings& settings) {
    std::vector<FolderVerification> results;
    const fs::path program = settings.program();
    // Lists each index; it lives on this thread, which outlives it.
    WorkerProcess lister(program);
    for (std::size_t f = 0; f < folders.size() && !settings.cancelled(); ++f)
        VerifyFolder(folders[f], 0, lister, settings, results);
    return results;
}

} // namespace brindle
