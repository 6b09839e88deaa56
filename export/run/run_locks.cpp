#include "export/run/run_locks.h"

#include <algorithm>

namespace brindle {
namespace fs = std::filesystem;

std::optional<Problem> RunLocks::take(const fs::path& folder, std::shared_ptr<FolderLock>& lock) {
    held_.erase(std::remove_if(held_.begin(), held_.end(),
                               [](const auto& held) { return held.second.expired(); }),
                held_.end());
    FolderIdentity identity = IdentifyFolder(folder);
    for (const auto& held : held_)
        if (SameFolder(held.first, identity)) {
            lock = held.second.lock();
            return std::nullopt;
        }
    Result<FolderLock> taken = TakeFolderLock(folder, calls_);
    if (!taken) {
        if (IsFolderLockHeld(taken.error()))
            return Problem{ProblemKind::FolderBusy, folder, {}};
        return std::nullopt;
    }
    lock = std::make_shared<FolderLock>(std::move(*taken));
    held_.emplace_back(std::move(identity), lock);
    return std::nullopt;
}

} // namespace brindle
