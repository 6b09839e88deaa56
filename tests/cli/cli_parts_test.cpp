// The command line's pieces on their own: the JSON report, the streamed lines, progress,
// parsing and exit statuses.
#include "cli/command_line.h"
#include "cli/progress_bar.h"
#include "cli/report_json.h"
#include "cli/report_printer.h"
#include "cli/user_language.h"
#include "tests/cli/report_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

using test::Contains;
using test::WrittenFolder;

// Records what had been written at each flush.
class FlushLog : public std::stringbuf {
public:
    std::vector<std::string> flushed;

protected:
    int sync() override {
        flushed.push_back(str());
        return 0;
    }
};

TEST(ReportStreamer, WritesAndFlushesEachFolderOnItsOwnCall) {
    FlushLog outLog, errLog;
    std::ostream out(&outLog), err(&errLog);
    ReportStreamer streamer(out, err, false, wording::Language::English);

    FolderReport first = WrittenFolder("one");
    first.translation.set(1.5, -2, 0);
    first.leftOut = {
        {"Tile_07", TileStatus::LoadFailed, {}, 0, {}, {}},
        {"Tile_08", TileStatus::NoRootFile, {}, 0, {}, {}},
        {"Tile_09", TileStatus::LoadFailed, std::make_error_code(std::errc::io_error), 0, {}, {}},
        {"Tile_10", TileStatus::TimedOut, {}, 1500, {}, {}}};
    first.leftOut[0].loadFailure = LoadFailure::Truncated;
    first.recheckedTiles = {"A"};
    streamer.folder(first);
    ASSERT_FALSE(outLog.flushed.empty());
    EXPECT_EQ(outLog.flushed.back(),
              "wrote one/root.osgb: 1 entry, translation (1.500, -2.000, 0.000); left out 4: 1 "
              "no root file, 2 failed to load, 1 timed out\n"
              "  Tile_07: root.osgb failed to load: the file is cut short\n"
              "  Tile_08: no root.osgb or Tile_08.osgb in it\n"
              "  Tile_09: root.osgb failed to load: " +
                  std::make_error_code(std::errc::io_error).message() +
                  "\n"
                  "  Tile_10: root.osgb took longer than 1.5 s to load\n"
                  "  A: reached its memory ceiling, checked again alone with more memory\n");

    FolderReport second;
    second.folder = "two";
    second.indexFile = "two/root.osgb";
    second.status = FolderStatus::Failed;
    second.error = Problem{ProblemKind::FolderMissing, "two", {}};
    second.warnings = {{ProblemKind::ReportNoSecondLine, "two/report.txt", {}}};
    const std::size_t outFlushes = outLog.flushed.size();
    streamer.folder(second);
    EXPECT_EQ(errLog.flushed.back(),
              "brindle-export: warning: two/report.txt: has no second line with the origin; "
              "translation left unchanged\n"
              "brindle-export: error: two: folder does not exist\n");
    EXPECT_GT(outLog.flushed.size(), outFlushes);
    EXPECT_EQ(outLog.flushed.back(), outLog.flushed[outFlushes - 1]) << "nothing on stdout";

    ExportReport report;
    report.folders = {first, second, FolderReport{}};
    report.cancelled = true;
    streamer.summary(report);
    EXPECT_TRUE(Contains(outLog.str(), "3 folders: 1 written, 1 failed, 1 cancelled; "
                                       "1 entry, 4 left out\n"));
}

TEST(ReportStreamer, NamesTheFolderATranslationIsCarriedOverFrom) {
    std::ostringstream out, err;
    ReportStreamer streamer(out, err, false, wording::Language::English);
    FolderReport own = WrittenFolder("Block_A");
    own.translation.set(10, 20, 0);
    own.originSource = OriginSource::ThisFolder;
    own.originReport = "Block_A/report.txt";
    FolderReport carried = WrittenFolder("Block_B");
    carried.translation.set(10, 20, 0);
    carried.originSource = OriginSource::CarriedOver;
    carried.originReport = "Block_A/report.txt";
    streamer.folder(own);
    streamer.folder(carried);
    EXPECT_EQ(out.str(), "wrote Block_A/root.osgb: 1 entry, translation (10.000, 20.000, 0.000)\n"
                         "wrote Block_B/root.osgb: 1 entry, translation (10.000, 20.000, 0.000) "
                         "carried over from Block_A\n");
}

