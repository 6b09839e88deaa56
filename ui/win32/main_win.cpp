// Brindle's dialog for Windows, on the plain Win32 API: a list of folders to export, and the
// export run on a worker thread under a progress dialog, then its report. Each dialog has a
// file of its own (*_dialog_win.cpp, export_progress_win.cpp, replace_question_win.cpp);
// this one starts the program.

#include "main_dialog_win.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <utility>
#include <vector>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The shell's folder browser wants a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    std::vector<std::wstring> arguments;
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            arguments.emplace_back(argv[i]);
        LocalFree(argv);
    }
    const INT_PTR result = brindle::win32::ShowMainDialog(instance, std::move(arguments));
    if (SUCCEEDED(com))
        CoUninitialize();
    return result == IDOK ? 0 : 1;
}
