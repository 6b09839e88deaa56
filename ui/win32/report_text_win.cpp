#include "report_text_win.h"

#include "wording/report_wording.h"

#include <windows.h>

namespace brindle::win32 {
namespace {

// UTF-8 with "\n" line ends as UTF-16 with "\r\n" ones.
std::wstring WideWithWindowsLineEnds(const std::string& text) {
    const std::wstring wide = WideFromUtf8(text);
    std::wstring result;
    result.reserve(wide.size() + wide.size() / 16);
    for (const wchar_t c : wide) {
        if (c == L'\n')
            result += L'\r';
        result += c;
    }
    return result;
}

} // namespace

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::wstring ReportPlainText(const ExportReport& report) {
    return WideWithWindowsLineEnds(
        wording::PlainText(wording::DescribeReport(report), wording::BlockLayout::Nested));
}

std::wstring ReplaceQuestion(const Problem& why) {
    return WideFromUtf8(wording::ReplaceQuestion(why));
}

std::wstring PagedIndexHint(const std::vector<std::filesystem::path>& bigFolders) {
    return WideFromUtf8(wording::PagedIndexHint(bigFolders));
}

std::wstring RunOutOfMemory() {
    return WideFromUtf8(wording::RunOutOfMemory());
}

std::wstring RunFailedUnexpectedly(const std::string& what) {
    return WideWithWindowsLineEnds(wording::RunFailedUnexpectedly(what));
}

} // namespace brindle::win32
