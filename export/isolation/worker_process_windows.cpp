#include "export/isolation/worker_process.h"

#include "export/fs/regular_file.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

// The run talks to each worker through a named pipe opened for overlapped I/O on the run's
// side: an anonymous pipe cannot be waited on with a deadline, and polling one would add
// milliseconds to tiles that take about as long to check. Every wait also watches the
// worker's process handle, so a dead worker is seen at once even if a sibling worker started
// at the same moment inherited a copy of its pipe.

namespace brindle {
namespace fs = std::filesystem;
namespace {

std::error_code LastError() {
    return SystemError(static_cast<int>(GetLastError()));
}

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : handle_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    explicit operator bool() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (*this)
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// A pipe name no other pipe on the machine has: the process, the object asking, the clock and
// a random number. FILE_FLAG_FIRST_PIPE_INSTANCE below refuses a name that is somehow taken
// rather than joining another pipe.
std::wstring UniquePipeName(const void* owner) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    std::random_device random;
    return L"\\\\.\\pipe\\brindle-tile-check-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(reinterpret_cast<std::uintptr_t>(owner)) + L"-" +
           std::to_wstring(now.QuadPart) + L"-" + std::to_wstring(random());
}

// Both ends of one duplex pipe: the run's, overlapped; the worker's, inheritable.
struct PipeEnds {
    Handle ours;
    Handle theirs;
};

bool CreateWorkerPipe(const void* owner, PipeEnds& ends, std::error_code& error) {
    constexpr DWORD kBufferSize = 1 << 16;
    const std::wstring name = UniquePipeName(owner);
    ends.ours.reset(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kBufferSize, kBufferSize, 0, nullptr));
    if (!ends.ours) {
        error = LastError();
        return false;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ends.theirs.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                  OPEN_EXISTING, 0, nullptr));
    if (!ends.theirs) {
        error = LastError();
        return false;
    }
    // The worker's end is already open, so the pipe is connected; ConnectNamedPipe only says
    // so (ERROR_PIPE_CONNECTED).
    OVERLAPPED connect{};
    if (!ConnectNamedPipe(ends.ours.get(), &connect) && GetLastError() != ERROR_PIPE_CONNECTED) {
        error = LastError();
        return false;
    }
    return true;
}

// The kill-on-close job the worker runs in: it ends when the run's process does, however that
// ends, and a crash in it is never held up by an error dialog.
Handle CreateWorkerJob() {
    Handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job)
        return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits))
        job.reset();
    return job;
}

// Which of the handles a worker inherits: its pipe end (as standard input, and a duplicate as
// standard output, so that the worker can close one without the other) and the null device
// for standard error. Nothing else, so it holds no other worker's pipe.
class InheritedHandles {
public:
    bool prepare(HANDLE* handles, std::size_t count) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
            list_ = nullptr;
            return false;
        }
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                       count * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
            return false;
        }
        return true;
    }
    ~InheritedHandles() {
        if (list_)
            DeleteProcThreadAttributeList(list_);
    }
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

private:
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

enum class Wait { Done, Died, TimedOut, Failed };

// Waits for overlapped I/O on `pipe` to finish, the worker to die, or the deadline. I/O that
// does not finish is cancelled before this returns, so `io` and its buffer are free again.
Wait FinishIo(HANDLE pipe, HANDLE process, OVERLAPPED& io, BOOL started,
              std::chrono::steady_clock::time_point until, DWORD& transferred) {
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return GetLastError() == ERROR_BROKEN_PIPE ? Wait::Died : Wait::Failed;
    Wait outcome = Wait::Done;
    if (!started) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        const DWORD timeout = static_cast<DWORD>(
            std::clamp<long long>(left.count(), 0, static_cast<long long>(INFINITE - 1)));
        const HANDLE events[2] = {io.hEvent, process};
        switch (WaitForMultipleObjects(2, events, FALSE, timeout)) {
        case WAIT_OBJECT_0:
            break;
        case WAIT_OBJECT_0 + 1:
            outcome = Wait::Died;
            break;
        case WAIT_TIMEOUT:
            outcome = Wait::TimedOut;
            break;
        default:
            outcome = Wait::Failed;
            break;
        }
        if (outcome != Wait::Done)
            CancelIoEx(pipe, &io);
    }
    // After a cancel this waits only for the cancel itself; I/O that finished meanwhile counts.
    if (GetOverlappedResult(pipe, &io, &transferred, TRUE))
        return Wait::Done;
    if (outcome == Wait::Done)
        outcome = GetLastError() == ERROR_BROKEN_PIPE ? Wait::Died : Wait::Failed;
    return outcome;
}

// Moves all `size` bytes through `pipe`, by as many overlapped reads or writes as it takes
// (`transfer` starts one), within `deadline`. One that moves nothing means the worker is gone.
template <typename Transfer>
Wait TransferAll(HANDLE pipe, HANDLE process, HANDLE event, char* bytes, std::size_t size,
                 std::chrono::milliseconds deadline, Transfer transfer) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    std::size_t moved = 0;
    while (moved < size) {
        OVERLAPPED io{};
        io.hEvent = event;
        ResetEvent(event);
        DWORD done = 0;
        const BOOL started = transfer(pipe, bytes + moved, static_cast<DWORD>(size - moved), &io);
        const Wait wait = FinishIo(pipe, process, io, started, until, done);
        if (wait != Wait::Done)
            return wait;
        if (done == 0)
            return Wait::Died;
        moved += done;
    }
    return Wait::Done;
}

