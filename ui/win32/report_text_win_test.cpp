// The Windows dialog's wording, run under Wine by scripts/windows/test.sh. The sentences are
// those of the Qt dialog (tests/ui/report_text_zh_test.cpp checks the same ones there).
#include "report_text_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>

using brindle::win32::Fill;
using brindle::win32::ReportWording;
using brindle::win32::WideFromUtf8;

namespace {

std::wstring W(const char* utf8) {
    return WideFromUtf8(utf8);
}

// Names are wide, as the export reads them from the folder; a narrow one would be taken in
// the ANSI code page.
brindle::LeftOutSubfolder LeftOut(const wchar_t* name, brindle::TileStatus reason,
                                  std::error_code cause = {}, std::uint64_t limit = 0) {
    return {name, reason, cause, limit, {}, {}};
}

} // namespace

TEST(Win32ReportText, FillReplacesEachPlaceholderOnce) {
    // A replacement holding "%2" is not replaced again; unknown placeholders stay.
    EXPECT_EQ(Fill(L"%1 / %2 / %3", {L"a%2", L"b"}), L"a%2 / b / %3");
    EXPECT_EQ(Fill(L"100%", {L"x"}), L"100%");
    EXPECT_EQ(W("目录 甲"), std::wstring(L"\u76ee\u5f55 \u7532"));
}

TEST(Win32ReportText, LeftOutReasonsAndCauses) {
    using brindle::TileStatus;
    const TileStatus all[] = {TileStatus::NoRootFile, TileStatus::NotRegularFile,
                              TileStatus::LoadFailed, TileStatus::ReaderCrashed,
                              TileStatus::TimedOut,   TileStatus::OutOfMemory,
                              TileStatus::UnsafeName, TileStatus::LinksBack,
                              TileStatus::Cycle,      TileStatus::BlockNotWritten};
    std::set<std::wstring> seen;
    for (TileStatus status : all)
        seen.insert(ReportWording::leftOutReason(LeftOut(L"t", status, {}, 1000)));
    EXPECT_EQ(seen.size(), std::size(all));
    EXPECT_EQ(seen.count(L""), 0u);

    EXPECT_EQ(ReportWording::leftOutReason(LeftOut(L"t", TileStatus::TimedOut, {}, 20000)),
              W("加载超过 20 秒"));
    EXPECT_EQ(ReportWording::leftOutReason(LeftOut(L"t", TileStatus::TimedOut, {}, 2500)),
              W("加载超过 2.5 秒"));
    EXPECT_EQ(ReportWording::leftOutReason(
                  LeftOut(L"t", TileStatus::OutOfMemory, {}, std::uint64_t{256} << 20)),
              W("加载需要超过 256 MB 内存"));
    // Windows' own error numbers match the portable conditions.
    const std::error_code denied(ERROR_ACCESS_DENIED, std::system_category());
    EXPECT_EQ(ReportWording::leftOutReason(LeftOut(L"t", TileStatus::LoadFailed, denied)),
              W("root.osgb 无法加载（权限不足）"));
    const std::error_code missing(ERROR_PATH_NOT_FOUND, std::system_category());
    EXPECT_EQ(ReportWording::cause(missing), W("文件或目录不存在"));
    EXPECT_EQ(ReportWording::cause({}), L"");
}

