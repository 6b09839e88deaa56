#pragma once

#include <osg/Vec3d>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace brindle {

// What became of one subfolder: listed in its folder's index, or left out and why.
enum class TileStatus {
    Valid,           // its root.osgb is a regular file that loads
    NoRootFile,      // there is no root.osgb directly in the subfolder
    NotRegularFile,  // root.osgb is (or links to) a folder, FIFO, device or socket; never opened
    LoadFailed,      // root.osgb does not load (`cause` says why when it could not be read)
    ReaderCrashed,   // the scene-graph reader crashed on it
    TimedOut,        // the reader ran past the tile's deadline (`limit`, in milliseconds)
    OutOfMemory,     // the reader wanted more than the tile's memory ceiling (`limit`, in bytes)
    UnsafeName,      // the name holds a backslash or a control character, which the index's
                     // "name\root.osgb" entry would turn into another path
    LinksBack,       // the subfolder is the listed folder or one of its ancestors, or its
                     // root.osgb is the listed folder's own index
    Cycle,           // root.osgb names files to load at once, and following those names leads
                     // back to a file already being loaded: a viewer would recurse without end
    BlockNotWritten, // a block of a folder of blocks whose own index was not written
};
// One past the last status: the wording has a row for each below it.
constexpr std::size_t kTileStatusCount = static_cast<std::size_t>(TileStatus::BlockNotWritten) + 1;

// Why a root.osgb does not load, as far as its checker could tell.
enum class LoadFailure : std::uint8_t {
    None = 0,               // it loads, or the cause is the system's (`cause`)
    EmptyFile = 1,          // the file holds no bytes
    NotAScene = 2,          // it starts like no scene file the reader knows
    Truncated = 3,          // its header or its content ends early
    UnknownCompressor = 4,  // its header names a compressor the reader does not have
    UnsupportedVersion = 5, // it was written by a newer reader, and this one cannot parse it
    ReaderError = 6,        // none of the above; `readerText` holds the reader's own words
};
// One past the last failure: the wording has a row for each below it.
constexpr std::size_t kLoadFailureCount = static_cast<std::size_t>(LoadFailure::ReaderError) + 1;

struct LeftOutSubfolder {
    // Built from any leading fields, as an aggregate would be.
    LeftOutSubfolder(std::filesystem::path name = {}, TileStatus reason = TileStatus::LoadFailed,
                     std::error_code cause = {}, std::uint64_t limit = 0,
                     std::filesystem::path rootFile = {},
                     LoadFailure loadFailure = LoadFailure::None, std::string readerText = {})
        : name(std::move(name)), reason(reason), cause(cause), limit(limit),
          rootFile(std::move(rootFile)), loadFailure(loadFailure),
          readerText(std::move(readerText)) {}

    std::filesystem::path name; // the subfolder's name within the listed folder
    TileStatus reason = TileStatus::LoadFailed;
    std::error_code cause;   // the system's cause, where there is one
    std::uint64_t limit = 0; // the limit exceeded, for TimedOut and OutOfMemory
    // The tile's root file as found (root.osgb or <name>.osgb); empty when there was neither.
    std::filesystem::path rootFile;
    LoadFailure loadFailure = LoadFailure::None; // for LoadFailed
    std::string readerText; // for ReaderError: the reader's last message, when it gave one
};

