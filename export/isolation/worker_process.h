#pragma once

#include "export/error/result.h"
#include "export/isolation/worker_start_calls.h"
#include "export/protocol/tile_check_protocol.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace brindle {

// One tile-check worker process, owned by one thread of the run. It is started on first use
// and replaced after it dies, so a tile that crashes or hangs the reader costs one worker,
// never the run. The worker ends with this object. On Linux it also ends with the thread that
// started it (so that no worker outlives a run that died), so the thread that uses it must
// outlive this object. A worker that cannot be started is a failure of the call that needed
// it, with the system's cause; each later call tries to start one again.
class WorkerProcess {
public:
    enum class Outcome {
        Replied,  // `reply` holds the worker's answer
        Crashed,  // the worker died before answering (a signal, an abort, an exit)
        TimedOut, // no answer before the deadline; the worker was killed
    };

    explicit WorkerProcess(std::filesystem::path program,
                           const WorkerStartCalls& calls = SystemWorkerStartCalls());
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // Starts the worker now if it is not running, so that its start-up overlaps other work.
    Status start();
    // Sends one request and waits up to `deadline` for its reply.
    Result<Outcome> exchange(const CheckRequest& request, std::chrono::milliseconds deadline,
                             CheckReply& reply);
    // Sends `requests` at once (starting the worker if need be), to be answered in order by
    // as many calls of receive(). Nothing when they are sent; otherwise what became of the
    // worker, which is then stopped. `deadline` bounds the send alone where the channel can
    // make it wait.
    Result<std::optional<Outcome>> send(const std::vector<CheckRequest>& requests,
                                        std::chrono::milliseconds deadline);
    // Waits up to `deadline` for the next reply. A worker that crashes or overruns is stopped,
    // and so is one whose reply says it retires: the replies it owed are lost.
    Outcome receive(std::chrono::milliseconds deadline, CheckReply& reply);

private:
    struct Process;
    void stop();
    // The reply in `bytes`, as received whole: a worker whose reply does not decode is taken
    // for crashed, and one whose reply says it retires is stopped; both are stopped.
    Outcome takeReply(std::string_view bytes, CheckReply& reply);

    std::filesystem::path program_;
    WorkerStartCalls calls_;
    std::unique_ptr<Process> process_;
};

// The worker program installed beside the running executable.
std::filesystem::path DefaultWorkerProgram();

// The worker program's file name on this platform.
std::filesystem::path WorkerProgramName();

} // namespace brindle
