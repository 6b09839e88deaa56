#pragma once

#include <windows.h>

namespace brindle::win32 {

// The About box: the program's name, version and what it is built on.
void ShowAbout(HWND owner);

} // namespace brindle::win32
