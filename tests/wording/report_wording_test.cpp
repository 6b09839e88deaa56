// The report's sentences: the dialogs' Chinese and the command line's English, as the
// wording library gives them, UTF-8 on every system.
#include "wording/report_wording.h"
#include "wording/text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <set>

namespace brindle::wording {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// `path` as the system writes it: with backslashes on Windows.
std::string Native(std::string path) {
#ifdef _WIN32
    for (char& c : path)
        if (c == '/')
            c = '\\';
#endif
    return path;
}

std::filesystem::path Utf8Path(const std::string& text) {
    return std::filesystem::u8path(text);
}

LeftOutSubfolder LeftOut(const char* name, TileStatus reason, std::error_code cause = {},
                         std::uint64_t limit = 0) {
    return {Utf8Path(name), reason, cause, limit};
}

std::error_code Errc(std::errc code) {
    return std::make_error_code(code);
}

const TileStatus kLeftOutReasons[] = {TileStatus::NoRootFile, TileStatus::NotRegularFile,
                                      TileStatus::LoadFailed, TileStatus::ReaderCrashed,
                                      TileStatus::TimedOut,   TileStatus::OutOfMemory,
                                      TileStatus::UnsafeName, TileStatus::LinksBack,
                                      TileStatus::Cycle,      TileStatus::BlockNotWritten};

TEST(Text, FillReplacesEachPlaceholderOnce) {
    // A replacement holding "%2" is not replaced again; unknown placeholders stay.
    EXPECT_EQ(Fill("%1 / %2 / %3", {"a%2", "b"}), "a%2 / b / %3");
    EXPECT_EQ(Fill("100%", {"x"}), "100%");
    EXPECT_EQ(Fill("目录 %1 不存在", {"甲"}), "目录 甲 不存在");
}

TEST(Text, PathsAreUtf8WithTheSystemsSeparatorsAndNoControlCharacters) {
    EXPECT_EQ(PathText(Utf8Path("测区/块 1/Tile_+001_é")), Native("测区/块 1/Tile_+001_é"));
    EXPECT_EQ(PathText(Utf8Path("bad\nname\x1b\x7f")), "bad\\x0Aname\\x1B\\x7F");
}

TEST(Text, NumbersKeepTheirDigitsWhateverTheLocale) {
    EXPECT_EQ(ShortNumber(20.0), "20");
    EXPECT_EQ(ShortNumber(2.5), "2.5");
    EXPECT_EQ(FixedNumber(-2, 3), "-2.000");
    // Coordinates keep every digit and no more.
    EXPECT_EQ(DescribeTranslation({512345.678901, -3.25, 0}), "(512345.678901, -3.25, 0)");
    EXPECT_EQ(DescribeTranslation({0.1, -2.5e-7, 1e21}),
              "(0.1, -0.00000025, 1000000000000000000000)");
}

TEST(ChineseWording, EveryLeftOutReasonHasItsOwnWords) {
    for (const Language language : {Language::Chinese, Language::English}) {
        std::set<std::string> seen, brief;
        for (const TileStatus status : kLeftOutReasons) {
            seen.insert(DescribeLeftOut(language, LeftOut("t", status, {}, 1000)));
            brief.insert(DescribeReasonBriefly(language, status));
        }
        EXPECT_EQ(seen.size(), std::size(kLeftOutReasons));
        EXPECT_EQ(brief.size(), std::size(kLeftOutReasons));
        EXPECT_EQ(seen.count(""), 0u);
    }
    const auto chinese = [](const LeftOutSubfolder& leftOut) {
        return DescribeLeftOut(Language::Chinese, leftOut);
    };
    EXPECT_EQ(chinese(LeftOut("t", TileStatus::NoRootFile)), "无 root.osgb，也无 t.osgb");
    EXPECT_EQ(chinese(LeftOut("t", TileStatus::TimedOut, {}, 20000)), "root.osgb 加载超过 20 秒");
    EXPECT_EQ(chinese(LeftOut("t", TileStatus::TimedOut, {}, 2500)), "root.osgb 加载超过 2.5 秒");
    EXPECT_EQ(chinese(LeftOut("t", TileStatus::OutOfMemory, {}, std::uint64_t{256} << 20)),
              "root.osgb 加载需要超过 256 MB 内存");
    // A load that failed for a system reason says which.
    EXPECT_EQ(chinese(LeftOut("t", TileStatus::LoadFailed, Errc(std::errc::permission_denied))),
              "root.osgb 无法加载（权限不足）");
    EXPECT_EQ(chinese(LeftOut("t", TileStatus::LoadFailed)), "root.osgb 无法加载");
    // A load that failed for a reason of the file's own names it; the reader's words verbatim.
    const std::pair<LoadFailure, const char*> causes[] = {
        {LoadFailure::EmptyFile, "文件为空"},
        {LoadFailure::NotAScene, "不是 OSG 场景文件"},
        {LoadFailure::Truncated, "文件被截断"},
        {LoadFailure::UnknownCompressor, "使用了读取程序没有的压缩方式"},
        {LoadFailure::UnsupportedVersion, "由更新版本的读取程序写入"},
        {LoadFailure::ReaderError, "Failed to decompress stream"},
    };
    for (const auto& [failure, words] : causes) {
        LeftOutSubfolder failed = LeftOut("t", TileStatus::LoadFailed);
        failed.loadFailure = failure;
        failed.readerText = "Failed to decompress stream";
        EXPECT_EQ(chinese(failed), Fill("root.osgb 无法加载（%1）", {words}));
    }
}

TEST(ChineseWording, CommonCausesInTheUsersWordsTheRestInTheSystems) {
    const auto cause = [](const std::error_code& code) {
        return DescribeCause(Language::Chinese, code);
    };
    EXPECT_EQ(cause(Errc(std::errc::no_such_file_or_directory)), "文件或目录不存在");
    EXPECT_EQ(cause(Errc(std::errc::permission_denied)), "权限不足");
    EXPECT_EQ(cause(Errc(std::errc::no_space_on_device)), "磁盘空间不足");
    EXPECT_EQ(cause(Errc(std::errc::read_only_file_system)), "只读文件系统");
    // The system's own numbering, as the export library reports it, maps the same way.
#ifdef _WIN32
    EXPECT_EQ(cause(std::error_code(ERROR_ACCESS_DENIED, std::system_category())), "权限不足");
    EXPECT_EQ(cause(std::error_code(ERROR_PATH_NOT_FOUND, std::system_category())),
              "文件或目录不存在");
#else
    EXPECT_EQ(cause(std::error_code(ENOSPC, std::system_category())), "磁盘空间不足");
#endif
    // A rare cause falls back to the system's words rather than to nothing.
    const std::error_code rare = Errc(std::errc::broken_pipe);
    EXPECT_EQ(cause(rare), SystemText(rare.message()));
    EXPECT_FALSE(cause(rare).empty());
    EXPECT_EQ(cause({}), "");
    EXPECT_EQ(DescribeCause(Language::English, {}), "");
}

TEST(ChineseWording, EveryProblemNamesItsPathInEitherLanguage) {
    const std::filesystem::path path = Utf8Path("/数据/测区 1/report.txt");
    for (const Language language : {Language::Chinese, Language::English})
        for (std::size_t kind = 0; kind < kProblemKindCount; ++kind) {
            if (static_cast<ProblemKind>(kind) == ProblemKind::NoIndexWriter)
                continue;
            const std::string text =
                DescribeProblem(language, {static_cast<ProblemKind>(kind), path, {}});
            EXPECT_TRUE(Contains(text, Native("/数据/测区 1/report.txt"))) << text;
        }
    EXPECT_EQ(DescribeProblem(Language::Chinese, {ProblemKind::WriteFailed, "/d/root.osgb",
                                                  Errc(std::errc::no_space_on_device)}),
              Native("无法写入 /d/root.osgb") + "：磁盘空间不足");
    EXPECT_FALSE(DescribeProblem(Language::Chinese, {ProblemKind::NoIndexWriter, {}, {}}).empty());
}

const SummaryFailure kSummaryFailures[] = {SummaryFailure::NoSurface,   SummaryFailure::TooLarge,
                                           SummaryFailure::OutOfMemory, SummaryFailure::Crashed,
                                           SummaryFailure::TimedOut,    SummaryFailure::Unreadable};

// Words of the English sentences that have no place in the Chinese ones.
bool HasEnglishWords(const std::string& text) {
    for (const char* word : {"overview", "summar", "triangle", "reader", "read ", "memory", "could",
                             "not", "index", "Permission", "the "})
        if (Contains(text, word))
            return true;
    return false;
}

TEST(ChineseWording, TheOverviewsHolesAndProblemsHaveWordsOfTheirOwnInEitherLanguage) {
    for (const Language language : {Language::Chinese, Language::English}) {
        std::set<std::string> seen;
        for (const SummaryFailure reason : kSummaryFailures) {
            const std::string words = DescribeOverviewHole(language, {"Tile_1", reason, {}});
            EXPECT_FALSE(words.empty());
            if (language == Language::Chinese) {
                EXPECT_FALSE(HasEnglishWords(words)) << words;
            }
            seen.insert(words);
        }
        EXPECT_EQ(seen.size(), std::size(kSummaryFailures));
    }
    // A tile that could not be read again says why, in the user's words.
    const OverviewHole denied{"Tile_1", SummaryFailure::Unreadable,
                              Errc(std::errc::permission_denied)};
    EXPECT_TRUE(Contains(DescribeOverviewHole(Language::Chinese, denied), "权限不足"));
    EXPECT_TRUE(Contains(DescribeOverviewHole(Language::English, denied),
                         Errc(std::errc::permission_denied).message()));

    // Both problems name their folder and the system's cause, and differ from each other.
    const std::filesystem::path levels = Utf8Path("/测区/甲/总览");
    for (const Language language : {Language::Chinese, Language::English}) {
        std::set<std::string> seen;
        for (const ProblemKind kind :
             {ProblemKind::OverviewNotWritten, ProblemKind::OldOverviewKept}) {
            const std::string text =
                DescribeProblem(language, {kind, levels, Errc(std::errc::no_space_on_device)});
            EXPECT_TRUE(Contains(text, Native("/测区/甲/总览"))) << text;
            if (language == Language::Chinese) {
                EXPECT_TRUE(Contains(text, "磁盘空间不足")) << text;
                EXPECT_TRUE(Contains(text, "总览")) << text;
                EXPECT_FALSE(HasEnglishWords(text)) << text;
            } else {
                EXPECT_TRUE(Contains(text, "overview")) << text;
            }
            seen.insert(text);
        }
        EXPECT_EQ(seen.size(), 2u);
    }
}

TEST(ChineseWording, OriginsAndReplaceQuestions) {
    FolderReport folder;
    folder.originSource = OriginSource::CarriedOver;
    folder.originReport = Utf8Path("/块 一/report.txt");
    EXPECT_EQ(DescribeOrigin(folder), Native("沿用目录 /块 一 的 report.txt"));
    folder.originSource = OriginSource::None;
    EXPECT_EQ(DescribeOrigin(folder), "尚未读到 report.txt，使用零平移");

    const std::string blocks = Native("/blocks/a");
    EXPECT_EQ(ReplaceQuestion({ProblemKind::ExistingHoldsScene, "/blocks/a/root.osgb", {}}),
              blocks + " 中已有 root.osgb，它是模型数据，不是索引。此目录像是瓦片目录，"
                       "应改为列出它的上一级目录。替换会丢失这份模型数据，建议保留。要替换它吗？");
    EXPECT_FALSE(Contains(
        DescribeProblem(Language::Chinese, {ProblemKind::ExistingHoldsScene, "/a/root.osgb", {}}),
        "替换"));
    EXPECT_TRUE(Contains(
        ReplaceQuestion({ProblemKind::NoTilesKeptIndex, "/blocks/a/root.osgb", {}}), "空索引"));
    EXPECT_EQ(ReplaceQuestion({ProblemKind::ExistingUnreadable, "/blocks/a/root.osgb", {}}),
              blocks + " 中已有 root.osgb，但无法读取它（原因不明），不能确定它是不是索引。"
                       "要替换它吗？");
    EXPECT_TRUE(Contains(ReplaceQuestion({ProblemKind::ExistingUnreadable, "/blocks/a/root.osgb",
                                          Errc(std::errc::permission_denied)}),
                         "权限不足"));
    EXPECT_EQ(RunFailedUnexpectedly(" \n"), "导出时发生意外错误，未能完成。目录列表未改动。");
    EXPECT_EQ(RunFailedUnexpectedly("vector::reserve"),
              "导出时发生意外错误，未能完成：vector::reserve\n目录列表未改动。");
}

TEST(ChineseWording, PagedIndexHintNamesTheFirstBigFolderAndCountsTheRest) {
    // The overview index shows the whole block; the paged one still fits a look about it.
    EXPECT_EQ(PagedIndexHint({Utf8Path("/测区/甲")}),
              "提示：甲 有超过 2000 个子目录，建议选用总览索引，远看整个测区，近看加载瓦片；"
              "只看局部时也可选分页索引。");
    // A trailing separator still gives the folder's name; a root is shown whole.
    EXPECT_TRUE(Contains(PagedIndexHint({Utf8Path("/测区/甲/")}), "提示：甲 有超过 2000 个"));
    // Every production folder has a Data folder: it is named with its production folder.
    EXPECT_TRUE(Contains(PagedIndexHint({Utf8Path("/测区/甲/Data")}),
                         Native("提示：甲/Data 有超过 2000 个")));
    EXPECT_TRUE(Contains(PagedIndexHint({Utf8Path("/测区/甲/DATA/")}),
                         Native("提示：甲/DATA 有超过 2000 个")));
    EXPECT_TRUE(Contains(PagedIndexHint({Utf8Path("/")}), Native("提示：/ 有超过")));
    EXPECT_EQ(PagedIndexHint({Utf8Path("/测区/乙"), Utf8Path("/测区/甲"), Utf8Path("/丙")}),
              "提示：乙 等 3 个目录各有超过 2000 个子目录，建议选用总览索引，远看整个测区，"
              "近看加载瓦片；只看局部时也可选分页索引。");
}

FolderReport Written(const char* folder, std::vector<std::string> entries) {
    FolderReport report;
    report.folder = Utf8Path(folder);
    report.status = FolderStatus::Written;
    report.entries = std::move(entries);
    return report;
}

TEST(ChineseWording, AWholeReportAndItsPlainText) {
    ExportReport report;
    FolderReport written = Written("/测区/甲", {"Tile_1", "Tile_2"});
    written.translation = {512345.678, 3400000.3, 0};
    written.originSource = OriginSource::ThisFolder;
    written.leftOut.push_back(LeftOut("坏瓦片", TileStatus::NoRootFile));
    written.warnings.push_back({ProblemKind::ReportNoOrigin, Utf8Path("/测区/甲/report.txt"), {}});
    written.recheckedTiles = {"Tile_2"};
    FolderReport failed;
    failed.folder = Utf8Path("/测区/乙");
    failed.status = FolderStatus::Failed;
    failed.error = Problem{ProblemKind::FolderMissing, Utf8Path("/测区/乙"),
                           Errc(std::errc::no_such_file_or_directory)};
    report.folders = {written, failed};

    const ReportText text = DescribeReport(report);
    EXPECT_FALSE(text.succeeded);
    // A folder that was not written shows no entries and no translation, only its error.
    EXPECT_TRUE(text.folders.at(1).entries.empty() && text.folders.at(1).translation.empty());
    EXPECT_EQ(
        PlainText(text, BlockLayout::Nested),
        "导出未完成\n"
        "已写入 1 个目录，1 个目录失败，1 个子目录未收录，1 条警告。"
        "排除原因后可再按“确定”重新导出。\n"
        "\n" +
            Native("目录：/测区/甲\n"
                   "  状态：已写入\n"
                   "  条目数：2\n"
                   "  平移与来源：(512345.678, 3400000.3, 0)，来自本目录的 report.txt\n"
                   "  警告：/测区/甲/report.txt 的第 2 行没有“X: <x> Y: <y> Z: <z>”形式的原点坐标"
                   "（没有大写 Y，或 X、Y 之后不是数字），平移未更新\n"
                   "  警告：子目录 Tile_2 超出内存上限，已单独用更多内存重新检查\n"
                   "  未收录的子目录（1 个）：\n"
                   "    坏瓦片：无 root.osgb，也无 坏瓦片.osgb\n"
                   "\n"
                   "目录：/测区/乙\n"
                   "  状态：失败\n"
                   "  错误：目录 /测区/乙 不存在：文件或目录不存在\n"));

    report.folders.pop_back();
    EXPECT_TRUE(DescribeReport(report).succeeded);
    EXPECT_EQ(DescribeReport(report).headline, "导出成功");
    EXPECT_EQ(DescribeReport(report).summary, "已写入 1 个目录，1 个子目录未收录，1 条警告。");
    EXPECT_EQ(DescribeReport({}).summary, "没有列出目录。");
    report.folders.back().cachedVerdicts = 2;
    EXPECT_EQ(DescribeReport(report).summary,
              "已写入 1 个目录，1 个子目录未收录，1 条警告，2 个子目录的检查结果来自缓存。");
    report.folders.back().cachedVerdicts = 0;

    report.folders.push_back(failed);
    report.folders.back().status = FolderStatus::Cancelled;
    report.folders.back().error.reset();
    report.cancelled = true;
    EXPECT_EQ(DescribeReport(report).headline, "导出未完成");
    EXPECT_TRUE(Contains(DescribeReport(report).summary, "1 个目录因取消未写入"));

    FolderReport dryRun = Written("/测区/丙", {"Tile_1"});
    dryRun.status = FolderStatus::DryRun;
    EXPECT_EQ(DescribeReport(ExportReport{{dryRun}, false, {}}).summary,
              "试运行 1 个目录，未写入。");
}

TEST(ChineseWording, AnOverviewsHolesAreListedAfterTheLeftOutAndMakeTheRunWorthTelling) {
    FolderReport folder = Written("/测区/甲", {"Tile_1", "Tile_2", "Tile_3"});
    folder.index = IndexKind::Overview;
    ExportReport report{{folder}, false, {}};
    EXPECT_TRUE(NothingToTell(report));
    EXPECT_EQ(DescribeReport(report).folders.at(0).entries, "3（总览索引）");

    report.folders[0].leftOut.push_back(LeftOut("坏瓦片", TileStatus::NoRootFile));
    report.folders[0].overviewHoles = {{"Tile_2", SummaryFailure::NoSurface, {}},
                                       {"Tile_3", SummaryFailure::TimedOut, {}}};
    const ReportText text = DescribeReport(report);
    ASSERT_EQ(text.folders.at(0).overviewHoles.size(), 2u);
    EXPECT_EQ(text.folders[0].overviewHoles[0].name, "Tile_2");
    EXPECT_EQ(text.folders[0].overviewHoles[0].reason,
              DescribeOverviewHole(Language::Chinese, report.folders[0].overviewHoles[0]));
    EXPECT_TRUE(Contains(text.summary, "2 个瓦片在总览中缺失")) << text.summary;
    const std::string plain = PlainText(text, BlockLayout::Listed);
    const std::size_t leftOut = plain.find("坏瓦片："), group = plain.find(OverviewHoleGroup(2));
    ASSERT_NE(group, std::string::npos) << plain;
    EXPECT_LT(leftOut, group) << plain;
    EXPECT_TRUE(Contains(plain.substr(group), "\n    Tile_2：")) << plain;
    EXPECT_TRUE(Contains(plain.substr(group), "\n    Tile_3：")) << plain;
    EXPECT_FALSE(HasEnglishWords(plain)) << plain;

    // Holes alone, every tile listed and nothing else amiss: the run is spotless, yet the
    // dialogs must show them.
    report.folders[0].leftOut.clear();
    EXPECT_TRUE(report.spotless());
    EXPECT_FALSE(NothingToTell(report));
}

// Three folders listed, one of them a folder of three blocks of which one failed: the blocks
// the run exported on its own are counted apart, never as folders the user listed.
TEST(ChineseWording, TheSummaryCountsListedFoldersAndTheBlocksWithinApart) {
    ExportReport report;
    for (const char* block : {"/测区/甲/A", "/测区/甲/B", "/测区/甲/C"}) {
        report.folders.push_back(Written(block, {"Tile_1"}));
        report.folders.back().master = Utf8Path("/测区/甲");
    }
    report.folders[2].status = FolderStatus::Failed;
    report.folders[2].entries.clear();
    report.folders.push_back(Written("/测区/甲", {"A\\root.osgb", "B\\root.osgb"}));
    report.folders.back().originSource = OriginSource::Blocks;
    report.folders.push_back(Written("/测区/乙", {"Tile_1"}));
    report.folders.push_back(Written("/测区/丙", {"Tile_1"}));

    EXPECT_EQ(DescribeReport(report).summary,
              "已写入 3 个目录，含 3 个分块，1 个分块未写入。排除原因后可再按“确定”重新导出。");
}

TEST(ChineseWording, AFolderListedTwiceNamesItsFirstListing) {
    FolderReport again;
    again.folder = Utf8Path("/测区/甲/");
    again.status = FolderStatus::ListedTwice;
    again.firstListing = Utf8Path("/测区/甲");
    const ReportText text =
        DescribeReport(ExportReport{{Written("/测区/甲", {"T"}), again}, false, {}});
    EXPECT_TRUE(text.succeeded);
    EXPECT_TRUE(text.folders.at(1).ok) << "a repeat is no failure";
    EXPECT_EQ(PlainText(text, BlockLayout::Nested),
              "导出成功\n"
              "已写入 1 个目录，1 个目录重复列出。\n"
              "\n" +
                  Native("目录：/测区/甲\n"
                         "  状态：已写入\n"
                         "  条目数：1\n"
                         "  平移与来源：(0, 0, 0)，尚未读到 report.txt，使用零平移\n"
                         "\n"
                         "目录：/测区/甲/\n"
                         "  状态：重复列出，未再导出\n"
                         "  警告：与 /测区/甲 是同一目录，只在那里导出一次\n"));
}

TEST(ChineseWording, BlocksGoUnderTheirFolderOfBlocksOrNameIt) {
    FolderReport block = Written("/测区/甲/块一", {"T"});
    block.master = Utf8Path("/测区/甲");
    block.index = IndexKind::Paged;
    block.proxyLeaves = {"T"};
    FolderReport blocks = Written("/测区/甲", {"块一"});
    blocks.originSource = OriginSource::Blocks;
    const ReportText text = DescribeReport(ExportReport{{block, blocks}, false, {}});
    EXPECT_EQ(text.folders.at(0).entries, "1（分页索引，其中 1 个范围未知，打开时即加载）");
    const std::string nested = PlainText(text, BlockLayout::Nested);
    EXPECT_LT(nested.find(Native("目录：/测区/甲\n")),
              nested.find(Native("  分块：/测区/甲/块一\n")))
        << nested;
    const std::string listed = PlainText(text, BlockLayout::Listed);
    EXPECT_LT(listed.find(Native("目录：/测区/甲/块一\n  属于分块目录 /测区/甲\n")),
              listed.find(Native("目录：/测区/甲\n")))
        << listed;
}

TEST(ChineseWording, SpatialReferencesAreNamedAndLocalFramesSaidSo) {
    const std::filesystem::path metadata = Utf8Path("/测区/甲/metadata.xml");
    const Problem degrees{
        ProblemKind::MetadataGeographicSrs, metadata, {}, {{metadata, "EPSG:4326"}}};
    for (const Language language : {Language::Chinese, Language::English})
        EXPECT_TRUE(Contains(DescribeProblem(language, degrees), "EPSG:4326"));
    EXPECT_TRUE(Contains(ReplaceQuestion(degrees), "EPSG:4326"));
    EXPECT_TRUE(Contains(ReplaceQuestion(degrees), "地理坐标系"));
    const Problem differ{
        ProblemKind::BlocksSrsDiffer,
        Utf8Path("/测区"),
        {},
        {{Utf8Path("/测区/甲"), "EPSG:4547"}, {Utf8Path("/测区/乙"), "ENU:30.52,114.31"}}};
    EXPECT_TRUE(Contains(DescribeProblem(Language::Chinese, differ),
                         "甲：EPSG:4547；乙：ENU:30.52,114.31"));
    EXPECT_TRUE(Contains(DescribeProblem(Language::English, differ),
                         "甲: EPSG:4547; 乙: ENU:30.52,114.31"));
    // A projection library that cannot be loaded is named, with the SRS it was needed for.
    const Problem missing{
        ProblemKind::SrsLibraryMissing, "libproj.so.25", {}, {{metadata, "EPSG:4547"}}};
    for (const Language language : {Language::Chinese, Language::English}) {
        const std::string said = DescribeProblem(language, missing);
        EXPECT_TRUE(Contains(said, "libproj.so.25")) << said;
        EXPECT_TRUE(Contains(said, "EPSG:4547")) << said;
        EXPECT_TRUE(Contains(said, PathText(metadata))) << said;
    }
    EXPECT_TRUE(Contains(DescribeProblem(Language::Chinese, missing), "无法加载投影库"));

    const auto Translation = [](const FolderReport& folder) {
        ExportReport report;
        report.folders = {folder};
        return DescribeReport(report).folders.at(0).translation;
    };
    // The dialog's results: an ENU or unknown frame is said to stay local, a projected one not.
    FolderReport folder = Written("/测区/甲", {"Tile_1"});
    folder.originSource = OriginSource::Metadata;
    folder.originReport = metadata;
    folder.srs = "ENU:30.52,114.31";
    folder.srsKind = SrsKind::Enu;
    EXPECT_TRUE(Contains(Translation(folder), LocalFrameNote(Language::Chinese)));
    folder.srsKind = SrsKind::Unknown;
    EXPECT_TRUE(Contains(Translation(folder), LocalFrameNote(Language::Chinese)));
    folder.srs = "EPSG:4547";
    folder.srsKind = SrsKind::Projected;
    EXPECT_FALSE(Contains(Translation(folder), LocalFrameNote(Language::Chinese)));
}

TEST(EnglishWording, VerifyWordsTellAMissingIndexFromAnUnreadableOne) {
    EXPECT_EQ(
        DescribeVerifyProblem(Language::English, {ProblemKind::ExistingUnreadable, "a/root.osgb",
                                                  Errc(std::errc::no_such_file_or_directory)}),
        Native("a/root.osgb") + ": there is no index to check");
    EXPECT_EQ(
        DescribeVerifyProblem(Language::English, {ProblemKind::ExistingUnreadable, "a/root.osgb",
                                                  Errc(std::errc::permission_denied)}),
        Native("a/root.osgb") +
            ": the index cannot be read: " + Errc(std::errc::permission_denied).message());
    IndexEntryCheck entry;
    entry.status = TileStatus::TimedOut;
    entry.limit = 1430;
    EXPECT_EQ(DescribeBrokenEntry(Language::English, entry), "took longer than 1.5 s to load");
    EXPECT_EQ(DescribeBrokenEntry(Language::Chinese, entry), "加载超过 1.5 秒");
    // A level file cut off for depth is told from one that leads back to itself.
    entry.status = TileStatus::Cycle;
    const std::string cycle = DescribeBrokenEntry(Language::English, entry);
    const std::string cycleChinese = DescribeBrokenEntry(Language::Chinese, entry);
    entry.tooDeep = true;
    EXPECT_NE(DescribeBrokenEntry(Language::English, entry), cycle);
    EXPECT_TRUE(Contains(DescribeBrokenEntry(Language::English, entry), "deeper"));
    EXPECT_NE(DescribeBrokenEntry(Language::Chinese, entry), cycleChinese);
    EXPECT_TRUE(Contains(DescribeBrokenEntry(Language::Chinese, entry), "总览层级"));
}

// A folder whose overview could not be written says so, and that no index was written; not
// that an earlier index was kept, which there may not have been.
TEST(BothWordings, AnUnwrittenOverviewSaysOnlyWhatHappened) {
    const Problem problem{ProblemKind::OverviewNotWritten, Utf8Path("/只读/测区"),
                          Errc(std::errc::read_only_file_system)};
    const std::string english = DescribeProblem(Language::English, problem);
    const std::string chinese = DescribeProblem(Language::Chinese, problem);
    EXPECT_EQ(english, Native("/只读/测区") +
                           ": the overview levels cannot be written there, so no index was "
                           "written: " +
                           Errc(std::errc::read_only_file_system).message());
    EXPECT_EQ(chinese, Native("无法在 /只读/测区 中写入总览层级，因此未写入索引：只读文件系统"));
    // The dialogs say it alike.
    ExportReport report;
    report.folders.emplace_back();
    report.folders[0].folder = problem.path;
    report.folders[0].status = FolderStatus::Failed;
    report.folders[0].error = problem;
    EXPECT_EQ(DescribeReport(report).folders.at(0).error, chinese);
}

} // namespace
} // namespace brindle::wording

