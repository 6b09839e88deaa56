#pragma once

#include "export/export_report.h"

#include <windows.h>

namespace brindle::win32 {

// Asks whether to replace the root.osgb that `why` is about (or to write the index it
// names); No is the default button, so Enter keeps the file.
bool AskReplace(HWND owner, const Problem& why);

} // namespace brindle::win32
