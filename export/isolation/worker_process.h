#pragma once

#include "export/protocol/tile_check_protocol.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace brindle {

// One tile-check worker process, owned by one thread of the run. It is started on first use
// and replaced after it dies, so a tile that crashes or hangs the reader costs one worker,
// never the run. The worker ends with this object. On Linux it also ends with the thread that
// started it (so that no worker outlives a run that died), so the thread that uses it must
// outlive this object.
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
    Outcome exchange(const CheckRequest& request, std::chrono::milliseconds deadline,
                     CheckReply& reply);
    std::error_code startError() const { return startError_; }

private:
    struct Process;
    void stop();

    std::filesystem::path program_;
    std::unique_ptr<Process> process_;
    std::error_code startError_;
};

// The worker program installed beside the running executable.
std::filesystem::path DefaultWorkerProgram();

// The worker program's file name on this platform.
std::filesystem::path WorkerProgramName();

} // namespace brindle
