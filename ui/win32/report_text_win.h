#pragma once

#include "export/export_report.h"

#include <filesystem>
#include <string>
#include <vector>

// The Win32 dialog's side of the wording library: its UTF-8 as the UTF-16 Windows shows.
namespace brindle::win32 {

// UTF-8 (the wording's sentences, the index's entry names) as UTF-16.
std::wstring WideFromUtf8(const std::string& text);

// The whole report as the results window shows it and the clipboard takes it: blocks nested
// under their folder of blocks, lines ending in "\r\n" as Windows edit controls expect.
std::wstring ReportPlainText(const ExportReport& report);
// The question asked before replacing an existing root.osgb.
std::wstring ReplaceQuestion(const Problem& why);
// The suggestion beside the index choice for listed folders of many tiles.
std::wstring PagedIndexHint(const std::vector<std::filesystem::path>& bigFolders);
// Why the run stopped short when it threw (`what` in the system's code page).
std::wstring RunOutOfMemory();
std::wstring RunFailedUnexpectedly(const std::string& what);

} // namespace brindle::win32
