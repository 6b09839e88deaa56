#include "export/isolation/worker_process.h"
#include "export/run/tile_check_pool.h"
#include "tests/export/call_failure.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <string>

#include <spawn.h>
#include <sys/socket.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteTile;

using test::FailAt;

// Which call of a start fails: socketpair with EMFILE, the spawn with EAGAIN.
test::CallFailure failing;

// A pool's workers start on threads of their own.
std::mutex failingMutex;

bool FailsNow(const char* name) {
    const std::lock_guard<std::mutex> lock(failingMutex);
    return failing.failsNow(name);
}

int Socketpair(int domain, int type, int protocol, int ends[2]) {
    if (!FailsNow("socketpair"))
        return ::socketpair(domain, type, protocol, ends);
    errno = EMFILE;
    return -1;
}
int Spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
          const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    return FailsNow("spawn") ? EAGAIN : ::posix_spawn(pid, path, actions, attributes, argv, envp);
}

WorkerStartCalls FailingCalls() {
    WorkerStartCalls calls;
    calls.socketpair = Socketpair;
    calls.spawn = Spawn;
    return calls;
}

// Each call of a worker's start fails in turn: the check that needed the worker fails with the
// call's cause, at once, and the next check starts a worker and is answered.
TEST(WorkerStart, AFailedCallFailsTheCheckWithItsCauseAndTheNextStartsAgain) {
    TempDir dir;
    WriteTile(dir / "A");
    const fs::path root = dir / "A" / "root.osgb";
    const BoundedCheck check =
        MakeCheck(CheckKind::Tile, root, fs::file_size(root), CheckSettings());
    std::set<std::string> failed;
    for (failing = FailAt(1); failing.failAt < 8; failing = FailAt(failing.failAt + 1)) {
        WorkerProcess worker(DefaultWorkerProgram(), FailingCalls());
        CheckReply reply;
        const Result<WorkerProcess::Outcome> first =
            worker.exchange(check.request, check.deadline, reply);
        if (failing.failed.empty()) {
            ASSERT_TRUE(first) << first.error().message();
            EXPECT_EQ(*first, WorkerProcess::Outcome::Replied);
            break;
        }
        SCOPED_TRACE(failing.failed);
        failed.insert(failing.failed);
        ASSERT_FALSE(first);
        EXPECT_EQ(first.error(), failing.failed == "socketpair"
                                     ? std::errc::too_many_files_open
                                     : std::errc::resource_unavailable_try_again);
        const Result<WorkerProcess::Outcome> again =
            worker.exchange(check.request, check.deadline, reply);
        ASSERT_TRUE(again) << again.error().message();
        EXPECT_EQ(*again, WorkerProcess::Outcome::Replied);
        EXPECT_EQ(reply.verdict, CheckVerdict::Loads);
    }
    EXPECT_EQ(failed, (std::set<std::string>{"socketpair", "spawn"}));
}

// A pool none of whose workers can start hands every folder back, each tile left out for the
// start's cause and the folder failed for want of workers; it does not wait for workers that
// never come.
TEST(WorkerStart, APoolWhoseWorkersCannotStartReportsItAndHandsTheFoldersBack) {
    for (const char* call : {"socketpair", "spawn"}) {
        SCOPED_TRACE(call);
        TempDir dir;
        CheckSettings settings;
        settings.jobs = 2;
        FolderWork work;
        for (const char* name : {"A", "B", "C"}) {
            WriteTile(dir / name);
            TileCheck tile;
            tile.folder = dir / name;
            work.tiles.push_back(std::move(tile));
        }
        failing = FailAt(test::CallFailure::kEveryCall);
        WorkerStartCalls calls = FailingCalls();
        if (std::string(call) == "socketpair")
            calls.spawn = ::posix_spawn;
        else
            calls.socketpair = ::socketpair;
        ExportProgress progress;
        TileCheckPool pool(settings, Look::TypeAndSize, progress, {}, calls);
        const std::size_t folder = pool.add(std::move(work));
        pool.finish();
        const std::optional<FolderWork> checked = pool.waitFor(folder);
        ASSERT_TRUE(checked);
        ASSERT_TRUE(checked->workersFailed);
        EXPECT_EQ(checked->workersFailed->kind, ProblemKind::WorkersUnavailable);
        EXPECT_EQ(checked->workersFailed->cause, std::string(call) == "socketpair"
                                                     ? std::errc::too_many_files_open
                                                     : std::errc::resource_unavailable_try_again);
        ASSERT_EQ(checked->tiles.size(), 3u);
        for (const TileCheck& tile : checked->tiles)
            EXPECT_EQ(tile.result.outcome.reason, TileStatus::LoadFailed);
    }
}

} // namespace
} // namespace brindle