// What a transfer that did not finish makes of the worker.
WorkerProcess::Outcome OutcomeOf(Wait wait) {
    return wait == Wait::TimedOut ? WorkerProcess::Outcome::TimedOut
                                  : WorkerProcess::Outcome::Crashed;
}

} // namespace

struct WorkerProcess::Process {
    Handle job;
    Handle process;
    Handle pipe;
    Handle ioEvent;
};

WorkerStartCalls SystemWorkerStartCalls() {
    return {};
}

WorkerProcess::WorkerProcess(fs::path program, const WorkerStartCalls& calls)
    : program_(std::move(program)), calls_(calls) {}

WorkerProcess::~WorkerProcess() {
    stop();
}

Status WorkerProcess::start() {
    if (process_)
        return {};
    auto process = std::make_unique<Process>();
    PipeEnds pipe;
    if (std::error_code error; !CreateWorkerPipe(this, pipe, error))
        return error;
    process->ioEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!process->ioEvent)
        return LastError();
    HANDLE output = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), pipe.theirs.get(), GetCurrentProcess(), &output, 0,
                         TRUE, DUPLICATE_SAME_ACCESS))
        return LastError();
    const Handle theirOutput(output);
    // The reader's complaints about a damaged tile would only garble the run's own output.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const Handle nowhere(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!nowhere)
        return LastError();

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = pipe.theirs.get();
    startup.StartupInfo.hStdOutput = theirOutput.get();
    startup.StartupInfo.hStdError = nowhere.get();
    HANDLE inherited[3] = {pipe.theirs.get(), theirOutput.get(), nowhere.get()};
    InheritedHandles only;
    // No console: the worker talks only through the handles above, and a console of its own,
    // even a hidden one, is a console host process started beside every worker.
    DWORD flags = CREATE_SUSPENDED | DETACHED_PROCESS;
    if (only.prepare(inherited, 3)) {
        startup.lpAttributeList = only.list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    std::wstring commandLine = L"\"" + program_.native() + L"\" --serve";
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(program_.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                        nullptr, nullptr, &startup.StartupInfo, &created))
        return LastError();
    process->process.reset(created.hProcess);
    const Handle thread(created.hThread);
    // Without a job (one the run is in may forbid it) the worker still ends with this object;
    // it only outlives a run that is killed.
    process->job = CreateWorkerJob();
    if (process->job && !AssignProcessToJobObject(process->job.get(), created.hProcess))
        process->job.reset();
    ResumeThread(created.hThread);
    process->pipe.reset(pipe.ours.release());
    process_ = std::move(process);
    return {};
}

void WorkerProcess::stop() {
    if (!process_)
        return;
    // An idle worker would end when its input closes, one stuck in a tile only when killed;
    // killing both is as quick and leaves nothing to wait for.
    TerminateProcess(process_->process.get(), 1);
    WaitForSingleObject(process_->process.get(), INFINITE);
    process_.reset();
}

Result<std::optional<WorkerProcess::Outcome>>
WorkerProcess::send(const std::vector<CheckRequest>& requests, std::chrono::milliseconds deadline) {
    if (const Status started = start(); !started)
        return started.error();
    std::string bytes = EncodeRequests(requests);
    const Wait wait = TransferAll(process_->pipe.get(), process_->process.get(),
                                  process_->ioEvent.get(), bytes.data(), bytes.size(), deadline,
                                  [](HANDLE to, char* data, DWORD size, OVERLAPPED* io) {
                                      return WriteFile(to, data, size, nullptr, io);
                                  });
    if (wait == Wait::Done)
        return std::optional<Outcome>();
    stop();
    return std::optional<Outcome>(OutcomeOf(wait));
}

WorkerProcess::Outcome WorkerProcess::receive(std::chrono::milliseconds deadline,
                                              CheckReply& reply) {
    if (!process_)
        return Outcome::Crashed;
    const auto until = std::chrono::steady_clock::now() + deadline;
    const auto read = [this, until](char* data, std::size_t size) {
        const auto left = std::max(std::chrono::milliseconds(0),
                                   std::chrono::duration_cast<std::chrono::milliseconds>(
                                       until - std::chrono::steady_clock::now()));
        return TransferAll(process_->pipe.get(), process_->process.get(), process_->ioEvent.get(),
                           data, size, left,
                           [](HANDLE from, char* bytes, DWORD count, OVERLAPPED* io) {
                               return ReadFile(from, bytes, count, nullptr, io);
                           });
    };
    std::string answer(kReplySize, '\0');
    Wait wait = read(answer.data(), answer.size());
    if (const std::size_t trailer = ReplyTrailerSize(answer); wait == Wait::Done && trailer > 0) {
        answer.resize(kReplySize + trailer);
        wait = read(answer.data() + kReplySize, trailer);
    }
    if (wait != Wait::Done) {
        stop();
        return OutcomeOf(wait);
    }
    return takeReply(answer, reply);
}

fs::path WorkerProgramName() {
    return L"brindle-tile-check.exe";
}

fs::path DefaultWorkerProgram() {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (length == 0)
            return WorkerProgramName();
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        self.resize(self.size() * 2);
    }
    return fs::path(self).parent_path() / WorkerProgramName();
}

} // namespace brindle
