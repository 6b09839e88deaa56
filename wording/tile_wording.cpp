#include "wording/report_wording.h"
#include "wording/text.h"
#include "wording/words.h"

namespace brindle::wording {
namespace {

// A memory limit in whole megabytes, rounded up, as the command line has always said it.
std::string Megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

// A time limit in seconds with one decimal, rounded up: the limit is never understated.
std::string Seconds(std::uint64_t milliseconds) {
    const std::uint64_t tenths = (milliseconds + 99) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10)
        text += "." + std::to_string(tenths % 10);
    return text;
}

// What a tile's status is said with, as TileStatusWords's placeholders have it. Why the file
// does not load is said by its own words where the checker found them, else by the system's
// cause.
struct TileFacts {
    std::string rootFile;
    std::filesystem::path name;
    std::error_code cause;
    std::uint64_t limit = 0;
    LoadFailure loadFailure = LoadFailure::None;
    const std::string& readerText;
};

std::vector<std::string> Arguments(Language language, const TileFacts& facts) {
    const bool ownWords = facts.loadFailure != LoadFailure::None;
    return {facts.rootFile,
            PathText(facts.name),
            Seconds(facts.limit),
            Megabytes(facts.limit),
            ownWords ? std::string() : DescribeCause(language, facts.cause),
            ownWords ? DescribeLoadFailure(language, facts.loadFailure, facts.readerText)
                     : std::string()};
}

constexpr Texts kTooDeep{"names levels deeper than any overview has",
                         "引用的总览层级比任何总览都深"};

} // namespace

std::string DescribeLeftOut(Language language, const LeftOutSubfolder& leftOut) {
    // The root file named: the one found, else root.osgb.
    const std::string root = leftOut.rootFile.empty() ? "root.osgb" : PathText(leftOut.rootFile);
    const TileFacts facts{root,          leftOut.name,        leftOut.cause,
                          leftOut.limit, leftOut.loadFailure, leftOut.readerText};
    return Phrase(WordsOf(leftOut.reason).leftOut.in(language), Arguments(language, facts));
}

std::string DescribeReasonBriefly(Language language, TileStatus reason) {
    return WordsOf(reason).brief.in(language);
}

std::string DescribeLoadFailure(Language language, LoadFailure failure,
                                const std::string& readerText) {
    // The reader's error without its words is no reason at all.
    if (failure == LoadFailure::ReaderError && readerText.empty())
        failure = LoadFailure::None;
    return Fill(WordsOf(failure).words.in(language), {readerText});
}

std::string DescribeOverviewHole(Language language, const OverviewHole& hole) {
    return Phrase(WordsOf(hole.reason).words.in(language), {DescribeCause(language, hole.cause)});
}

std::string DescribeBrokenEntry(Language language, const IndexEntryCheck& entry) {
    if (entry.tooDeep)
        return kTooDeep.in(language);
    const TileFacts facts{{}, {}, entry.cause, entry.limit, entry.loadFailure, entry.readerText};
    return Phrase(WordsOf(entry.status).brokenEntry.in(language), Arguments(language, facts));
}

} // namespace brindle::wording
