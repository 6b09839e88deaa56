#include "export/fs/folder_lock.h"

#include "export/fs/regular_file.h"
#include "export/fs/windows_handle.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

void* OpenFolderHandle(const wchar_t* path) {
    // No access asked for: the handle only tells which folder this is, and keeps nobody out.
    return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

void* OpenLockFile(const wchar_t* path) {
    // Shared: what keeps a second run out is the lock, not the opening, so that a lock file
    // left by a run that ended is simply locked again. Not inherited by the workers.
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int LockWholeFile(void* handle) {
    OVERLAPPED at{};
    return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                      MAXDWORD, &at)
               ? 1
               : 0;
}

// Where the lock files go: beside the user's verdict cache, else in the user's temporary
// folder. Empty when neither is known.
fs::path LockFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH)
        return fs::path(std::wstring(buffer, length)) / L"brindle" / L"locks";
    const DWORD temp = GetTempPathW(MAX_PATH + 1, buffer);
    if (temp > 0 && temp <= MAX_PATH)
        return fs::path(std::wstring(buffer, temp)) / L"brindle-locks";
    return {};
}

// The lock file's name: the folder's identity, the same whichever path names the folder.
Result<std::wstring> LockFileName(const fs::path& folder, const FolderLockCalls& calls) {
    const HANDLE handle = calls.openFolder(folder.c_str());
    if (handle == INVALID_HANDLE_VALUE)
        return LastWindowsError();
    BY_HANDLE_FILE_INFORMATION info{};
    const bool told = GetFileInformationByHandle(handle, &info) != 0;
    const std::error_code cause = told ? std::error_code() : LastWindowsError();
    CloseHandle(handle);
    if (!told)
        return cause;
    wchar_t name[64];
    std::swprintf(name, 64, L"%08lx-%08lx%08lx.lock",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    return std::wstring(name);
}

} // namespace

FolderLockCalls SystemFolderLockCalls() {
    FolderLockCalls calls;
    calls.openFolder = OpenFolderHandle;
    calls.openLockFile = OpenLockFile;
    calls.lockFile = LockWholeFile;
    return calls;
}

FolderLock::~FolderLock() {
    // Closing the handle releases its lock.
    if (handle_)
        CloseHandle(handle_);
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        if (handle_)
            CloseHandle(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

bool FolderLock::held() const {
    return handle_ != nullptr;
}

Result<FolderLock> TakeFolderLock(const fs::path& folder, const FolderLockCalls& calls) {
    const Result<std::wstring> name = LockFileName(folder, calls);
    if (!name)
        return name.error();
    const fs::path lockFolder = LockFolder();
    std::error_code ec;
    if (lockFolder.empty() || (fs::create_directories(lockFolder, ec), ec))
        return FolderLock();
    const HANDLE handle = calls.openLockFile((lockFolder / *name).c_str());
    if (handle == INVALID_HANDLE_VALUE)
        return FolderLock();
    FolderLock lock;
    lock.handle_ = handle;
    if (calls.lockFile(handle))
        return lock;
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION)
        return FolderLockHeldError();
    return FolderLock();
}

} // namespace brindle