TEST(Win32ReportText, WholeReportAsPlainText) {
    brindle::ExportReport report;
    brindle::FolderReport written;
    written.folder = L"C:/测区/甲";
    written.status = brindle::FolderStatus::Written;
    written.entries = {"Tile_1", "Tile_2"};
    written.translation = {512345.678, 3400000.3, 0};
    written.originSource = brindle::OriginSource::ThisFolder;
    written.leftOut.push_back(LeftOut(L"坏瓦片", brindle::TileStatus::NoRootFile));
    written.warnings.push_back(
        {brindle::ProblemKind::ReportNoOrigin, L"C:/测区/甲/report.txt", {}});
    written.recheckedTiles = {L"Tile_2"};
    brindle::FolderReport failed;
    failed.folder = L"C:/测区/乙";
    failed.status = brindle::FolderStatus::Failed;
    failed.error = brindle::Problem{brindle::ProblemKind::FolderMissing, L"C:/测区/乙",
                                    std::make_error_code(std::errc::no_such_file_or_directory)};
    report.folders = {written, failed};

    const std::wstring text = ReportWording::plainText(ReportWording::describe(report));
    const std::wstring expected =
        W("导出未完成\r\n"
          "已写入 1 个目录，1 个目录失败，1 个子目录未收录，1 条警告。"
          "排除原因后可再按“确定”重新导出。\r\n"
          "\r\n"
          "目录：C:\\测区\\甲\r\n"
          "  状态：已写入\r\n"
          "  条目数：2\r\n"
          "  平移与来源：(512345.678, 3400000.3, 0)，来自本目录的 report.txt\r\n"
          "  警告：C:\\测区\\甲\\report.txt 的第二行没有原点坐标，平移未更新\r\n"
          "  警告：子目录 Tile_2 超出内存上限，已单独用更多内存重新检查\r\n"
          "  未收录的子目录（1 个）：\r\n"
          "    坏瓦片：无 root.osgb，也无 坏瓦片.osgb\r\n"
          "\r\n"
          "目录：C:\\测区\\乙\r\n"
          "  状态：失败\r\n"
          "  错误：目录 C:\\测区\\乙 不存在：文件或目录不存在\r\n");
    EXPECT_EQ(text, expected);

    report.folders.pop_back();
    EXPECT_EQ(ReportWording::describe(report).headline, W("导出成功"));
    EXPECT_EQ(ReportWording::describe({}).summary, W("没有列出目录。"));
}

TEST(Win32ReportText, AFolderListedTwiceNamesItsFirstListing) {
    brindle::ExportReport report;
    brindle::FolderReport written;
    written.folder = L"C:/测区/甲";
    written.status = brindle::FolderStatus::Written;
    written.entries = {"Tile_1"};
    brindle::FolderReport again;
    again.folder = L"c:/测区/甲/";
    again.status = brindle::FolderStatus::ListedTwice;
    again.firstListing = L"C:/测区/甲";
    report.folders = {written, again};

    const std::wstring text = ReportWording::plainText(ReportWording::describe(report));
    const std::wstring expected = W("导出成功\r\n"
                                    "已写入 1 个目录，1 个目录重复列出。\r\n"
                                    "\r\n"
                                    "目录：C:\\测区\\甲\r\n"
                                    "  状态：已写入\r\n"
                                    "  条目数：1\r\n"
                                    "  平移与来源：(0, 0, 0)，尚未读到 report.txt，使用零平移\r\n"
                                    "\r\n"
                                    "目录：c:\\测区\\甲\\\r\n"
                                    "  状态：重复列出，未再导出\r\n"
                                    "  警告：与 C:\\测区\\甲 是同一目录，只在那里导出一次\r\n");
    EXPECT_EQ(text, expected);
    EXPECT_TRUE(ReportWording::describe(report).folders.at(1).ok);
}

TEST(Win32ReportText, OriginsAndReplaceQuestions) {
    brindle::FolderReport folder;
    folder.originSource = brindle::OriginSource::CarriedOver;
    folder.originReport = L"D:/块 一/report.txt";
    EXPECT_EQ(ReportWording::origin(folder), W("沿用目录 D:\\块 一 的 report.txt"));
    folder.originSource = brindle::OriginSource::None;
    EXPECT_EQ(ReportWording::origin(folder), W("尚未读到 report.txt，使用零平移"));
    // Coordinates keep every digit and no more.
    EXPECT_EQ(ReportWording::translation({0.1, -2.5e-7, 1e21}),
              L"(0.1, -0.00000025, 1000000000000000000000)");

    const brindle::Problem unreadable{
        brindle::ProblemKind::ExistingUnreadable, L"D:/块/root.osgb", {}};
    EXPECT_EQ(ReportWording::replaceQuestion(unreadable),
              W("D:\\块 中已有 root.osgb，但无法读取它（原因不明），不能确定它是不是索引。"
                "要替换它吗？"));
    const brindle::Problem scene{brindle::ProblemKind::ExistingHoldsScene, L"D:/块/root.osgb", {}};
    EXPECT_EQ(ReportWording::replaceQuestion(scene),
              W("D:\\块 中已有 root.osgb，它是模型数据，不是索引。此目录像是瓦片目录，"
                "应改为列出它的上一级目录。替换会丢失这份模型数据，建议保留。要替换它吗？"));
}
