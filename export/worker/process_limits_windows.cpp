#include "export/worker/process_limits.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

namespace brindle {
namespace {

// Memory the process has committed for itself (its commit charge): what a job's process
// memory limit counts. PagefileUsage and PrivateUsage both give it; Wine fills in only the
// first.
std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PagefileUsage;
}

// User-mode processor time used so far, in the 100 ns units a job's time limit takes.
std::int64_t UserTimeUsed() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return static_cast<std::int64_t>((std::uint64_t{user.dwHighDateTime} << 32) |
                                     user.dwLowDateTime);
}

HANDLE CreateOwnJob() {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job && !AssignProcessToJobObject(job, GetCurrentProcess())) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// The job that carries the bounds: one of the process's own, nested in the kill-on-close job
// the run put it in. Like the process's resource limits elsewhere it belongs to the process,
// which cannot leave it again, so it is made once and held until the process ends. Where jobs
// cannot nest (Windows before 8, a run inside a job that forbids it) there is none: the bounds
// are left out and only the run's deadline applies.
HANDLE ThisProcessJob() {
    static const HANDLE job = CreateOwnJob();
    return job;
}

// Sets both bounds at once; a zero lifts one.
void SetJobLimits(HANDLE job, std::uint64_t memoryBytes, std::int64_t userTime) {
    if (!job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (memoryBytes > 0) {
        limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        limits.ProcessMemoryLimit = static_cast<SIZE_T>(memoryBytes);
    }
    // The system ends a process over its time limit, as it does one over RLIMIT_CPU.
    if (userTime > 0) {
        limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_TIME;
        limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart = userTime;
    }
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// A crash ends the process on the spot, with the exception's code as its exit status. Left to
// the system, it may first start a debugger or an error report (Wine does), which keeps the
// dead worker from ending until the run's deadline.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Memory a check may leave in the heap for the next one; a worker holding more is replaced,
// so that each check's ceiling stays close to what the check itself may use.
constexpr std::uint64_t kKeptAfterCheck = std::uint64_t{128} << 20;

} // namespace

ProcessLimits::ProcessLimits() : startSize_(PrivateBytes()) {}

void ProcessLimits::limitNextCheck(std::uint64_t bytes, double cpuSeconds) {
    const std::int64_t time =
        cpuSeconds > 0 ? UserTimeUsed() + static_cast<std::int64_t>((cpuSeconds + 1) * 1e7) : 0;
    SetJobLimits(ThisProcessJob(), bytes > 0 ? PrivateBytes() + bytes : 0, time);
}

// The bounds are left in force: an idle worker uses neither, and the next check sets its own.
bool ProcessLimits::endCheck() {
    return PrivateBytes() <= startSize_ + kKeptAfterCheck;
}

void EndWithParent() {
    // The run starts every worker in a job that kills it when the run ends. What is left is
    // that a worker ends at once when it crashes, instead of waiting on an error box or a
    // debugger nobody sees.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
}

} // namespace brindle