namespace brindle::wording {
namespace {

TEST(ChineseWording, ARunsTimeInTheUnitsAPersonWouldUse) {
    using std::chrono::milliseconds;
    EXPECT_EQ(DescribeDuration(milliseconds(400)), "0.4 秒");
    EXPECT_EQ(DescribeDuration(milliseconds(27'800)), "27.8 秒");
    EXPECT_EQ(DescribeDuration(milliseconds(59'990)), "1 分 0 秒");
    EXPECT_EQ(DescribeDuration(milliseconds(125'000)), "2 分 5 秒");
    EXPECT_EQ(DescribeDuration(milliseconds(4'200'000)), "1 小时 10 分");
}

// The success box: the counts and the time, then a line for what each folder got, the
// translation under it.
TEST(ChineseWording, TheSuccessDetailsSayWhatWasWrittenInOnePiece) {
    ExportReport report;
    report.folders.emplace_back();
    FolderReport& folder = report.folders.back();
    folder.folder = Utf8Path("/测区/甲");
    folder.indexFile = Utf8Path("/测区/甲/root.osgb");
    folder.status = FolderStatus::Written;
    folder.index = IndexKind::Overview;
    folder.entries.assign(1600, "t\\root.osgb");
    folder.originSource = OriginSource::ThisFolder;
    folder.translation = {512345.678, 3400000.3, 0};
    EXPECT_EQ(SuccessDetails(report, std::chrono::milliseconds(27'800)),
              "已写入 1 个目录。用时 27.8 秒。\n" + Native("/测区/甲/root.osgb") +
                  "：总览索引，1600 个条目\n"
                  "    平移 (512345.678, 3400000.3, 0)，来自本目录的 report.txt");
}

// The dialogs tell what became of a folder's 3D Tiles tileset under its folder, with the files
// left out of it, in the results, their plain text and the success box alike.
TEST(ChineseWording, TheTilesetUnderItsFolder) {
    FolderReport written = Written("/测区/甲", {"Tile_1"});
    written.index = IndexKind::Overview;
    TilesetReport tileset;
    tileset.folder = Utf8Path("/输出/甲");
    tileset.status = TilesetStatus::Written;
    tileset.converted = 12;
    tileset.reused = 3;
    tileset.leftOut.push_back(LeftOut("Tile_1/Data/L2.osgb", TileStatus::LoadFailed));
    written.tileset = tileset;
    ExportReport report;
    report.folders = {written};

    const std::string plain = PlainText(DescribeReport(report), BlockLayout::Listed);
    const std::string line = Native("  3D Tiles：/输出/甲/tileset.json") +
                             "（转换 12 个文件，沿用未改动的 3 个，未收入 1 个）\n";
    EXPECT_NE(plain.find(line), std::string::npos) << plain;
    const std::string group = "  未收入 3D Tiles 瓦片集的文件（1 个，由上一级代替显示）：\n" +
                              Native("    Tile_1/Data/L2.osgb：");
    EXPECT_NE(plain.find(group), std::string::npos) << plain;
    // The tileset's line follows the folder's own lines, never the next folder's.
    EXPECT_LT(plain.find("条目数"), plain.find("3D Tiles"));

    // No tileset asked for: no line.
    report.folders.front().tileset.reset();
    EXPECT_EQ(PlainText(DescribeReport(report), BlockLayout::Listed).find("3D Tiles"),
              std::string::npos);

    tileset.leftOut.clear();
    report.folders.front().tileset = tileset;
    EXPECT_NE(SuccessDetails(report, std::chrono::milliseconds(1500))
                  .find("\n    " + Native("3D Tiles：/输出/甲/tileset.json")),
              std::string::npos);
}

} // namespace
} // namespace brindle::wording
