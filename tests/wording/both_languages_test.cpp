// The Chinese sentences say all the English ones do: whatever of an English sentence can be
// told apart from its words (an option to type, a file's name, a number, the path, the system's
// cause) is in its Chinese counterpart too.
#include "wording/command_line_wording.h"
#include "wording/report_wording.h"
#include "wording/text.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace brindle::wording {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What a reader of either language must find in a sentence: the options it names, the files
// it names by their names ("root.osgb", "<SRSOrigin>"), the numbers it gives, and the forms
// it quotes.
std::set<std::string> Checkable(const std::string& text) {
    static const std::regex kinds(R"(--[a-z][a-z-]*(=[a-z]+)?)"          // an option
                                  R"(|\b[A-Za-z_]+\.(osgb|xml|txt)\b)"   // a file's name
                                  R"(|\.osgb\b)"                         // a kind of file
                                  R"(|SRSOrigin)"                        // an element
                                  R"(|\bX: <x> Y: <y> Z: <z>|\bx,y,z\b)" // a form to follow
                                  R"(|\b\d+(\.\d+)?\b)");                // a number
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kinds);
         it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

// Fails with both texts when the Chinese misses something the English has.
void ExpectSaysAll(const std::string& english, const std::string& chinese) {
    for (const std::string& part : Checkable(english))
        EXPECT_TRUE(Contains(chinese, part))
            << "the Chinese lacks \"" << part << "\"\n  " << english << "\n  " << chinese;
}

const std::error_code kDenied = std::make_error_code(std::errc::permission_denied);

// Every problem kind there is: the English falls back to the bare path past the last.
std::vector<ProblemKind> EveryProblemKind() {
    std::vector<ProblemKind> kinds;
    for (int k = 0;; ++k) {
        const Problem problem{static_cast<ProblemKind>(k), "/p/x", {}};
        if (DescribeProblem(Language::English, problem) == PathText("/p/x"))
            return kinds;
        kinds.push_back(problem.kind);
    }
}

TEST(BothLanguages, EveryProblemSaysInChineseWhatItSaysInEnglish) {
    const std::vector<ProblemKind> kinds = EveryProblemKind();
    ASSERT_GT(kinds.size(), static_cast<std::size_t>(ProblemKind::OldOverviewKept));
    const std::filesystem::path path = std::filesystem::u8path("/数据/测区 7/metadata.xml");
    for (const ProblemKind kind : kinds)
        for (const std::error_code cause : {std::error_code(), kDenied}) {
            const Problem problem{kind, path, cause, {{"Block_A", "EPSG:4326"}}};
            const std::string english = DescribeProblem(Language::English, problem);
            const std::string chinese = DescribeProblem(Language::Chinese, problem);
            SCOPED_TRACE(static_cast<int>(kind));
            ExpectSaysAll(english, chinese);
            if (Contains(english, PathText(path))) {
                EXPECT_TRUE(Contains(chinese, PathText(path))) << chinese;
            }
            if (Contains(english, kDenied.message())) {
                EXPECT_TRUE(Contains(chinese, DescribeCause(Language::Chinese, kDenied)))
                    << chinese;
            }
            // --verify words a missing or unreadable index its own way, the rest as the export.
            ExpectSaysAll(DescribeVerifyProblem(Language::English, problem),
                          DescribeVerifyProblem(Language::Chinese, problem));
        }
}

TEST(BothLanguages, EveryTilesReasonSaysInChineseWhatItSaysInEnglish) {
    for (std::size_t r = 0; r < kTileStatusCount; ++r)
        for (const LoadFailure failure :
             {LoadFailure::None, LoadFailure::EmptyFile, LoadFailure::NotAScene,
              LoadFailure::Truncated, LoadFailure::UnknownCompressor,
              LoadFailure::UnsupportedVersion, LoadFailure::ReaderError}) {
            const auto reason = static_cast<TileStatus>(r);
            SCOPED_TRACE(r);
            const LeftOutSubfolder leftOut{"Tile_+001_+002",      reason,  kDenied,      1430,
                                           "Tile_+001_+002.osgb", failure, "bad magic 7"};
            ExpectSaysAll(DescribeLeftOut(Language::English, leftOut),
                          DescribeLeftOut(Language::Chinese, leftOut));
            IndexEntryCheck entry;
            entry.name = "Tile_+001_+002\\root.osgb";
            entry.status = reason;
            entry.cause = kDenied;
            entry.limit = 1430;
            entry.loadFailure = failure;
            entry.readerText = "bad magic 7";
            ExpectSaysAll(DescribeBrokenEntry(Language::English, entry),
                          DescribeBrokenEntry(Language::Chinese, entry));
        }
}

TEST(BothLanguages, TheCommandLinesOwnLinesSayInChineseWhatTheySayInEnglish) {
    const std::vector<std::pair<std::string, std::string>> lines = {
        {StoppingLine(Language::English), StoppingLine(Language::Chinese)},
        {StoppedLine(Language::English, true, false, 3),
         StoppedLine(Language::Chinese, true, false, 3)},
        {PagedIndexTipLine(Language::English, 2400), PagedIndexTipLine(Language::Chinese, 2400)},
        {BadJobs(Language::English, "abc", 1024), BadJobs(Language::Chinese, "abc", 1024)},
        {BadIndexKind(Language::English, "x"), BadIndexKind(Language::Chinese, "x")},
        {BadProgress(Language::English, "x"), BadProgress(Language::Chinese, "x")},
        {NeedsValue(Language::English, "--jobs"), NeedsValue(Language::Chinese, "--jobs")},
        {UsageLine(Language::English, "p", true), UsageLine(Language::Chinese, "p", true)},
    };
    for (const auto& [english, chinese] : lines)
        ExpectSaysAll(english, chinese);
    // The line a signal handler writes is whole: it starts and ends a line of its own.
    for (const Language language : {Language::English, Language::Chinese}) {
        const std::string stopping = StoppingLine(language);
        EXPECT_EQ(stopping.front(), '\n');
        EXPECT_EQ(stopping.back(), '\n');
        EXPECT_EQ(stopping.rfind("\nbrindle-export: ", 0), 0u) << stopping;
    }
    EXPECT_TRUE(Contains(StoppingLine(Language::Chinese), "停止"))
        << StoppingLine(Language::Chinese);

    const HelpText english = Help(Language::English);
    const HelpText chinese = Help(Language::Chinese);
    for (const auto field :
         {&HelpText::description, &HelpText::footer, &HelpText::folder, &HelpText::jobs,
          &HelpText::dryRun, &HelpText::force, &HelpText::verify, &HelpText::strict,
          &HelpText::noCache, &HelpText::index, &HelpText::json, &HelpText::quiet,
          &HelpText::progress, &HelpText::help, &HelpText::version})
        ExpectSaysAll(english.*field, chinese.*field);
}

TEST(BothLanguages, TheChecksFindWhatAChineseTextLacks) {
    // The check itself: an option, a file's name or a number left out is caught.
    for (const char* part : {"--force", "root.osgb", "1024", "<SRSOrigin>"})
        EXPECT_FALSE(Checkable(std::string("a ") + part + " b").empty()) << part;
    EXPECT_EQ(Checkable("no index was written, the existing one was kept"),
              std::set<std::string>{});
}

} // namespace
} // namespace brindle::wording
