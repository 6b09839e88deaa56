#include "export/fs/folder_lock.h"

#include "export/fs/regular_file.h"

#include <system_error>

namespace brindle {

// Another holder is one answer on every system: the lock is taken without waiting.
std::error_code FolderLockHeldError() {
    return SystemError(std::errc::resource_unavailable_try_again);
}

bool IsFolderLockHeld(const std::error_code& cause) {
    return cause == std::errc::resource_unavailable_try_again ||
           cause == std::errc::operation_would_block;
}

} // namespace brindle