std::string LinesFor(const FolderReport& folder, wording::Language language) {
    std::ostringstream out, err;
    ReportStreamer(out, err, false, language).folder(folder);
    return out.str();
}

TEST(ReportStreamer, ABigProxyIndexGetsATipForTheOverviewAndThePagedIndex) {
    FolderReport big = WrittenFolder("big");
    big.entries.assign(kPagedIndexAdvisedAbove + 1, "T\\root.osgb");
    const std::string english = LinesFor(big, wording::Language::English);
    EXPECT_EQ(english.rfind("wrote big/root.osgb: 2001 entries, translation (0.000, 0.000, "
                            "0.000)\n  tip: 2001 tiles; with --index=overview ",
                            0),
              0u)
        << english;
    EXPECT_TRUE(Contains(english, "--index=paged")) << english;
    EXPECT_EQ(std::count(english.begin(), english.end(), '\n'), 2) << english;
    const std::string chinese = LinesFor(big, wording::Language::Chinese);
    EXPECT_TRUE(Contains(chinese, "\n  提示：2001 个瓦片，宜用 --index=overview")) << chinese;
    EXPECT_TRUE(Contains(chinese, "--index=paged")) << chinese;

    // Not at the threshold, not for a paged or overview index, not over blocks.
    FolderReport atThreshold = big;
    atThreshold.entries.pop_back();
    FolderReport paged = big;
    paged.index = IndexKind::Paged;
    FolderReport overview = big;
    overview.index = IndexKind::Overview;
    FolderReport blocks = big;
    blocks.blocks.assign(big.entries.size(), "Block");
    for (const FolderReport& folder : {atThreshold, paged, overview, blocks})
        EXPECT_FALSE(Contains(LinesFor(folder, wording::Language::English), "tip:"));
}

TEST(ReportStreamer, AnOverviewIndexIsNamedAndItsHolesListedAfterTheLeftOut) {
    FolderReport folder = WrittenFolder("block");
    folder.index = IndexKind::Overview;
    folder.leftOut = {{"Tile_09", TileStatus::NoRootFile, {}, 0, {}, {}}};
    folder.overviewHoles = {{"Tile_03", SummaryFailure::NoSurface, {}},
                            {"Tile_05", SummaryFailure::Unreadable,
                             std::make_error_code(std::errc::permission_denied)}};
    folder.recheckedTiles = {"Tile_07"};

    const std::string english = LinesFor(folder, wording::Language::English);
    std::istringstream lines(english);
    std::vector<std::string> line(6);
    for (std::string& each : line)
        std::getline(lines, each);
    EXPECT_EQ(line[0].rfind("wrote block/root.osgb (overview index): 1 entry", 0), 0u) << english;
    EXPECT_TRUE(Contains(line[0], "; left out 1: 1 no root file; 2 not in the overview"))
        << english;
    EXPECT_EQ(line[1].rfind("  Tile_09: ", 0), 0u) << english;
    // Each hole on its own line, its name first and its reason after, the system's cause too.
    EXPECT_EQ(line[2].rfind("  Tile_03 ", 0), 0u) << english;
    EXPECT_TRUE(Contains(line[2], "overview") && Contains(line[2], "triangle")) << english;
    EXPECT_EQ(line[3].rfind("  Tile_05 ", 0), 0u) << english;
    EXPECT_TRUE(Contains(line[3], std::make_error_code(std::errc::permission_denied).message()))
        << english;
    EXPECT_EQ(line[4].rfind("  Tile_07: ", 0), 0u) << english;

    const std::string chinese = LinesFor(folder, wording::Language::Chinese);
    EXPECT_TRUE(Contains(chinese, "已写入 block/root.osgb（总览索引）：1 个条目")) << chinese;
    EXPECT_TRUE(Contains(chinese, "；总览中缺少 2 个瓦片\n")) << chinese;
    EXPECT_TRUE(Contains(chinese, "\n  总览中缺少 Tile_03：")) << chinese;
    EXPECT_TRUE(Contains(chinese, "\n  总览中缺少 Tile_05：")) << chinese;
    EXPECT_TRUE(Contains(chinese, "权限不足")) << chinese;
    EXPECT_LT(chinese.find("Tile_09"), chinese.find("Tile_03")) << chinese;
    for (const char* english : {"overview", "triangle", "read", "Permission"})
        EXPECT_FALSE(Contains(chinese, english)) << english << "\n" << chinese;
}

