#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace brindle::win32 {

// The main dialog: a list of folders to export (chosen, dropped on it, or `initialFolders`,
// those dropped on the program's icon), the index kind, and OK, which exports them under the
// progress dialog and shows the report. Returns IDOK once the job is done, IDCANCEL when the
// user left without it.
INT_PTR ShowMainDialog(HINSTANCE instance, std::vector<std::wstring> initialFolders);

} // namespace brindle::win32