// Everything that can go wrong with a folder, as kinds; presenters put them into words.
enum class ProblemKind {
    // Errors: the folder's index was not written (or, in a dry run, would not be).
    FolderMissing,      // `path` does not exist
    NotAFolder,         // `path` exists but is not a folder
    FolderUnreadable,   // `path` cannot be listed; `cause` says why
    WriteFailed,        // `path` (the index) could not be written; `cause` says why
    NoIndexWriter,      // the scene-graph library has no .osgb writer
    WorkersUnavailable, // no tile-check worker could be started; `path` names the program
    ExistingHoldsScene, // `path` (the old index) holds scene data, so it was kept
    ExistingUnreadable, // `path` (the old index) could not be read, so it was kept
    NoTilesKeptIndex,   // no subfolder holds a loadable root.osgb; the old index `path` was kept
    // Warnings: the folder's index was written all the same.
    ReportUnreadable,      // report.txt `path` cannot be read; `cause` says why
    ReportNotRegularFile,  // report.txt `path` is a folder, FIFO, device or socket
    ReportNoSecondLine,    // report.txt `path` has no second line
    ReportNoOrigin,        // line 2 of report.txt `path` holds no origin: no capital Y, or no
                           // number where X or Y should start
    ReportOriginNotFinite, // line 2 of report.txt `path` reads as an infinite or NaN origin
    IndexNotFlushed, // the index `path` is in place, but its folder's entry may not be on disk
                     // yet: the folder could not be flushed (`cause` says why)
    // Errors: no subfolder of `path` holds a tile root that loads, so no index was written.
    // The subfolders left out say what was looked for in each.
    NoTilesFound,
    NoTilesLooksLikeTile,   // ...and `path` holds .osgb files itself: it looks like a tile
    NoTilesOneLevelTooHigh, // ...and subfolders of its subfolders hold tile roots
    // Warnings: metadata.xml `path` gave no origin; the translation was left unchanged.
    MetadataUnreadable,     // it cannot be read; `cause` says why
    MetadataNotRegularFile, // it is a folder, FIFO, device or socket
    MetadataTooLarge,       // it is far larger than any metadata file
    MetadataNotXml,         // it does not parse as XML
    MetadataNoOrigin,       // it has no SRSOrigin
    MetadataBadOrigin,      // its SRSOrigin is not three finite numbers
    // A warning: the tile folder holds its root file under several names that differ only in
    // letter case (as two copies from Windows can leave it); `path` is the one listed.
    RootNamesDifferInCase,
    // A warning: a production folder's metadata.xml or Data folder is not there as spelled,
    // and its folder holds more than one name by it in other letter case (METADATA.XML and
    // Metadata.xml); `path` is the one read, the first bytewise.
    NamesDifferInCase,
    // Warnings of the run as a whole: the verdict cache folder `path` was not used, so every
    // tile was checked and the next run will check them again.
    CacheFolderIsLink,       // it is a symbolic link
    CacheFolderNotOwned,     // it belongs to another user
    CacheFolderOpenToOthers, // others may write into it
    CacheFolderUnusable,     // it cannot be made or written to; `cause` says why
    // A warning of the run: the verdict cache file `path` could not be written (`cause` says
    // why), so the next run will check this run's tiles again.
    CacheNotWritten,
    // Error: metadata.xml `path` names a geographic SRS (`srs`), in degrees, whose origin is
    // no translation in metres; the old index was kept.
    MetadataGeographicSrs,
    // Warning: the same, and the origin was written as a translation all the same (--force,
    // or the user, asked).
    MetadataGeographicSrsForced,
    // Error: the projection library `path` (the name the system's loader looks for) cannot be
    // loaded, so the SRS metadata.xml names (`srs`, with the file) cannot be identified; the
    // old index was kept.
    SrsLibraryMissing,
    // Warning (an error with `strict`): the blocks of the folder of blocks `path` are in
    // different spatial references (`srs` names each block's), yet their indexes are
    // combined as if they were in one.
    BlocksSrsDiffer,
    // Error: the overview levels could not be written into `path`, the folder made for them
    // (`cause` says why); the old index and its levels were kept.
    OverviewNotWritten,
    // Warning: the index is in place, but the folder `path` of overview levels it replaced
    // could not be removed (`cause` says why); it is no index's now, and the next run removes it.
    OldOverviewKept,
    // Error: another run is writing the folder `path` and holds its lock; this run wrote
    // nothing into it and removed nothing from it.
    FolderBusy,
    // The 3D Tiles tileset of a folder whose index was written or kept (a tileset's problems
    // are among the folder's warnings, since its index stands; the run fails all the same):
    // Error: the tileset could not be written into `path` (`cause` says why); the old tileset,
    // if there was one, is as it was.
    TilesetNotWritten,
    // Error: `path`, where the tileset would go, holds files and is not a tileset of ours, so
    // it was left as it was and no tileset written.
    TilesetFolderNotOurs,
    // Error: the tileset's output folder `path` lies inside the listed folder, or the listed
    // folder inside the tileset's, so no tileset was written.
    TilesetInsideListed,
    // Warning: the file `path` of a tile's levels was left out of the tileset (`cause` says
    // why, when the system gave one; the tileset's report has the reason whole); the level
    // above it stays, as the finest there.
    TilesetFileLeftOut,
    // Warning: the folder has no spatial reference, so its tileset `path` stands in a local
    // frame about the earth's centre, not on the globe.
    TilesetLocalFrame,
};
// One past the last kind: the wording has a row for each below it.
constexpr std::size_t kProblemKindCount =
    static_cast<std::size_t>(ProblemKind::TilesetLocalFrame) + 1;

// Why the overview levels show nothing of a listed tile.
enum class SummaryFailure {
    NoSurface,   // its inline coarsest level draws no triangle seen from above
    TooLarge,    // its inline content holds more than a summary reads
    OutOfMemory, // making it reached the memory ceiling
    Crashed,     // the worker making it crashed
    TimedOut,    // making it took longer than the deadline
    Unreadable,  // the tile could not be read again for it; `cause` says why
};
// One past the last failure: the wording has a row for each below it.
constexpr std::size_t kSummaryFailureCount =
    static_cast<std::size_t>(SummaryFailure::Unreadable) + 1;

