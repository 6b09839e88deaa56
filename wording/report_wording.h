#pragma once

#include "export/export_report.h"
#include "export/verify/index_verify.h"

#include <osg/Vec3d>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// The words for what an export run reports, for the Qt dialog, the Win32 dialog and the
// command line alike. Plain C++: UTF-8 in, UTF-8 out, no toolkit. Paths are written as
// PathText writes them.
namespace brindle::wording {

enum class Language { English, Chinese };

// Why a subfolder was left out: "root.osgb failed to load: the file is cut short".
std::string DescribeLeftOut(Language language, const LeftOutSubfolder& leftOut);
// A few words for a reason, to follow a count: "2 no root file, 1 failed to load".
std::string DescribeReasonBriefly(Language language, TileStatus reason);
// Why a file does not load; the reader's own message as it gave it.
std::string DescribeLoadFailure(Language language, LoadFailure failure,
                                const std::string& readerText);
// Why the overview levels show nothing of a listed tile: "its coarsest level draws no triangle
// seen from above".
std::string DescribeOverviewHole(Language language, const OverviewHole& hole);
// An error or warning, naming its path, with the system's cause when there is one; as the
// command line says it, with the option that overrides a refusal.
std::string DescribeProblem(Language language, const Problem& problem);
// The system's cause: the common ones in the language's own words, the rest in the system's.
// Empty when there is none.
std::string DescribeCause(Language language, const std::error_code& cause);
// Said of a folder whose tiles stay in a local frame (an ENU or unknown SRS).
std::string LocalFrameNote(Language language);
// --verify: why an index entry is broken, and why a folder's index could not be read.
std::string DescribeBrokenEntry(Language language, const IndexEntryCheck& entry);
std::string DescribeVerifyProblem(Language language, const Problem& problem);

// The dialogs' account of a run. The dialogs speak Chinese.

// One left-out subfolder as the results list it.
struct LeftOutText {
    std::string name;   // the subfolder's name
    std::string reason; // why it is not in the index
};

// One listed folder, in words: the top-level row of the results and its details.
struct FolderText {
    std::string folder;      // the folder, as the system writes paths
    std::string status;      // written, dry run, failed, cancelled, listed twice
    std::string entries;     // the number of index entries, empty when nothing was written
    std::string translation; // the translation and where it came from, empty when not written
    // The spatial reference metadata.xml names, whole (a WKT can run to a thousand characters),
    // with the local frame note where the tiles stay in theirs; empty when none was named.
    std::string srs;
    bool ok = false;   // the index was written (or would be, in a dry run), or listed before
    std::string error; // why the index was not written, empty when it was
    std::vector<std::string> warnings;
    std::vector<LeftOutText> leftOut;
    // Overview index: the listed tiles its coarse levels show nothing of, and why.
    std::vector<LeftOutText> overviewHoles;
    // A block of a folder of blocks: that folder, as `folder` writes it; the results show the
    // block under it.
    std::string master;
    // A run making 3D Tiles: what became of the folder's tileset ("3D Tiles：…/tileset.json
    // （转换 …）"), and the files of its tiles left out of it; empty otherwise.
    std::string tileset;
    std::vector<LeftOutText> tilesetLeftOut;
};

// A whole run in words.
struct ReportText {
    bool succeeded = false; // every folder written and not cancelled
    std::string headline;   // one short phrase for the top of the window
    std::string summary;    // one sentence of counts under it
    // The run's own warnings, about no folder: the verdict cache could not be used or written.
    std::vector<std::string> warnings;
    std::vector<FolderText> folders;
};

ReportText DescribeReport(const ExportReport& report);

// True when a run leaves the dialogs nothing to tell but "导出成功": it was spotless, and
// every overview it wrote shows every tile it lists.
bool NothingToTell(const ExportReport& report);

// How long a run took: "0.4 秒", "27.8 秒", "2 分 5 秒", "1 小时 10 分".
std::string DescribeDuration(std::chrono::milliseconds took);

// What the dialogs show under "导出成功" when everything went well: the counts and the time the
// run took (`took`), then each listed folder's index, one line each: the file, its kind, its
// entries and translation (the first few folders, when there are many).
std::string SuccessDetails(const ExportReport& report, std::chrono::milliseconds took);

// Where a block of a folder of blocks goes in the plain text of a report.
enum class BlockLayout {
    Listed, // in report order, with a line naming its folder of blocks
    Nested, // under its folder of blocks, one step further in
};
// The report as plain text for the clipboard: headline, summary, then folder by folder; each
// line ends in "\n".
std::string PlainText(const ReportText& text, BlockLayout layout);

// The titles of the results' four columns: folder, status, entries, translation.
std::vector<std::string> ColumnTitles();
// The heading of a folder's left-out subfolders.
std::string LeftOutGroup(std::size_t count);
// The heading of the tiles a folder's overview shows nothing of.
std::string OverviewHoleGroup(std::size_t count);
// The heading of the files left out of a folder's 3D Tiles tileset.
std::string TilesetLeftOutGroup(std::size_t count);

std::string DescribeStatus(FolderStatus status);
std::string DescribeOrigin(const FolderReport& folder);
std::string DescribeTranslation(const osg::Vec3d& translation);
// The question asked before replacing an existing root.osgb (`why` as in confirmReplace).
std::string ReplaceQuestion(const Problem& why);
// The buttons that answer ReplaceQuestion(why): to go ahead ("替换", "写入空索引"), and to
// leave the folder as it is, the safe default ("不替换", "不写入").
struct ReplaceAnswers {
    std::string proceed;
    std::string keep;
};
ReplaceAnswers AnswersTo(const Problem& why);
// The hint the empty folder list shows: how to add a folder, and the two layouts it may have.
std::string EmptyListHint();
// The suggestion beside the index choice while the proxy index is chosen and listed folders
// hold more than kPagedIndexAdvisedAbove subfolders each (`bigFolders`, as listed; at least
// one): the overview index to see the whole block, the paged one to look about it. The first
// folder is named, the others counted.
std::string PagedIndexHint(const std::vector<std::filesystem::path>& bigFolders);
// Why the run stopped short when it threw: out of memory, or an unexpected error and the
// exception's own words (`what`, in the system's encoding; empty when it had none).
std::string RunOutOfMemory();
std::string RunFailedUnexpectedly(const std::string& what);

} // namespace brindle::wording
