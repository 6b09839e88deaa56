#pragma once

#include "export/export_report.h"
#include "wording/report_wording.h"

// The catalogue of what a run reports: one row per problem kind, tile status, overview hole,
// load failure, folder status, index kind, translation source and SRS kind, holding its JSON
// key and its words in English and Chinese. The command line, the JSON report and both dialogs
// read these rows, so a new kind is one row here. A text may hold placeholders (%1 to %9, as
// each table says) and optional parts in brackets, kept only when every placeholder in them
// has text (see Phrase in text.h).
namespace brindle::wording {

// One text in both languages.
struct Texts {
    const char* english;
    const char* chinese;

    constexpr const char* in(Language language) const {
        return language == Language::Chinese ? chinese : english;
    }
};

// A problem: %1 its path, %2 the first SRS it names, %3 the file of that SRS, %4 every block's
// SRS with the block's name, %5 the system's cause.
struct ProblemWords {
    ProblemKind kind;
    const char* key; // "kind" in the JSON report
    Texts words;
    // How the command line's --force overrides the refusal, added in Chinese; the English says
    // it within its sentence, and a dialog asks instead.
    const char* chineseForce;
};

// A tile's status: %1 its root file, %2 its subfolder's name, %3 the time limit in seconds,
// %4 the memory limit, %5 the system's cause, %6 why the file does not load (a LoadFailure's
// words); the cause only when there are no such words.
struct TileStatusWords {
    TileStatus status;
    const char* key;   // "reason" in the JSON reports
    Texts brief;       // a few words, to follow a count
    Texts leftOut;     // why a subfolder was left out
    Texts brokenEntry; // why an index entry is broken; no root file is named
};

// Why a file does not load: %1 the reader's own words. No key for None: the system's cause,
// if any, is in "cause".
struct LoadFailureWords {
    LoadFailure failure;
    const char* key;
    Texts words;
};

// Why the overview shows nothing of a tile: %1 the system's cause.
struct SummaryFailureWords {
    SummaryFailure reason;
    const char* key;
    Texts words;
};

// A folder's status as the JSON report and the dialogs' status column have it.
struct FolderStatusWords {
    FolderStatus status;
    const char* key;
    const char* chinese;
};

struct IndexKindWords {
    IndexKind kind;
    const char* key;
    Texts note;          // after the index file on the command line; none for the proxy index
    const char* chinese; // its name in the dialogs
};

// Where a translation came from, in the dialogs: %1 the folder of the report, %2 the report's
// file name, %3 the report (or metadata.xml) whole.
struct OriginWords {
    OriginSource source;
    const char* key;
    const char* chinese;
};

// What became of a tileset, on the command line: %1 its tileset.json, %2 the files converted,
// %3 those taken unchanged from the earlier tileset, %4 those left out.
struct TilesetStatusWords {
    TilesetStatus status;
    const char* key; // "status" of "tileset" in the JSON report
    Texts line;
    const char* chinese; // its status in the dialogs
};

struct SrsKindWords {
    SrsKind kind;
    const char* key; // none for None
};

// The row of each value; a value outside its enum (only a corrupt cast makes one) gets a row
// whose key is "unknown".
const ProblemWords& WordsOf(ProblemKind kind);
const TileStatusWords& WordsOf(TileStatus status);
const LoadFailureWords& WordsOf(LoadFailure failure);
const SummaryFailureWords& WordsOf(SummaryFailure reason);
const FolderStatusWords& WordsOf(FolderStatus status);
const IndexKindWords& WordsOf(IndexKind kind);
const OriginWords& WordsOf(OriginSource source);
const SrsKindWords& WordsOf(SrsKind kind);
const TilesetStatusWords& WordsOf(TilesetStatus status);

// Checks a table at compile time: a row for each value, in the enum's order, so that a row
// can be found by its value; and no row without words.
template <typename Row, std::size_t N, typename Enum>
constexpr bool RowsInOrder(const Row (&rows)[N], Enum Row::*value, std::size_t count) {
    if (N != count)
        return false;
    for (std::size_t i = 0; i < N; ++i)
        if (static_cast<std::size_t>(rows[i].*value) != i)
            return false;
    return true;
}

constexpr bool Filled(const char* text) {
    return text != nullptr && text[0] != '\0';
}

constexpr bool Filled(const Texts& texts) {
    return Filled(texts.english) && Filled(texts.chinese);
}

} // namespace brindle::wording
