#pragma once

#include "export/export_report.h"
#include "export/overview/tile_summary.h"
#include "export/protocol/content_reply.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace brindle {

// The messages between the export run and its tile-check workers. A request is a length,
// then its fields; a reply has a fixed size, so a worker that dies mid-reply is told from one
// that answered, and says itself whether a trailer follows it: a tile's summary, of a fixed
// size, or a converted file's finer files, of the size it states. The run may send several
// requests at once; they are answered in order.

enum class CheckKind : std::uint8_t {
    Tile = 1,          // does the file load?
    ExistingIndex = 2, // is the file an index that may be replaced?
    IndexEntries = 3,  // which files does the index name? (`firstEntry` onwards)
    // Convert the file's own level to a binary glTF file at `glbPath`, and say which files its
    // paged nodes name. Always a fast parse, with the images the file embeds decoded.
    Content = 4,
};

enum class ParseMode : std::uint8_t {
    Fast = 0, // parse the file's own bytes; decode no image, load no referenced scene
    Full = 1, // load it as a viewer would
};

struct CheckRequest {
    CheckKind kind = CheckKind::Tile;
    ParseMode mode = ParseMode::Fast;
    std::uint64_t memoryCeiling = 0; // bytes the check may allocate; 0 for no ceiling
    double cpuSeconds = 0;           // processor time the check may take; 0 for no limit
    bool wantBound = false;          // Tile: also find the bound of what the file holds
    // Tile: also summarise what a file that loads holds inline, seen from above, for overview
    // levels. Images embedded in the file are decoded for it, even in a fast parse.
    bool wantSummary = false;
    std::uint32_t firstEntry = 0; // IndexEntries: the first name wanted
    bool quantize = false;        // Content: KHR_mesh_quantization
    bool b3dm = false;            // Content: the glb wrapped in a Batched 3D Model
    bool meshopt = false;         // Content: EXT_meshopt_compression
    std::string path;             // UTF-8 on Windows, the path's own bytes elsewhere
    std::string glbPath;          // Content: where the content goes, in the same form
    // Tile: how a viewer comes to load the file, when another file names it: the folders its
    // load searches after the file's own (the database path the naming files left, first
    // first), and the files already loading above it, a name reaching any of which is a
    // cycle. Both in the path's text form. A file above need not exist yet: an index the
    // run is about to write is as good as there, since a viewer will find it.
    std::vector<std::string> inheritedSearch;
    std::vector<std::string> filesAbove;
};

enum class CheckVerdict : std::uint8_t {
    Loads = 1,
    Missing = 2,
    NotRegular = 3,
    Unreadable = 4, // opening or reading failed; the reply carries the system's error
    DoesNotLoad = 5,
    OutOfMemory = 6,
    IsIndex = 7,    // ExistingIndex: it loads and holds only groups, transforms and references
    HoldsScene = 8, // ExistingIndex: it loads and holds drawables
    Cycle = 9,      // Tile: the files it names to load at once lead back to a file on the way
};

// Where a tile's content lies, in the tile's own coordinates.
struct TileBound {
    enum class Kind : std::uint8_t {
        NotAsked = 0,
        Known = 1,   // the file's own content, or its root's user-defined centre and radius
        Unknown = 2, // only the files it references could tell
    };
    Kind kind = Kind::NotAsked;
    double centre[3] = {0, 0, 0};
    double radius = 0;
};

