#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace brindle::bench {

// The most a process has held resident so far (VmHWM), in KiB; 0 once it is gone.
std::uint64_t PeakResidentKiB(pid_t pid);

// The processes whose parent is `parent`, found by reading /proc/*/stat.
std::vector<pid_t> ChildProcesses(pid_t parent);

// What a ProcessTreeSampler saw below its root process.
struct ProcessTreePeaks {
    std::uint64_t childKiB = 0;      // the root's children (brindle-export under /usr/bin/time)
    std::uint64_t grandchildKiB = 0; // their children (the tile-check workers)
    std::set<pid_t> grandchildren;   // every grandchild seen
    std::size_t samples = 0;
};

// Polls the peak resident sets of a process's children and grandchildren until stopped. A
// process that starts and ends between two polls is not seen: the sample shows what
// long-lived processes hold, not every short one.
class ProcessTreeSampler {
public:
    ProcessTreeSampler(pid_t root, std::chrono::milliseconds interval);
    ~ProcessTreeSampler();
    ProcessTreeSampler(const ProcessTreeSampler&) = delete;
    ProcessTreeSampler& operator=(const ProcessTreeSampler&) = delete;

    // Ends the polling and returns what was seen.
    ProcessTreePeaks stop();

private:
    void sample();
    void poll();

    const pid_t root_;
    const std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false; // guarded by mutex_
    ProcessTreePeaks peaks_;
    std::thread thread_;
};

} // namespace brindle::bench
