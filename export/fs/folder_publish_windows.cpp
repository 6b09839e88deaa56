#include "export/fs/folder_publish.h"

#include "export/fs/regular_file.h"
#include "export/fs/windows_handle.h"

namespace brindle {
namespace fs = std::filesystem;

Status FlushFolder(const fs::path& folder) {
    // NTFS keeps its folders' entries in its journal: only the files' bytes need flushing,
    // each through a handle that may write, as FlushFileBuffers wants.
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || it->is_symlink(typeError))
            continue;
        const HANDLE file =
            CreateFileW(it->path().c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return LastWindowsError();
        const bool flushed = FlushFileBuffers(file) != 0;
        const std::error_code cause = flushed ? std::error_code() : LastWindowsError();
        CloseHandle(file);
        if (!flushed)
            return cause;
    }
    if (ec)
        return SystemError(ec);
    return {};
}

Status RenameFolderWithoutReplacing(const fs::path& from, const fs::path& to) {
    // Without MOVEFILE_REPLACE_EXISTING a move never replaces anything.
    if (MoveFileExW(from.c_str(), to.c_str(), 0))
        return {};
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return SystemError(std::errc::file_exists);
    return SystemError(static_cast<int>(error));
}

} // namespace brindle