TEST(ReportStreamer, AnUnflushedIndexIsWrittenWithAWarning) {
    std::ostringstream out, err;
    ReportStreamer streamer(out, err, false, wording::Language::English);
    FolderReport folder = WrittenFolder("one");
    folder.warnings = {
        {ProblemKind::IndexNotFlushed, "one/root.osgb", std::make_error_code(std::errc::io_error)}};
    streamer.folder(folder);
    EXPECT_EQ(out.str().rfind("wrote one/root.osgb", 0), 0u);
    EXPECT_EQ(err.str(), "brindle-export: warning: one/root.osgb: written, but its folder could "
                         "not be flushed to disk, so a power cut now could lose the new index: " +
                             std::make_error_code(std::errc::io_error).message() + "\n");
}

TEST(ReportStreamer, QuietPrintsOnlyErrorsAndWarnings) {
    std::ostringstream out, err;
    ReportStreamer streamer(out, err, true, wording::Language::English);
    FolderReport folder = WrittenFolder("one");
    folder.leftOut = {{"B", TileStatus::NoRootFile, {}, 0, {}, {}}};
    folder.warnings = {{ProblemKind::ReportNoOrigin, "one/report.txt", {}}};
    streamer.folder(folder);
    streamer.summary(ExportReport{{folder}, false, {}});
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str().rfind("brindle-export: warning: one/report.txt", 0), 0u);
}

TEST(ReportStreamer, ControlCharactersInNamesCannotSplitALine) {
    std::ostringstream out, err;
    ReportStreamer streamer(out, err, false, wording::Language::English);
    FolderReport folder = WrittenFolder("one");
    folder.leftOut = {{"bad\nname\x1b", TileStatus::UnsafeName, {}, 0, {}, {}}};
    streamer.folder(folder);
    EXPECT_TRUE(Contains(out.str(), "\n  bad\\x0Aname\\x1B: its name holds")) << out.str();
}

TEST(ReportStreamer, AFolderListedTwiceIsAWarningNamingItsFirstListing) {
    std::ostringstream out, err;
    ReportStreamer streamer(out, err, true, wording::Language::English);
    FolderReport again;
    again.folder = "blocks/one/";
    again.indexFile = "blocks/one/root.osgb";
    again.status = FolderStatus::ListedTwice;
    again.firstListing = "blocks/one";
    streamer.folder(again);
    EXPECT_EQ(err.str(), "brindle-export: warning: blocks/one/: the same folder as blocks/one, "
                         "listed earlier; exported once\n");
    EXPECT_EQ(out.str(), "") << "nothing was written for it";
    again.folder = again.firstListing;
    std::ostringstream sameErr;
    ReportStreamer same(out, sameErr, true, wording::Language::English);
    same.folder(again);
    EXPECT_EQ(sameErr.str(), "brindle-export: warning: blocks/one: listed twice; exported once\n");

    std::ostringstream loud;
    ReportStreamer summary(loud, err, false, wording::Language::English);
    summary.summary(ExportReport{{WrittenFolder("blocks/one"), again}, false, {}});
    EXPECT_EQ(loud.str(), "2 folders: 1 written, 1 listed twice; 1 entry, 0 left out\n");
}

// Only a run that took verdicts from the cache says so.
TEST(ReportStreamer, TheSummarySaysHowManyVerdictsCameFromTheCache) {
    FolderReport folder = WrittenFolder("one");
    folder.cachedVerdicts = 1;
    const ExportReport report{{folder, WrittenFolder("two")}, false, {}};
    for (const auto& [language, expected] :
         {std::pair{wording::Language::English,
                    "2 folders: 2 written; 2 entries, 0 left out; 1 verdict from the cache\n"},
          std::pair{wording::Language::Chinese,
                    "共 2 个目录：已写入 2 个；共 2 个条目，0 个子目录未收录；"
                    "其中 1 个子目录的检查结果来自缓存\n"}}) {
        std::ostringstream out, err;
        ReportStreamer(out, err, false, language).summary(report);
        EXPECT_EQ(out.str(), expected);
    }
}

