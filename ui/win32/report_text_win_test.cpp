// The Win32 dialog's side of the wording, run under Wine by scripts/windows/test.sh: wide
// names in, UTF-16 with Windows line ends out. The sentences themselves are checked in
// tests/wording/report_wording_test.cpp, which runs there too.
#include "report_text_win.h"

#include <gtest/gtest.h>

#include <windows.h>

using brindle::win32::WideFromUtf8;

namespace {

std::wstring W(const char* utf8) {
    return WideFromUtf8(utf8);
}

} // namespace

TEST(Win32ReportText, Utf8BecomesUtf16) {
    EXPECT_EQ(W("目录 甲"), std::wstring(L"\u76ee\u5f55 \u7532"));
    EXPECT_EQ(W(""), L"");
}

// Names are wide, as the export reads them from the folder; a narrow one would be taken in
// the ANSI code page. Blocks go under their folder of blocks.
TEST(Win32ReportText, TheWholeReportWithWideNamesAndWindowsLineEnds) {
    brindle::ExportReport report;
    brindle::FolderReport block;
    block.folder = L"C:/测区/甲/块 一";
    block.master = L"C:/测区/甲";
    block.status = brindle::FolderStatus::Written;
    block.entries = {"Tile_1"};
    block.originSource = brindle::OriginSource::ThisFolder;
    block.leftOut.push_back({L"坏瓦片", brindle::TileStatus::LoadFailed,
                             std::error_code(ERROR_ACCESS_DENIED, std::system_category())});
    brindle::FolderReport blocks;
    blocks.folder = L"C:/测区/甲";
    blocks.status = brindle::FolderStatus::Written;
    blocks.entries = {"块 一\\root.osgb"};
    blocks.originSource = brindle::OriginSource::Blocks;
    report.folders = {block, blocks};

    EXPECT_EQ(brindle::win32::ReportPlainText(report),
              W("导出成功\r\n"
                "已写入 1 个目录，含 1 个分块，1 个子目录未收录。\r\n"
                "\r\n"
                "目录：C:\\测区\\甲\r\n"
                "  状态：已写入\r\n"
                "  条目数：1\r\n"
                "  平移与来源：(0, 0, 0)，分块目录不平移，各分块的索引自带平移\r\n"
                "\r\n"
                "  分块：C:\\测区\\甲\\块 一\r\n"
                "    状态：已写入\r\n"
                "    条目数：1\r\n"
                "    平移与来源：(0, 0, 0)，来自本目录的 report.txt\r\n"
                "    未收录的子目录（1 个）：\r\n"
                "      坏瓦片：root.osgb 无法加载（权限不足）\r\n"));
}

TEST(Win32ReportText, MessagesEndTheirLinesAsWindowsDoes) {
    EXPECT_EQ(brindle::win32::RunFailedUnexpectedly("bad_alloc"),
              W("导出时发生意外错误，未能完成：bad_alloc\r\n目录列表未改动。"));
    EXPECT_EQ(brindle::win32::ReplaceQuestion(
                  {brindle::ProblemKind::WriteFailed, L"D:/块/root.osgb", {}}),
              W("要替换 D:\\块\\root.osgb 吗？"));
    EXPECT_EQ(brindle::win32::PagedIndexHint({L"D:\\测区\\甲\\"}),
              W("提示：甲 有超过 2000 个子目录，建议选用总览索引，远看整个测区，近看加载瓦片；"
                "只看局部时也可选分页索引。"));
}