struct CheckReply {
    CheckVerdict verdict = CheckVerdict::DoesNotLoad;
    // For Unreadable: the system's cause. Its value (errno, or the Windows error code) is
    // what is sent; it is read back in the system category.
    std::error_code cause;
    bool retiring = false; // the worker ends after this reply; start a new one
    // Tile: the file names other files to load at once, so the verdict rests on those too.
    bool followsOthers = false;
    // Tile that loads: it holds no drawables, only groups, transforms and references, as an
    // index over tile folders does.
    bool indexScene = false;
    // OutOfMemory: the size of the one allocation that failed, in whole MiB (rounded down),
    // when the worker knows it; 0 otherwise.
    std::uint32_t failedAllocationMiB = 0;
    TileBound bound;                             // for a Tile that loads, when asked
    LoadFailure loadFailure = LoadFailure::None; // for DoesNotLoad
    std::string readerText;           // for ReaderError, at most kMaxReaderText bytes of UTF-8
    std::uint32_t entryCount = 0;     // IndexEntries: how many names the index holds in all
    std::vector<std::string> entries; // IndexEntries: names from `firstEntry`, as many as fit
    SummaryState summaryState = SummaryState::NotMade;
    std::shared_ptr<const TileSummary> summary; // when Made
    // Content, for a file that loads: what its conversion gave. Never with a summary.
    std::optional<ContentReply> content;
};

constexpr std::size_t kReplySize = 4096;
// A summary's bytes after its reply: the extent, the heights, the colours, the coverage, whether
// it is lit, drawn with normals and in colours of its own, and its normals.
constexpr std::size_t kSummaryBytes =
    4 * sizeof(double) +
    std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples * (sizeof(float) + 3) +
    std::size_t{kSummaryColourPixels} * kSummaryColourPixels * 4 + 3;
// A summary as its kSummaryBytes bytes, as a reply carries it (and the overview's held tiles
// keep it on disk), and back: nothing for bytes too few or a summary no tile can have (an
// extent without area, a flag neither 0 nor 1, a normal's component below -127).
std::string EncodeSummary(const TileSummary& summary);
std::optional<TileSummary> DecodeSummary(std::string_view bytes);
// How many bytes follow the fixed part of a reply whose first kReplySize bytes are `head`: a
// summary's, or the finer files of a converted file (at most kMaxContentTrailer).
std::size_t ReplyTrailerSize(std::string_view head);
// Sets, in a reply encoded beforehand, what became of its summary, and that no summary follows.
void SetSummaryState(char* encodedReply, SummaryState state);

// Writes the failed allocation's size into a reply encoded beforehand, in place: a worker out
// of memory can allocate nothing.
void SetFailedAllocation(char* encodedReply, std::uint64_t bytes);
constexpr std::size_t kMaxReaderText = 320;
// A longer entry name is sent cut to this length; no file system has such a path.
constexpr std::size_t kMaxEntryName = 1024;
constexpr std::size_t kRequestLengthSize = 4;
constexpr std::size_t kMaxRequestLength = 1 << 16;
// A worker holds the replies of checks that have more requests waiting behind them and writes
// them together, but holds none longer than this after the check that follows it ends: the
// run's deadline for a reply allows for it.
constexpr std::chrono::milliseconds kMostReplyHold{30};

// A request's path as the protocol carries it, and back: UTF-8 on Windows, the path's own
// bytes elsewhere.
std::string RequestPathText(const std::filesystem::path& path);
std::filesystem::path RequestPath(const CheckRequest& request);

std::filesystem::path PathOfRequestText(const std::string& text);

std::string EncodeRequest(const CheckRequest& request);
// Several requests, one after another, as one batch is sent.
std::string EncodeRequests(const std::vector<CheckRequest>& requests);
// Reads the request's length from its first bytes; nothing when it is out of bounds.
std::optional<std::size_t> DecodeRequestLength(std::string_view prefix);
std::optional<CheckRequest> DecodeRequestBody(std::string_view body);

// Encodes as many of `reply.entries` as fit; DecodeReply tells how many did. The reader's
// text is cut to kMaxReaderText bytes, at a character's start. The summary, when made, or a
// content's finer files (as many as kMaxFinerNames and kMaxContentTrailer let through; the
// content's `finerNamed` still counts them all) are encoded after the fixed part; `bytes`
// to DecodeReply is then both. A content's entries are not sent.
std::string EncodeReply(const CheckReply& reply);
std::optional<CheckReply> DecodeReply(std::string_view bytes);

} // namespace brindle