TEST(ReportStreamer, SpeaksChineseWhenAsked) {
    std::ostringstream out, err;
    ReportStreamer streamer(out, err, false, wording::Language::Chinese);
    FolderReport folder = WrittenFolder("one");
    folder.leftOut = {{"B", TileStatus::NoRootFile, {}, 0, {}, {}}};
    folder.warnings = {{ProblemKind::ReportNoSecondLine, "one/report.txt", {}}};
    streamer.folder(folder);
    streamer.summary(ExportReport{{folder}, false, {}});
    EXPECT_EQ(out.str(), "已写入 one/root.osgb：1 个条目，平移 (0.000, 0.000, 0.000)；未收录 1 "
                         "个：1 个无根文件\n"
                         "  B：无 root.osgb，也无 B.osgb\n"
                         "共 1 个目录：已写入 1 个；共 1 个条目，1 个子目录未收录\n");
    EXPECT_EQ(err.str(),
              "brindle-export: 警告：one/report.txt 没有写有原点的第 2 行，平移未更新\n");
}

TEST(UserLanguage, TheFirstLocaleVariableSetAndNotEmptyDecides) {
    using wording::Language;
    EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, "zh_CN.UTF-8"), Language::Chinese);
    EXPECT_EQ(LanguageOfLocale("", "", "zh_TW.Big5"), Language::Chinese);
    EXPECT_EQ(LanguageOfLocale("", "zh_CN.UTF-8", "en_US.UTF-8"), Language::Chinese);
    EXPECT_EQ(LanguageOfLocale("C", "zh_CN.UTF-8", "zh_CN.UTF-8"), Language::English);
    EXPECT_EQ(LanguageOfLocale(nullptr, "en_GB.UTF-8", "zh_CN.UTF-8"), Language::English);
    EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, nullptr), Language::English);
}

ExportProgress Progress(std::size_t done, std::size_t count) {
    ExportProgress progress;
    progress.folderCount = 3;
    progress.foldersDone = 1;
    progress.subfoldersDone = done;
    progress.subfolderCount = count;
    progress.folder = "/data/Block_B";
    return progress;
}

TEST(Progress, EstimatesTheTimeLeftFromTheRateSoFar) {
    const ProgressClock::time_point start{};
    const TimeLeftEstimate estimate(start);
    EXPECT_FALSE(estimate.at(Progress(0, 300), start + std::chrono::seconds(5)));
    EXPECT_EQ(estimate.at(Progress(75, 300), start + std::chrono::seconds(2)),
              std::chrono::seconds(6));
    EXPECT_EQ(DescribeTimeLeft(std::chrono::seconds(12)), "about 12 s left");
    EXPECT_EQ(DescribeTimeLeft(std::chrono::seconds(125)), "about 2 min 5 s left");
    EXPECT_EQ(DescribeTimeLeft(std::chrono::seconds(1800)), "about 30 min left");
    EXPECT_EQ(DescribeTimeLeft(std::chrono::seconds(4200)), "about 1 h 10 min left");
}

TEST(Progress, LinesComeAtTheIntervalAndEveryUpdateAtZero) {
    const ProgressClock::time_point start{};
    std::ostringstream every, spaced;
    ProgressLines allLines(every, std::chrono::milliseconds(0), start);
    ProgressLines someLines(spaced, std::chrono::seconds(3), start);
    for (int second = 1; second <= 6; ++second) {
        const ExportProgress progress = Progress(static_cast<std::size_t>(second) * 10, 300);
        allLines.update(progress, start + std::chrono::seconds(second));
        someLines.update(progress, start + std::chrono::seconds(second));
    }
    const std::string all = every.str();
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 6);
    EXPECT_EQ(spaced.str(), "brindle-export: 10% (30/300 tiles), folder 2/3 Block_B, about 27 s "
                            "left\n"
                            "brindle-export: 20% (60/300 tiles), folder 2/3 Block_B, about 24 s "
                            "left\n");
}

TEST(Progress, TheBarShowsThePercentageAndTheTimeLeftAndClearsItsLine) {
    const ProgressClock::time_point start{};
    std::ostringstream terminal;
    {
        ProgressBar bar(terminal, start);
        bar.update(Progress(150, 300), start + std::chrono::seconds(10));
        EXPECT_TRUE(Contains(terminal.str(), "[###############...............] 50% (150/300 "
                                             "tiles), folder 2/3 Block_B, about 10 s left"))
            << terminal.str();
    }
    EXPECT_EQ(terminal.str().substr(terminal.str().size() - 4), "\r\033[K") << "cleared at the end";
}

