#include "export/fs/scratch_file.h"

#include "export/fs/regular_file.h"
#include "export/fs/windows_handle.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace brindle {
namespace fs = std::filesystem;

struct ScratchFile::Handle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint64_t size = 0;
    ~Handle() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

namespace {

constexpr int kTries = 16;

} // namespace

ScratchFile::ScratchFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ScratchFile::~ScratchFile() = default;

Result<std::unique_ptr<ScratchFile>> ScratchFile::Create(const fs::path& folder) {
    std::random_device random;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        wchar_t name[40];
        std::swprintf(name, 40, L".brindle-scratch-%08x", static_cast<unsigned>(random()));
        // Shared with nobody, and deleted by the system when this one handle closes, the
        // process's end included.
        const HANDLE handle =
            CreateFileW((folder / name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        if (handle == INVALID_HANDLE_VALUE)
            return LastWindowsError();
        auto owned = std::make_unique<Handle>();
        owned->handle = handle;
        return std::unique_ptr<ScratchFile>(new ScratchFile(std::move(owned)));
    }
    return SystemError(std::errc::file_exists);
}

Status ScratchFile::append(std::string_view bytes) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(handle_->size);
    if (!SetFilePointerEx(handle_->handle, end, nullptr, FILE_BEGIN))
        return LastWindowsError();
    const std::error_code written = WriteAllTo(handle_->handle, bytes);
    // What was written stays counted only when all of it was: a part is never read.
    if (!written)
        handle_->size += bytes.size();
    return written;
}

Status ScratchFile::readAt(std::uint64_t offset, char* into, std::size_t size) const {
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!ReadFile(handle_->handle, into, chunk, &read, &at))
            return LastWindowsError();
        if (read == 0)
            return SystemError(std::errc::io_error);
        into += read;
        size -= read;
        offset += read;
    }
    return {};
}

} // namespace brindle
