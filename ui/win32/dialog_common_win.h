#pragma once

// What the Win32 dialogs share: their texts, icons, message boxes and resizing.

#include <windows.h>

#include <string>
#include <vector>

namespace brindle::win32 {

// A literal of the dialogs' own (UTF-8 in the source) as Windows shows it.
std::wstring T(const char* utf8);

HINSTANCE Instance();

// A message box titled Brindle; returns the button pressed.
int Message(HWND owner, const std::wstring& text, UINT flags);

// The program's icon in the dialog's title bar and task bar entry.
void SetIcons(HWND dialog);

// Keeps a resizable dialog's controls in place as it is resized: the main control (the list,
// the report) grows with the window, the controls right of it move right, those below it
// move down. The window does not shrink below the size it opened at.
class Layout {
public:
    void capture(HWND dialog, int mainId);
    void apply() const;
    void limit(MINMAXINFO& info) const { info.ptMinTrackSize = {m_minimum.cx, m_minimum.cy}; }

private:
    struct Anchor {
        HWND control;
        RECT initial;
        bool grow, moveX, moveY;
    };

    RECT rectOf(HWND control) const;

    HWND m_dialog = nullptr;
    SIZE m_initialClient{};
    SIZE m_minimum{};
    std::vector<Anchor> m_controls;
};

} // namespace brindle::win32
