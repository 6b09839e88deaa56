#pragma once

#include <windows.h>

#include <string>

namespace brindle::win32 {

// The results window: the whole report (see ReportPlainText) in a resizable window, with a
// button that copies it. Returns once the user closes it.
void ShowResults(HWND owner, const std::wstring& reportText);

} // namespace brindle::win32
