// The catalogue of words: a row for every kind, found by its kind, with a key for the JSON
// report and words in both languages that say the same things; and the formatter its texts go
// through.
#include "wording/text.h"
#include "wording/words.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace brindle::wording {
namespace {

// A key as docs/json-report.md spells them: lower-case words joined by underscores.
bool IsSnakeCase(const std::string& key) {
    if (key.empty() || key.front() == '_' || key.back() == '_')
        return false;
    for (const char c : key)
        if (!((c >= 'a' && c <= 'z') || c == '_'))
            return false;
    return true;
}

// The placeholders a text names, but the system's cause (%5 of a problem, whose Chinese
// gives it where the English has no room for it).
std::set<char> Placeholders(const std::string& text, char leftAside = 0) {
    std::set<char> named;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9' && text[i + 1] != leftAside)
            named.insert(text[i + 1]);
    return named;
}

// Brackets come in pairs, one level deep, and hold a placeholder: an optional part that
// could never be left out is a typing error.
bool BracketsPair(const std::string& text) {
    std::size_t open = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[') {
            if (open != std::string::npos)
                return false;
            open = i;
        } else if (text[i] == ']') {
            if (open == std::string::npos || Placeholders(text.substr(open, i - open)).empty())
                return false;
            open = std::string::npos;
        }
    }
    return open == std::string::npos;
}

void ExpectWords(const Texts& texts, char leftAside = 0) {
    ASSERT_NE(texts.english, nullptr);
    ASSERT_NE(texts.chinese, nullptr);
    EXPECT_NE(std::string(texts.english), "");
    EXPECT_NE(std::string(texts.chinese), "");
    EXPECT_TRUE(BracketsPair(texts.english)) << texts.english;
    EXPECT_TRUE(BracketsPair(texts.chinese)) << texts.chinese;
    EXPECT_EQ(Placeholders(texts.english, leftAside), Placeholders(texts.chinese, leftAside))
        << texts.english << " / " << texts.chinese;
}

TEST(Words, EveryProblemKindHasItsOwnKeyAndTheSameFactsInBothLanguages) {
    std::set<std::string> keys;
    for (std::size_t k = 0; k < kProblemKindCount; ++k) {
        const auto kind = static_cast<ProblemKind>(k);
        const ProblemWords& row = WordsOf(kind);
        SCOPED_TRACE(row.key);
        EXPECT_EQ(row.kind, kind);
        EXPECT_TRUE(IsSnakeCase(row.key));
        EXPECT_TRUE(keys.insert(row.key).second);
        ExpectWords(row.words, '5');
        // Every problem names what it is about.
        EXPECT_TRUE(Placeholders(row.words.english).count('1'));
        // --force overrides a refusal: the English says how within its sentence, the Chinese
        // command line after it.
        const bool forced = std::string(row.words.english).find("--force") != std::string::npos;
        EXPECT_EQ(forced, row.chineseForce != nullptr);
    }
    EXPECT_EQ(std::string(WordsOf(static_cast<ProblemKind>(kProblemKindCount)).key), "unknown");
}

TEST(Words, EveryTileStatusHasItsOwnKeyAndTheSameFactsInBothLanguages) {
    std::set<std::string> keys;
    for (std::size_t s = 0; s < kTileStatusCount; ++s) {
        const auto status = static_cast<TileStatus>(s);
        const TileStatusWords& row = WordsOf(status);
        SCOPED_TRACE(row.key);
        EXPECT_EQ(row.status, status);
        EXPECT_TRUE(IsSnakeCase(row.key));
        EXPECT_TRUE(keys.insert(row.key).second);
        ExpectWords(row.brief);
        ExpectWords(row.leftOut);
        ExpectWords(row.brokenEntry);
        // A brief reason follows a count: it names nothing.
        EXPECT_TRUE(Placeholders(row.brief.english).empty());
        // An index entry is named before its reason; its root file is not named again.
        EXPECT_FALSE(Placeholders(row.brokenEntry.english).count('1'));
    }
    EXPECT_EQ(std::string(WordsOf(static_cast<TileStatus>(kTileStatusCount)).key), "unknown");
}