TEST(ExitStatus, FailureComesFirstThenStrictness) {
    ExportReport clean{{WrittenFolder("a")}, false, {}};
    ExportReport gaps = clean;
    gaps.folders[0].leftOut = {{"B", TileStatus::NoRootFile, {}, 0, {}, {}}};
    ExportReport warned = clean;
    warned.folders[0].warnings = {{ProblemKind::ReportNoOrigin, "a/report.txt", {}}};
    // A listed tile the overview shows nothing of is listed all the same: the index holds
    // every tile, and the holes are told apart (in the JSON, overview_holes).
    ExportReport holed = clean;
    holed.folders[0].overviewHoles = {{"C", SummaryFailure::Crashed, {}}};
    ExportReport failed = gaps;
    failed.folders.push_back(FolderReport{});
    failed.folders.back().status = FolderStatus::Failed;

    EXPECT_EQ(ExitStatusFor(clean, true), 0);
    EXPECT_EQ(ExitStatusFor(gaps, false), 0);
    EXPECT_EQ(ExitStatusFor(gaps, true), 3);
    EXPECT_EQ(ExitStatusFor(warned, true), 3);
    EXPECT_EQ(ExitStatusFor(holed, false), 0);
    EXPECT_EQ(ExitStatusFor(holed, true), 0);
    EXPECT_EQ(ExitStatusFor(failed, true), 1);
    ExportReport cancelled = clean;
    cancelled.cancelled = true;
    EXPECT_EQ(ExitStatusFor(cancelled, false), 1);
}

TEST(ParseCommandLine, ReadsEveryOptionAndRejectsBadValuesInPlainWords) {
    const auto parse = [](std::vector<const char*> arguments, CommandLine& line, std::string& err) {
        arguments.insert(arguments.begin(), "brindle-export");
        std::ostringstream out, errStream;
        const std::optional<int> status =
            ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), line, out,
                             errStream, wording::Language::English);
        err = errStream.str();
        return status;
    };
    CommandLine line;
    std::string err;
    EXPECT_EQ(parse({"-j", "4", "--dry-run", "--force", "--strict", "--json", "--progress=lines",
                     "a", "b"},
                    line, err),
              std::nullopt)
        << err;
    EXPECT_EQ(line.jobs, 4u);
    EXPECT_TRUE(line.dryRun && line.force && line.strict && line.json);
    EXPECT_EQ(line.progress, ProgressStyle::Lines);
    EXPECT_EQ(line.folders, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(line.index, IndexKind::Proxy);
    for (const auto& [name, kind] : std::vector<std::pair<const char*, IndexKind>>{
             {"--index=proxy", IndexKind::Proxy},
             {"--index=paged", IndexKind::Paged},
             {"--index=overview", IndexKind::Overview}}) {
        CommandLine chosen;
        EXPECT_EQ(parse({name, "a"}, chosen, err), std::nullopt) << err;
        EXPECT_EQ(chosen.index, kind) << name;
    }

    for (const auto& [arguments, message] :
         std::vector<std::pair<std::vector<const char*>, std::string>>{
             {{"-j", "abc", "a"}, "--jobs takes a whole number from 1 to 1024, not 'abc'"},
             {{"-j", "-1", "a"}, "--jobs takes a whole number from 1 to 1024, not '-1'"},
             {{"-j", "", "a"}, "--jobs takes a whole number from 1 to 1024, not ''"},
             {{"--progress", "loud", "a"}, "--progress takes auto, bar, lines or none, not 'loud'"},
             {{"--index", "tree", "a"}, "--index takes proxy, paged or overview, not 'tree'"},
             {{}, "name at least one FOLDER to export (see --help)"},
             {{"--colour", "a"}, "there is no option '--colour' (see --help)"},
             {{"--3dtiles", "web", "--index=paged", "a"},
              "--3dtiles takes its top levels from the overview index, so it cannot go with "
              "--index paged"},
             {{"--3dtiles-quantize", "a"}, "--3dtiles-quantize goes with --3dtiles DIR"}}) {
        CommandLine ignored;
        EXPECT_EQ(parse(arguments, ignored, err), 2);
        EXPECT_EQ(err, "brindle-export: " + message + "\n");
    }
}

} // namespace
} // namespace brindle
