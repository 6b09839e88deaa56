#include "dialog_common_win.h"

#include "report_text_win.h"
#include "resource.h"

#include <algorithm>

namespace brindle::win32 {

std::wstring T(const char* utf8) {
    return WideFromUtf8(utf8);
}

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

int Message(HWND owner, const std::wstring& text, UINT flags) {
    return MessageBoxW(owner, text.c_str(), L"Brindle", flags);
}

void SetIcons(HWND dialog) {
    const auto load = [](int metricX, int metricY) {
        return static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME_ICON),
                                             IMAGE_ICON, GetSystemMetrics(metricX),
                                             GetSystemMetrics(metricY), LR_SHARED));
    };
    SendMessageW(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(load(SM_CXICON, SM_CYICON)));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(load(SM_CXSMICON, SM_CYSMICON)));
}

void Layout::capture(HWND dialog, int mainId) {
    m_dialog = dialog;
    RECT client;
    GetClientRect(dialog, &client);
    m_initialClient = {client.right, client.bottom};
    RECT window;
    GetWindowRect(dialog, &window);
    m_minimum = {window.right - window.left, window.bottom - window.top};
    RECT main = rectOf(GetDlgItem(dialog, mainId));
    m_controls.clear();
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const RECT rect = rectOf(child);
        Anchor anchor{child, rect, false, false, false};
        if (GetDlgCtrlID(child) == mainId)
            anchor.grow = true;
        else {
            anchor.moveX = rect.left >= main.right;
            anchor.moveY = rect.top >= main.bottom;
        }
        m_controls.push_back(anchor);
    }
}

void Layout::apply() const {
    RECT client;
    GetClientRect(m_dialog, &client);
    const int dx = std::max<LONG>(0, client.right - m_initialClient.cx);
    const int dy = std::max<LONG>(0, client.bottom - m_initialClient.cy);
    HDWP positions = BeginDeferWindowPos(static_cast<int>(m_controls.size()));
    for (const Anchor& anchor : m_controls) {
        RECT rect = anchor.initial;
        if (anchor.grow) {
            rect.right += dx;
            rect.bottom += dy;
        }
        if (anchor.moveX)
            OffsetRect(&rect, dx, 0);
        if (anchor.moveY)
            OffsetRect(&rect, 0, dy);
        if (positions)
            positions = DeferWindowPos(positions, anchor.control, nullptr, rect.left, rect.top,
                                       rect.right - rect.left, rect.bottom - rect.top,
                                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (positions)
        EndDeferWindowPos(positions);
    InvalidateRect(m_dialog, nullptr, TRUE);
}

RECT Layout::rectOf(HWND control) const {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, m_dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace brindle::win32
