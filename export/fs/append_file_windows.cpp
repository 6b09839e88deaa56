#include "export/fs/append_file.h"

#include "export/fs/regular_file.h"

#include "export/fs/windows_handle.h"

namespace brindle {
namespace fs = std::filesystem;
namespace {

Status CreateEmpty(const fs::path& file) {
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastWindowsError();
    if (!CloseHandle(handle))
        return LastWindowsError();
    return {};
}

Status AppendWhole(const fs::path& file, std::string_view bytes) {
    // The reparse point itself is opened, never what it leads to, and then refused below.
    const HANDLE handle =
        CreateFileW(file.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastWindowsError();
    std::error_code ec;
    BY_HANDLE_FILE_INFORMATION facts{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &facts) ||
        (facts.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        ec = SystemError(std::errc::not_supported);
    if (!ec)
        ec = WriteAllTo(handle, bytes);
    if (!CloseHandle(handle) && !ec)
        ec = LastWindowsError();
    return ec;
}

} // namespace

AppendFileCalls SystemAppendFileCalls() {
    return AppendFileCalls{CreateEmpty, AppendWhole};
}

} // namespace brindle
