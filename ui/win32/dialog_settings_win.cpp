#include "dialog_settings_win.h"

#include <windows.h>

namespace brindle::win32 {

namespace {

constexpr const wchar_t* kKey = L"Software\\Brindle";
constexpr const wchar_t* kTilesetFolder = L"TilesetFolder";

} // namespace

std::wstring RememberedTilesetFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    std::wstring folder;
    DWORD type = 0;
    DWORD bytes = 0;
    // A folder is at most 32767 characters; a longer value is no folder of ours.
    if (RegQueryValueExW(key, kTilesetFolder, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
        type == REG_SZ && bytes <= 32768 * sizeof(wchar_t)) {
        folder.resize(bytes / sizeof(wchar_t) + 1);
        if (RegQueryValueExW(key, kTilesetFolder, nullptr, &type,
                             reinterpret_cast<BYTE*>(folder.data()), &bytes) == ERROR_SUCCESS &&
            type == REG_SZ)
            // The value may or may not end in a null, and may hold fewer bytes than first said.
            folder.resize(wcsnlen(folder.c_str(), bytes / sizeof(wchar_t)));
        else
            folder.clear();
    }
    RegCloseKey(key);
    return folder;
}

void RememberTilesetFolder(const std::wstring& folder) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, kTilesetFolder, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

} // namespace brindle::win32
