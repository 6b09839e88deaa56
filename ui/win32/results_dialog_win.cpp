#include "results_dialog_win.h"

#include "dialog_common_win.h"
#include "resource.h"

#include <algorithm>

namespace brindle::win32 {
namespace {

struct ResultsState {
    std::wstring text;
    Layout layout;
};

bool CopyToClipboard(HWND owner, const std::wstring& text) {
    if (!OpenClipboard(owner))
        return false;
    EmptyClipboard();
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool copied = false;
    if (memory) {
        if (void* target = GlobalLock(memory)) {
            std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(target));
            GlobalUnlock(memory);
            // The clipboard owns the memory once it takes it.
            copied = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!copied)
            GlobalFree(memory);
    }
    CloseClipboard();
    return copied;
}

INT_PTR CALLBACK ResultsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ResultsState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        state = reinterpret_cast<ResultsState*>(lParam);
        SetIcons(dialog);
        // A multi-line edit control holds 32K characters unless told otherwise.
        SendDlgItemMessageW(dialog, IDC_REPORT_TEXT, EM_SETLIMITTEXT, 0, 0);
        SetDlgItemTextW(dialog, IDC_REPORT_TEXT, state->text.c_str());
        state->layout.capture(dialog, IDC_REPORT_TEXT);
        SetFocus(GetDlgItem(dialog, IDOK));
        return FALSE; // the focus is set
    }
    case WM_SIZE:
        if (state)
            state->layout.apply();
        return TRUE;
    case WM_GETMINMAXINFO:
        if (state)
            state->layout.limit(*reinterpret_cast<MINMAXINFO*>(lParam));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_COPY_REPORT:
            if (state)
                CopyToClipboard(dialog, state->text);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

void ShowResults(HWND owner, const std::wstring& reportText) {
    ResultsState results{reportText, {}};
    DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_RESULTS), owner, ResultsProc,
                    reinterpret_cast<LPARAM>(&results));
}

} // namespace brindle::win32
