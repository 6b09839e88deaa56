#include "export/isolation/check_settings.h"

#include "export/isolation/worker_process.h"

#include <algorithm>
#include <thread>

namespace brindle {

std::chrono::milliseconds TileLimits::deadlineFor(std::uint64_t fileSize) const {
    const std::uint64_t perSize =
        deadlineBytesPerSecond ? fileSize * 1000 / deadlineBytesPerSecond : 0;
    return deadlineBase + std::chrono::milliseconds(perSize);
}

std::uint64_t TileLimits::memoryCeilingFor(std::uint64_t fileSize) const {
    const std::uint64_t wanted = memoryBase + fileSize * memoryPerFileByte;
    return std::min(wanted, memoryMax);
}

std::filesystem::path CheckSettings::program() const {
    return workerProgram.empty() ? DefaultWorkerProgram() : workerProgram;
}

unsigned CheckSettings::workerCount() const {
    return std::max(1u, jobs ? jobs : std::thread::hardware_concurrency());
}

BoundedCheck MakeCheck(CheckKind kind, const std::filesystem::path& file, std::uint64_t size,
                       const CheckSettings& settings) {
    BoundedCheck check;
    check.deadline = settings.limits.deadlineFor(size);
    check.request.kind = kind;
    check.request.mode =
        settings.fullValidation && kind == CheckKind::Tile ? ParseMode::Full : ParseMode::Fast;
    check.request.memoryCeiling = settings.limits.memoryCeilingFor(size);
    check.request.cpuSeconds = 2.0 * static_cast<double>(check.deadline.count()) / 1000.0;
    check.request.path = RequestPathText(file);
    check.request.wantBound = kind == CheckKind::Tile && settings.wantBound;
    return check;
}

} // namespace brindle
