#include "export/verify/index_verify.h"

#include "export/existing_index/check_answer.h"
#include "export/fs/regular_file.h"
#include "export/isolation/check_outcome.h"
#include "export/isolation/check_settings.h"
#include "export/isolation/worker_process.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/scan/folder_identity.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>

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
        for (std::string& name : reply.entries)
            folder.entries.push_back(
                {std::move(name), {}, TileStatus::Valid, {}, 0, LoadFailure::None, {}});
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

void CheckEntry(WorkerProcess& worker, const FolderVerification& folder, IndexEntryCheck& entry,
                const CheckSettings& settings, const fs::path& program,
                std::error_code& unavailable) {
    const EntryReach reach = Reach(folder, entry);
    if (reach.found && SameFile(LookAt(entry.file).value_or({}), reach.index)) {
        entry.status = TileStatus::Cycle;
        return;
    }
    BoundedCheck bounded = BoundedRequest(CheckKind::Tile, entry.file, settings);
    if (reach.found) {
        // The entry's own folder goes in front of these when it is read.
        bounded.request.inheritedSearch = reach.searched;
        bounded.request.filesAbove = {reach.indexFile};
    }
    CheckReply reply;
    const CheckAnswer answer =
        AnswerOf({CheckAsker::Tile, bounded.request, bounded.deadline, entry.file, program},
                 worker.exchange(bounded.request, bounded.deadline, reply), reply);
    if (answer.problem)
        unavailable = answer.problem->cause;
    const TileOutcome& outcome = answer.tile;
    entry.status = outcome.reason;
    entry.cause = outcome.cause;
    entry.limit = outcome.limit;
    entry.loadFailure = outcome.loadFailure;
    entry.readerText = outcome.readerText;
}

} // namespace

bool FolderVerification::allResolve() const {
    return !error && std::all_of(entries.begin(), entries.end(), [](const IndexEntryCheck& e) {
        return e.status == TileStatus::Valid;
    });
}

std::vector<FolderVerification> VerifyFolderIndexes(const std::vector<fs::path>& folders,
                                                    const CheckSettings& settings) {
    std::vector<FolderVerification> results(folders.size());
    const fs::path program = settings.program();
    const unsigned jobs = settings.workerCount();
    // Lists each index; it lives on this thread, which outlives it.
    WorkerProcess lister(program);
    for (std::size_t f = 0; f < folders.size() && !settings.cancelled(); ++f) {
        FolderVerification& folder = results[f];
        folder.folder = folders[f];
        folder.indexFile = folders[f] / "root.osgb";
        folder.error = ProblemWithListedFolder(folder.folder);
        if (!folder.error)
            folder.error = ListEntries(lister, folder, settings);
        if (folder.error) {
            folder.entries.clear();
            continue;
        }
        const std::size_t threads = std::min<std::size_t>(jobs, folder.entries.size());
        std::atomic<std::size_t> next{0};
        std::vector<std::error_code> unavailable(threads);
        std::vector<std::thread> pool;
        // Each thread starts and ends its own worker: on Linux a worker ends with the thread
        // that started it, so none may outlive its thread.
        for (std::size_t t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                WorkerProcess worker(program);
                for (std::size_t i = next++; i < folder.entries.size() && !settings.cancelled();
                     i = next++)
                    CheckEntry(worker, folder, folder.entries[i], settings, program,
                               unavailable[t]);
            });
        for (std::thread& thread : pool)
            thread.join();
        for (const std::error_code& ec : unavailable)
            if (ec)
                folder.error = Problem{ProblemKind::WorkersUnavailable, program, ec};
    }
    return results;
}

} // namespace brindle
