#include "export/fs/atomic_file.h"

#include "export/fs/regular_file.h"

#include "export/fs/windows_handle.h"

#include <cstdio>
#include <random>

namespace brindle {
namespace fs = std::filesystem;
namespace {

std::wstring TemporaryName() {
    std::random_device random;
    wchar_t name[16];
    std::swprintf(name, 16, L".b-%06x", static_cast<unsigned>(random() & 0xffffff));
    return name;
}

std::error_code WriteTemporary(const fs::path& temporary, std::string_view bytes) {
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastWindowsError();
    std::error_code ec = WriteAllTo(file, bytes);
    if (!ec && !FlushFileBuffers(file))
        ec = LastWindowsError();
    if (!CloseHandle(file) && !ec)
        ec = LastWindowsError();
    return ec;
}

// A file another program has open for a moment (a virus scanner, a search indexer, a viewer
// closing it) refuses to be replaced; the move is tried again for about a second before the
// write fails with that refusal.
bool HeldByAnother(const std::error_code& ec) {
    return ec.value() == ERROR_SHARING_VIOLATION || ec.value() == ERROR_LOCK_VIOLATION ||
           ec.value() == ERROR_ACCESS_DENIED;
}

std::error_code MoveIntoPlace(const fs::path& temporary, const fs::path& target) {
    constexpr int kAttempts = 12;
    std::error_code ec;
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return {};
        ec = LastWindowsError();
        if (attempt == kAttempts || !HeldByAnother(ec))
            return ec;
        Sleep(static_cast<DWORD>(10 * attempt));
    }
}

} // namespace

AtomicFileCalls SystemFileCalls() {
    return {};
}

// MOVEFILE_WRITE_THROUGH returns once the move is on disk; there is no folder to flush after.
Result<FileReplaced> ReplaceFileAtomically(const fs::path& target, std::string_view bytes,
                                           const AtomicFileCalls&, FileAccess) {
    const fs::path folder = target.parent_path();
    fs::path temporary;
    std::error_code ec;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = folder / TemporaryName();
        ec = WriteTemporary(temporary, bytes);
        if (ec.value() != ERROR_FILE_EXISTS)
            break;
    }
    if (!ec) {
        SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        ec = MoveIntoPlace(temporary, target);
    }
    if (ec && ec.value() != ERROR_FILE_EXISTS)
        DeleteFileW(temporary.c_str());
    if (ec)
        return ec;
    return FileReplaced{};
}

Status CheckFolderWritable(const fs::path& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastWindowsError();
    return {};
}

} // namespace brindle