struct OverviewHole {
    std::filesystem::path name; // the tile's subfolder within the listed folder
    SummaryFailure reason = SummaryFailure::NoSurface;
    std::error_code cause;
};

// A spatial reference a problem concerns, and the file or folder it is the one of.
struct SrsOf {
    std::filesystem::path of;
    std::string srs; // as written there
};

// One error or warning: its kind, the file or folder concerned, and the system's cause.
struct Problem {
    // Built from any leading fields, as an aggregate would be.
    Problem(ProblemKind kind = ProblemKind::WriteFailed, std::filesystem::path path = {},
            std::error_code cause = {}, std::vector<SrsOf> srs = {})
        : kind(kind), path(std::move(path)), cause(cause), srs(std::move(srs)) {}

    ProblemKind kind = ProblemKind::WriteFailed;
    std::filesystem::path path;
    std::error_code cause;
    std::vector<SrsOf> srs; // for the kinds about spatial references
};

// What a spatial reference is, as far as the origin it comes with is concerned.
enum class SrsKind {
    None,       // no SRS was read: the origin came from a report.txt, or there is none
    Projected,  // a projected or geocentric CRS, in metres: the origin is a translation
    Geographic, // latitude and longitude, in degrees: the origin is no translation
    Enu,        // "ENU:lat,lon": a local east-north-up frame about that point
    Unknown,    // empty, unparsable, overlong, or a CRS of neither kind: taken as local
};
// One past the last kind: the wording has a row for each below it.
constexpr std::size_t kSrsKindCount = static_cast<std::size_t>(SrsKind::Unknown) + 1;

// Where the translation of a folder's index came from.
enum class OriginSource {
    ThisFolder,  // this folder's report.txt
    CarriedOver, // the report.txt of an earlier folder of the run (`originReport` names it)
    None,        // no report read yet in this run: the identity
    Metadata,    // metadata.xml beside this folder's tiles (`originReport` names it)
    Blocks,      // a folder of blocks: the identity, since each block's index carries its own
};
// One past the last source: the wording has a row for each below it.
constexpr std::size_t kOriginSourceCount = static_cast<std::size_t>(OriginSource::Blocks) + 1;

// Which index a folder gets.
enum class IndexKind {
    Proxy, // one proxy node naming every tile; a viewer loads them all when it opens the index
    Paged, // a tree of paged nodes; a viewer loads the tiles in view and drops the others
    // Paged coarse levels made from the tiles, above paged nodes naming the tiles: a viewer
    // shows the whole block at once from afar and loads the tiles only up close. The levels
    // are files of the program's own, in a folder of its own inside the listed folder.
    Overview,
};
// One past the last kind: the wording has a row for each below it.
constexpr std::size_t kIndexKindCount = static_cast<std::size_t>(IndexKind::Overview) + 1;

// Above this many tiles a folder is better served by the paged index: a viewer opening a
// proxy index reads every tile before its first picture. The dialogs and the command line
// suggest the paged index for such folders.
constexpr std::size_t kPagedIndexAdvisedAbove = 2000;

enum class FolderStatus {
    Written,   // the index file was written
    DryRun,    // everything but the write was done, and the write is expected to succeed
    Failed,    // the index was not written (or, in a dry run, would not be); `error` says why
    Cancelled, // the run was cancelled before this folder's index was written
    // The folder was listed earlier in the run, under this or another path (`firstListing`);
    // its index is written there, once, and its report is that listing's.
    ListedTwice,
};
// One past the last status: the wording has a row for each below it.
constexpr std::size_t kFolderStatusCount = static_cast<std::size_t>(FolderStatus::ListedTwice) + 1;

// A picture for a presenter to show, in plain bytes: red, green and blue for each pixel, rows
// from the top down. Empty when there is none.
struct ReportImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // width * height * 3
    bool empty() const { return width <= 0 || height <= 0; }
};

// What became of a listed folder's 3D Tiles tileset.
enum class TilesetStatus {
    Written,   // put in place whole, replacing the old one
    DryRun,    // the run wrote nothing
    Failed,    // not written: the folder's warnings say why; the old tileset is as it was
    Cancelled, // the run was cancelled first; the old tileset is as it was
};
// One past the last status: the wording has a row for each below it.
constexpr std::size_t kTilesetStatusCount = static_cast<std::size_t>(TilesetStatus::Cancelled) + 1;

