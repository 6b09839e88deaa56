#include "bench/in_process_validation.h"

#include "bench/address_space_ceiling.h"
#include "export/scan/subfolder_scan.h"
#include "export/worker/tile_validation.h"

#include <algorithm>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

double ProcessorSeconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

rusage Usage() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage;
}

std::vector<CheckRequest> ListRequests(const std::vector<fs::path>& folders) {
    std::vector<CheckRequest> requests;
    for (const fs::path& folder : folders) {
        for (const fs::path& subfolder : ListSubfolders(folder)) {
            requests.push_back(TileRequestFor(subfolder));
        }
    }
    return requests;
}

} // namespace

CheckRequest TileRequestFor(const fs::path& subfolder) {
    CheckRequest request;
    request.kind = CheckKind::Tile;
    request.mode = ParseMode::Fast;
    request.path = RequestPathText(subfolder / "root.osgb");
    return request;
}

std::vector<CheckVerdict> CheckOnThreads(const TileValidator& validator,
                                         const std::vector<CheckRequest>& requests,
                                         unsigned threads) {
    std::vector<CheckVerdict> verdicts(requests.size(), CheckVerdict::DoesNotLoad);
    std::atomic<std::size_t> next{0};
    const auto checker = [&] {
        for (std::size_t i = next++; i < requests.size(); i = next++) {
            verdicts[i] = validator.check(requests[i]).verdict;
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < std::max(1u, threads); ++t) {
        pool.emplace_back(checker);
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
    return verdicts;
}

InProcessRun ValidateInProcess(const std::vector<fs::path>& folders, unsigned threads) {
    threads = std::max(1u, threads);
    const ScopedAddressSpaceCeiling ceiling(threads * kCeilingPerThread);
    const TileValidator validator;

    const rusage before = Usage();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<CheckRequest> requests = ListRequests(folders);
    const std::vector<CheckVerdict> verdicts = CheckOnThreads(validator, requests, threads);
    InProcessRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const rusage after = Usage();
    run.cpuSeconds = ProcessorSeconds(after) - ProcessorSeconds(before);
    run.minorFaults = static_cast<std::uint64_t>(after.ru_minflt - before.ru_minflt);

    run.checked = requests.size();
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (verdicts[i] == CheckVerdict::Loads) {
            run.loaded.insert(RequestPath(requests[i]));
        } else if (verdicts[i] == CheckVerdict::OutOfMemory) {
            ++run.outOfMemory;
        }
    }
    return run;
}

} // namespace brindle::bench
