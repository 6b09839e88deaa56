#pragma once

#include "export/export_report.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace brindle::win32 {

// A picture's pixels as a 24-bit device-independent bitmap holds them: blue, green, red, each
// row padded to four bytes, the top row first (the header's height is negative). Empty when
// the picture is empty or its pixels do not fill it.
std::vector<std::uint8_t> DibPixels(const ReportImage& picture);

// The picture as a bitmap of its own size; nullptr when it has no pixels or the system
// refuses one. The caller deletes it (DeleteObject).
HBITMAP BitmapOf(const ReportImage& picture);

// The size that shows the whole picture within `box` pixels a side, keeping its proportions.
SIZE FittedSize(const ReportImage& picture, int box);

// The picture at another size, each new pixel the mean of the old ones it covers, by area: the
// system's own stretching keeps one pixel of each few and, by default, darkens what it drops.
ReportImage Resized(const ReportImage& picture, SIZE size);

} // namespace brindle::win32
