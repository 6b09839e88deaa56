#include "about_dialog_win.h"

#include "dialog_common_win.h"
#include "resource.h"

namespace brindle::win32 {
namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

void ShowAbout(HWND owner) {
    DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc, 0);
}

} // namespace brindle::win32
