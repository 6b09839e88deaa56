#pragma once

#ifndef _WIN32
#include <spawn.h>
#include <sys/types.h>
#endif

namespace brindle {

// The system calls that start a worker, which tests make fail on demand;
// SystemWorkerStartCalls() gives the real ones. On Windows a worker starts through the real
// calls alone.
struct WorkerStartCalls {
#ifndef _WIN32
    int (*socketpair)(int domain, int type, int protocol, int ends[2]) = nullptr;
    // As posix_spawn: 0, or the error number.
    int (*spawn)(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes, char* const argv[],
                 char* const envp[]) = nullptr;
#endif
};
WorkerStartCalls SystemWorkerStartCalls();

} // namespace brindle