TEST(Words, EveryOtherKindHasARowWithItsKeyAndWords) {
    std::set<std::string> keys;
    for (std::size_t f = 0; f < kLoadFailureCount; ++f) {
        const auto failure = static_cast<LoadFailure>(f);
        EXPECT_EQ(WordsOf(failure).failure, failure);
        ExpectWords(WordsOf(failure).words);
        // No key for None: the system's cause is in "cause".
        EXPECT_EQ(WordsOf(failure).key == nullptr, failure == LoadFailure::None);
        if (WordsOf(failure).key) {
            EXPECT_TRUE(IsSnakeCase(WordsOf(failure).key) &&
                        keys.insert(WordsOf(failure).key).second);
        }
    }
    keys.clear();
    for (std::size_t r = 0; r < kSummaryFailureCount; ++r) {
        const auto reason = static_cast<SummaryFailure>(r);
        EXPECT_EQ(WordsOf(reason).reason, reason);
        ExpectWords(WordsOf(reason).words);
        EXPECT_TRUE(IsSnakeCase(WordsOf(reason).key) && keys.insert(WordsOf(reason).key).second);
    }
    keys.clear();
    for (std::size_t s = 0; s < kFolderStatusCount; ++s) {
        const auto status = static_cast<FolderStatus>(s);
        EXPECT_EQ(WordsOf(status).status, status);
        EXPECT_NE(std::string(WordsOf(status).chinese), "");
        EXPECT_TRUE(IsSnakeCase(WordsOf(status).key) && keys.insert(WordsOf(status).key).second);
    }
    keys.clear();
    for (std::size_t k = 0; k < kIndexKindCount; ++k) {
        const auto kind = static_cast<IndexKind>(k);
        EXPECT_EQ(WordsOf(kind).kind, kind);
        EXPECT_NE(std::string(WordsOf(kind).chinese), "");
        // The command line notes every kind but the proxy index, the one it always wrote.
        EXPECT_EQ(std::string(WordsOf(kind).note.english).empty(), kind == IndexKind::Proxy);
        EXPECT_EQ(std::string(WordsOf(kind).note.chinese).empty(), kind == IndexKind::Proxy);
        EXPECT_TRUE(IsSnakeCase(WordsOf(kind).key) && keys.insert(WordsOf(kind).key).second);
    }
    keys.clear();
    for (std::size_t o = 0; o < kOriginSourceCount; ++o) {
        const auto source = static_cast<OriginSource>(o);
        EXPECT_EQ(WordsOf(source).source, source);
        EXPECT_NE(std::string(WordsOf(source).chinese), "");
        EXPECT_TRUE(IsSnakeCase(WordsOf(source).key) && keys.insert(WordsOf(source).key).second);
    }
    keys.clear();
    for (std::size_t k = 0; k < kSrsKindCount; ++k) {
        const auto kind = static_cast<SrsKind>(k);
        EXPECT_EQ(WordsOf(kind).kind, kind);
        EXPECT_EQ(WordsOf(kind).key == nullptr, kind == SrsKind::None);
        if (WordsOf(kind).key) {
            EXPECT_TRUE(IsSnakeCase(WordsOf(kind).key) && keys.insert(WordsOf(kind).key).second);
        }
    }
}

TEST(Text, PhraseKeepsABracketedPartOnlyWhenItsPlaceholdersHaveText) {
    EXPECT_EQ(Phrase("%1 failed[: %2]", {"a", "why"}), "a failed: why");
    EXPECT_EQ(Phrase("%1 failed[: %2]", {"a", ""}), "a failed");
    EXPECT_EQ(Phrase("%1 failed[: %2]", {"a"}), "a failed");
    // Each part on its own; the rest of the pattern as Fill has it.
    EXPECT_EQ(Phrase("%1 无法加载[（%2）][（%3）]", {"甲", "", "权限不足"}),
              "甲 无法加载（权限不足）");
    EXPECT_EQ(Phrase("[%1 and %2]", {"x", ""}), "");
    EXPECT_EQ(Phrase("[%1 and %2]", {"x", "y"}), "x and y");
    EXPECT_EQ(Phrase("100% [sure]", {}), "100% sure");
    // A replacement is never read again: brackets and placeholders in a path stay as they are.
    EXPECT_EQ(Phrase("%1[: %2]", {"a[%2]", "b"}), "a[%2]: b");
    // A bracket left open is text.
    EXPECT_EQ(Phrase("%1 [: %2", {"a", "b"}), "a [: b");
}

} // namespace
} // namespace brindle::wording
