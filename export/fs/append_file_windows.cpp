#include "export/fs/append_file.h"

#include "export/fs/regular_file.h"

#include <algorithm>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace brindle {
namespace fs = std::filesystem;
namespace {

std::error_code LastError() {
    return SystemError(static_cast<int>(GetLastError()));
}

Status CreateEmpty(const fs::path& file) {
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    if (!CloseHandle(handle))
        return LastError();
    return {};
}

Status AppendWhole(const fs::path& file, std::string_view bytes) {
    // The reparse point itself is opened, never what it leads to, and then refused below.
    const HANDLE handle =
        CreateFileW(file.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    std::error_code ec;
    BY_HANDLE_FILE_INFORMATION facts{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &facts) ||
        (facts.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        ec = SystemError(std::errc::not_supported);
    while (!bytes.empty() && !ec) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr))
            ec = LastError();
        bytes.remove_prefix(written);
    }
    if (!CloseHandle(handle) && !ec)
        ec = LastError();
    return ec;
}

} // namespace

AppendFileCalls SystemAppendFileCalls() {
    return AppendFileCalls{CreateEmpty, AppendWhole};
}

} // namespace brindle
