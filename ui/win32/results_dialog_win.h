#pragma once

#include "export/export_report.h"

#include <windows.h>

#include <string>

namespace brindle::win32 {

// A block's overview seen from above, and the line under it that says which block it is.
struct ResultsPicture {
    ReportImage image;
    std::wstring caption;
};

// The picture of the first folder of the report an overview was built for; an empty image
// when there is none.
ResultsPicture FirstPictureOf(const ExportReport& report);

// The results window: the whole report (see ReportPlainText) in a resizable window, with a
// button that copies it, and beside it the picture, when it has one, so that the user sees at
// once whether the whole block is there. Returns once the user closes it.
void ShowResults(HWND owner, const std::wstring& reportText, const ResultsPicture& picture);

} // namespace brindle::win32
