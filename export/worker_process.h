#pragma once

#include "export/tile_check_protocol.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace brindle {

// One tile-check worker process, owned by one thread of the run. It is started on first use
// and replaced after it dies, so a tile that crashes or hangs the reader costs one worker,
// never the run. The worker ends with this object.
class WorkerProcess {
public:
    enum class Outcome {
        Replied,     // `reply` holds the worker's answer
        Crashed,     // the worker died before answering (a signal, an abort, an exit)
        TimedOut,    // no answer before the deadline; the worker was killed
        Unavailable, // the worker could not be started; `startError` says why
    };

    explicit WorkerProcess(std::filesystem::path program);
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // Starts the worker now if it is not running, so that its start-up overlaps other work.
    bool start();
    // Sends one request and waits at most `deadline` for its reply.
    Outcome exchange(const CheckRequest& request, std::chrono::milliseconds deadline,
                     CheckReply& reply);

    // Sends a request without waiting, so the worker can go on to it while the caller deals
    // with the reply before it. collect() takes the replies in the order of the requests.
    // When the worker ends (a crash, a deadline, a retiring reply), every request still
    // posted is lost; posted() tells how many are outstanding.
    void post(const CheckRequest& request);
    Outcome collect(std::chrono::milliseconds deadline, CheckReply& reply);
    std::size_t posted() const { return posted_.size(); }
    std::error_code startError() const { return startError_; }

private:
    struct Process;
    void stop();

    std::filesystem::path program_;
    std::unique_ptr<Process> process_;
    std::error_code startError_;
    std::deque<CheckRequest> posted_; // sent, or to be sent, and not yet answered
};

// The worker program installed beside the running executable.
std::filesystem::path DefaultWorkerProgram();

// The worker program's file name on this platform.
std::filesystem::path WorkerProgramName();

} // namespace brindle
