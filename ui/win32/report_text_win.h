#pragma once

#include "export/export_report.h"

#include <osg/Vec3d>

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace brindle::win32 {

// The Windows dialog's wording of an export run, in the same Chinese sentences as the Qt
// dialog's ReportWording (ui/report_text_zh.cpp). That module needs Qt Core, which the
// MinGW build does not have, so the sentences are kept here a second time as UTF-16.

// One listed folder, in words.
struct FolderText {
    std::wstring folder;
    std::wstring status;
    std::wstring entries;     // empty when nothing was written
    std::wstring translation; // empty when not written
    bool ok = false;
    std::wstring error; // empty when the index was written
    std::vector<std::wstring> warnings;
    std::vector<std::pair<std::wstring, std::wstring>> leftOut; // name, reason
    // A block of a folder of blocks: that folder, as `folder` writes it; the report shows
    // the block under it.
    std::wstring master;
};

// A whole run in words.
struct ReportText {
    bool succeeded = false;
    std::wstring headline;
    std::wstring summary;
    std::vector<FolderText> folders;
};

class ReportWording {
public:
    static ReportText describe(const ExportReport& report);
    // Headline, summary, then folder by folder; lines end in "\r\n" as Windows edit controls
    // and the clipboard expect.
    static std::wstring plainText(const ReportText& text);

    static std::wstring leftOutGroup(std::size_t count);
    static std::wstring status(FolderStatus status);
    static std::wstring leftOutReason(const LeftOutSubfolder& leftOut);
    // Why a file does not load; the reader's own message as it gave it.
    static std::wstring loadFailure(LoadFailure failure, const std::string& readerText);
    static std::wstring problem(const Problem& problem);
    static std::wstring cause(const std::error_code& cause);
    static std::wstring origin(const FolderReport& folder);
    static std::wstring translation(const osg::Vec3d& translation);
    // The question asked before replacing an existing root.osgb.
    static std::wstring replaceQuestion(const Problem& why);
    // Why the run stopped short when it threw: out of memory, or an unexpected error and the
    // exception's own words (`what`, in the system's code page; empty when it had none).
    static std::wstring runOutOfMemory();
    static std::wstring runFailedUnexpectedly(const std::string& what);
};

// UTF-8 (the sources' literals, the index's entry names) as UTF-16.
std::wstring WideFromUtf8(const std::string& text);
// Text in the system's code page (the C library's and the system's messages) as UTF-16.
std::wstring WideFromCodePage(const std::string& text);
// A path as Windows writes it, with backslashes.
std::wstring NativePathText(const std::filesystem::path& path);
// `pattern` with %1, %2, ... replaced by `args` in one pass (a replacement is never rescanned).
std::wstring Fill(const std::wstring& pattern, const std::vector<std::wstring>& args);

} // namespace brindle::win32
