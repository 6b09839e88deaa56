#pragma once

// What the Windows file code shares: the last error as a code, and a write of all its bytes.
#ifdef _WIN32

#include "export/error/result.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <system_error>

namespace brindle {

inline std::error_code LastWindowsError() {
    return SystemError(static_cast<int>(GetLastError()));
}

// Writes every byte to `handle`, in pieces WriteFile takes (a DWORD's worth at most).
inline std::error_code WriteAllTo(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr))
            return LastWindowsError();
        bytes.remove_prefix(written);
    }
    return {};
}

} // namespace brindle

#endif
