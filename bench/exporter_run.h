#pragma once

#include "bench/process_memory.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindle::bench {

struct ExporterRun {
    double seconds = 0;
    int exitCode = -1;
    // /usr/bin/time's "Maximum resident set size": Linux folds the peak of every child the
    // exporter waited for (its workers) into it, so it covers the whole process tree.
    std::uint64_t maxResidentKiB = 0;
    double cpuSeconds = 0;         // user and system time, the reaped workers' included likewise
    std::uint64_t minorFaults = 0; // likewise
    std::optional<ProcessTreePeaks> sampled; // with sampleMemory: exporter and workers apart
};

// Runs brindle-export with `arguments` under /usr/bin/time -v, its output going to `log`.
// The wall time is taken around the whole process. With `sampleMemory` the exporter's and its
// workers' peak resident sets are also polled every 50 ms (which costs a little CPU, so timed
// runs leave it off). Throws when the program cannot be started.
ExporterRun RunExporter(const std::vector<std::string>& arguments, const std::filesystem::path& log,
                        bool sampleMemory = false);

// Runs brindle-bench-validate with `arguments` and times it as RunExporter times the exporter,
// on the heap the exporter's workers have, any program's, since it checks the tiles itself
// where the exporter has its workers check them.
ExporterRun RunInProcessValidator(const std::vector<std::string>& arguments,
                                  const std::filesystem::path& log);

// Runs `arguments` (the program first) with the environment this program was started with,
// its output going to `log`; gives its exit status, or -1 when it did not exit.
int RunWithStartEnvironment(const std::vector<std::string>& arguments,
                            const std::filesystem::path& log);

// The file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& file);

} // namespace brindle::bench
