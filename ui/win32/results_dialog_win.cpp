#include "results_dialog_win.h"

#include "dialog_common_win.h"
#include "picture_bitmap_win.h"
#include "resource.h"

#include <algorithm>

namespace brindle::win32 {
namespace {

struct ResultsState {
    std::wstring text;
    const ResultsPicture& picture;
    Layout layout;
    HBITMAP bitmap = nullptr; // the picture's, deleted when the window is gone
};

RECT ClientRectOf(HWND dialog, int id) {
    RECT rect{};
    HWND control = GetDlgItem(dialog, id);
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Shows the picture at the largest size its place holds, or, without one, gives its place to
// the report's text.
void PlacePicture(HWND dialog, ResultsState& state) {
    HWND picture = GetDlgItem(dialog, IDC_RESULTS_PICTURE);
    HWND caption = GetDlgItem(dialog, IDC_RESULTS_CAPTION);
    const RECT place = ClientRectOf(dialog, IDC_RESULTS_PICTURE);
    const SIZE fitted = FittedSize(state.picture.image,
                                   std::min(place.right - place.left, place.bottom - place.top));
    state.bitmap = BitmapOf(Resized(state.picture.image, fitted));
    if (state.bitmap == nullptr) {
        ShowWindow(picture, SW_HIDE);
        ShowWindow(caption, SW_HIDE);
        const RECT text = ClientRectOf(dialog, IDC_REPORT_TEXT);
        const RECT close = ClientRectOf(dialog, IDOK);
        SetWindowPos(GetDlgItem(dialog, IDC_REPORT_TEXT), nullptr, 0, 0, close.right - text.left,
                     text.bottom - text.top, SWP_NOMOVE | SWP_NOZORDER);
        return;
    }
    SetWindowPos(picture, nullptr, 0, 0, fitted.cx, fitted.cy, SWP_NOMOVE | SWP_NOZORDER);
    SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(state.bitmap));
    SetWindowTextW(caption, state.picture.caption.c_str());
}

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
        PlacePicture(dialog, *state);
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

ResultsPicture FirstPictureOf(const ExportReport& report) {
    for (const FolderReport& folder : report.folders)
        if (!folder.overviewPicture.empty())
            return ResultsPicture{folder.overviewPicture,
                                  folder.folder.wstring() +
                                      L" 的全貌：总览索引的最上层，俯视，上为北"};
    return {};
}

void ShowResults(HWND owner, const std::wstring& reportText, const ResultsPicture& picture) {
    ResultsState results{reportText, picture, {}, nullptr};
    DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_RESULTS), owner, ResultsProc,
                    reinterpret_cast<LPARAM>(&results));
    if (results.bitmap != nullptr)
        DeleteObject(results.bitmap);
}

} // namespace brindle::win32