struct TilesetReport {
    // Where the tileset is (or would be): the output folder's folder for this listed folder,
    // tileset.json at its root.
    std::filesystem::path folder;
    TilesetStatus status = TilesetStatus::Cancelled;
    std::size_t converted = 0; // files converted by this run
    std::size_t reused = 0;    // unchanged files whose earlier conversion was taken
    std::size_t tiles = 0;     // tiles with content in the tileset
    // The files left out, in the order met: `name` the file relative to the listed folder,
    // `rootFile` the file as the run reached it.
    std::vector<LeftOutSubfolder> leftOut;
};

struct FolderReport {
    std::filesystem::path folder;
    std::filesystem::path indexFile;
    FolderStatus status = FolderStatus::Cancelled;
    IndexKind index = IndexKind::Proxy;
    std::vector<std::string> entries; // the tiles' names in the index, in index order
    // Paged index: the entries whose bound only their referenced files could tell, entered
    // as proxy nodes that load at once.
    std::vector<std::string> proxyLeaves;
    osg::Vec3d translation; // the translation written (or that would be)
    OriginSource originSource = OriginSource::None;
    // The report.txt or metadata.xml read, unless originSource is None or Blocks.
    std::filesystem::path originReport;
    // The spatial reference metadata.xml names ("EPSG:4547"), when the origin came from one.
    std::string srs;
    // What that spatial reference is; None when the origin came from no metadata.xml.
    SrsKind srsKind = SrsKind::None;
    // True when the tiles stay in a local frame (an ENU or unknown SRS): the index places
    // them about the frame's own origin, not in any map's coordinates.
    bool localFrame() const { return srsKind == SrsKind::Enu || srsKind == SrsKind::Unknown; }
    // A block exported for a folder of blocks: that folder, whose index names this one's.
    std::filesystem::path master;
    // A folder of blocks: the blocks its index names, in entry order.
    std::vector<std::filesystem::path> blocks;
    std::vector<LeftOutSubfolder> leftOut;
    // The subfolders whose root.osgb reached its memory ceiling and was checked once more,
    // alone, under a higher one; listed or left out by that second check. In name order.
    std::vector<std::filesystem::path> recheckedTiles;
    // Overview index: the listed tiles that the overview levels show nothing of, since no
    // summary could be made of them, in name order. Up close each is still loaded.
    std::vector<OverviewHole> overviewHoles;
    // Overview index: its top level seen from above, north up, as this run built it; empty where
    // the top was taken whole from an earlier run's levels, or shows nothing.
    ReportImage overviewPicture;
    std::vector<Problem> warnings;
    std::optional<Problem> error;
    std::filesystem::path firstListing; // for ListedTwice: the earlier listing, as listed
    // Subfolders whose verdict came from the verdict cache, their root file unchanged since
    // an earlier run checked it, instead of from a check in this run.
    std::size_t cachedVerdicts = 0;
    // A listed folder of a run making 3D Tiles tilesets: what its tileset came to.
    std::optional<TilesetReport> tileset;
};

// How many listed folders a run's report holds in each status, and what they hold between
// them. The blocks a folder of blocks exported are counted apart: they were not listed.
struct ReportTotals {
    std::size_t folders = 0; // listed
    std::size_t written = 0; // status Written
    std::size_t dryRun = 0;  // status DryRun: would be written
    std::size_t failed = 0;
    std::size_t cancelled = 0;
    std::size_t listedTwice = 0;
    std::size_t blocks = 0;           // exported for a folder of blocks (not repeats)
    std::size_t blocksNotWritten = 0; // of those, failed or cancelled
    // Tiles listed in an index written (or, in a dry run, that would be), over every folder; a
    // folder of blocks names indexes, whose tiles are counted in their blocks.
    std::size_t entries = 0;
    std::size_t leftOut = 0;        // subfolders left out, over every folder
    std::size_t warnings = 0;       // the folders' warnings (Problems), over every folder
    std::size_t cachedVerdicts = 0; // subfolders' verdicts from the cache, over every folder
    std::size_t overviewHoles = 0;  // listed tiles the overview levels show nothing of
};

struct ExportReport {
    // One per listed folder, in list order; the blocks a folder of blocks exported come just
    // before it, each naming it as its master.
    std::vector<FolderReport> folders;
    // True when some folder was left unwritten because the run was cancelled.
    bool cancelled = false;
    // The run's own warnings, about no folder in particular: the verdict cache could not be
    // used or written. At most one of each.
    std::vector<Problem> warnings;

    // True when every folder's index was written (or, in a dry run, would be), and its
    // tileset too, where the run makes them.
    bool succeeded() const;
    // True when it succeeded with nothing left out, no warnings (the run's own included) and no
    // folder listed twice.
    bool spotless() const;
    // The counts every presenter of the report gives.
    ReportTotals totals() const;
};

} // namespace brindle
