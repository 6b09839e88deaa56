#pragma once

#include "export/export_report.h"
#include "export/fs/folder_lock.h"
#include "export/scan/folder_identity.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace brindle {

// The locks of the folders one run writes (see TakeFolderLock), each taken before its folder
// is scanned and given up once what its new index no longer names is removed. A folder the
// run reaches twice at once (a folder of blocks listed before one of its blocks, listed on its
// own) shares the run's one lock rather than be kept out by it.
class RunLocks {
public:
    explicit RunLocks(FolderLockCalls calls = SystemFolderLockCalls()) : calls_(calls) {}

    // Takes the lock of `folder` into `lock`, or shares the one the run holds. Gives the
    // folder's error when another run holds it (FolderBusy); a lock the system cannot give
    // leaves the folder to go on without one, and a folder that cannot be opened to the scan,
    // which says what is wrong with it.
    std::optional<Problem> take(const std::filesystem::path& folder,
                                std::shared_ptr<FolderLock>& lock);

private:
    FolderLockCalls calls_;
    std::vector<std::pair<FolderIdentity, std::weak_ptr<FolderLock>>> held_;
};

} // namespace brindle
