#include "export/run/tileset_writing.h"

#include "export/tiles3d/block_frame.h"
#include "export/tiles3d/conversion_manifest.h"
#include "export/tiles3d/tileset_folder.h"
#include "export/tiles3d/tileset_json.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

bool Cancelled(const std::error_code& cause) {
    return cause == std::errc::operation_canceled;
}

Problem ProblemOf(const TilesetFolderError& error) {
    if (error.failure == TilesetFolderFailure::NotOurs)
        return {ProblemKind::TilesetFolderNotOurs, error.path, {}};
    return {ProblemKind::TilesetNotWritten, error.path, error.cause};
}

// The name of the listed folder's tileset folder: the listed folder's own.
fs::path TilesetFolderName(const fs::path& listed) {
    const fs::path normal = listed.lexically_normal();
    return normal.has_filename() ? normal.filename() : normal.parent_path().filename();
}

// True when `folder` holds anything and is no tileset of ours: a dry run tells what the run
// would refuse, without writing.
bool HeldByOthers(const fs::path& folder) {
    std::error_code ec;
    if (fs::symlink_status(folder, ec).type() == fs::file_type::not_found)
        return false;
    if (IsTilesetFolderOfOurs(folder))
        return false;
    return !fs::is_directory(fs::symlink_status(folder, ec)) || !fs::is_empty(folder, ec);
}

// Viewers of version 1.0 read b3dm contents and no glb ones; glb contents are version 1.1's.
ContentSettings Contents(const TilesetOptions& tilesets) {
    return {tilesets.quantize, tilesets.b3dm, tilesets.meshopt};
}

TilesVersion VersionOf(const TilesetOptions& tilesets) {
    return tilesets.b3dm ? TilesVersion::V1_0 : TilesVersion::V1_1;
}

} // namespace

TilesetWriting::TilesetWriting(const ExportOptions& options, const CheckSettings& settings,
                               SpatialReferences& references, RunLocks& locks, ConverterStart start)
    : options_(options), settings_(settings), references_(references), locks_(locks),
      start_(std::move(start)) {}

TilesetWriting::~TilesetWriting() = default;

std::optional<Problem> TilesetWriting::refusal(const fs::path& listed, const fs::path& target) {
    for (const fs::path& folder : listed_)
        if (FoldersOverlap(folder, target))
            return Problem{ProblemKind::TilesetInsideListed, options_.tilesets.folder, {}};
    if (FoldersOverlap(listed, target))
        return Problem{ProblemKind::TilesetInsideListed, options_.tilesets.folder, {}};
    // Two listed folders of one name: the second would replace the first's tileset.
    std::error_code ec;
    const fs::path key = fs::weakly_canonical(fs::absolute(target, ec), ec);
    if (!targets_.insert(ec ? target : key).second)
        return Problem{ProblemKind::TilesetNotWritten, target,
                       std::make_error_code(std::errc::file_exists)};
    return std::nullopt;
}

void TilesetWriting::readAhead(const fs::path& listed) {
    const fs::path name = TilesetFolderName(listed);
    if (!options_.tilesets.wanted() || options_.dryRun || name.empty())
        return;
    earlierAhead_.start(options_.tilesets.folder / name, listed, Contents(options_.tilesets));
}

void TilesetWriting::write(FolderReport& report, const std::vector<const FolderReport*>& blocks) {
    TilesetReport& tileset = report.tileset.emplace();
    tileset.status = TilesetStatus::Failed;
    const fs::path& dir = options_.tilesets.folder;
    const fs::path name = TilesetFolderName(report.folder);
    tileset.folder = dir / name;
    const auto fail = [&report](Problem problem) { report.warnings.push_back(std::move(problem)); };
    if (name.empty())
        return fail({ProblemKind::TilesetNotWritten, tileset.folder,
                     std::make_error_code(std::errc::invalid_argument)});
    if (std::optional<Problem> refused = refusal(report.folder, tileset.folder))
        return fail(std::move(*refused));
    if (options_.dryRun) {
        if (HeldByOthers(tileset.folder))
            return fail({ProblemKind::TilesetFolderNotOurs, tileset.folder, {}});
        tileset.status = TilesetStatus::DryRun;
        return;
    }
    std::error_code made;
    fs::create_directories(dir, made);
    if (made)
        return fail({ProblemKind::TilesetNotWritten, dir, made});
    // Two runs writing one tileset would remove each other's staging folders.
    std::shared_ptr<FolderLock> lock;
    if (std::optional<Problem> busy = locks_.take(dir, lock))
        return fail(std::move(*busy));
    TilesetStaging staging;
    // A block's tileset is updated in place where its contents were made as this run makes
    // them; a folder of blocks', whose blocks' tilesets go in place together, is built anew.
    const ContentSettings contents = Contents(options_.tilesets);
    const auto updatable = [&](const fs::path& folder) {
        const std::optional<ManifestHead> head = ReadManifestHead(folder);
        std::error_code ec;
        return blocks.empty() && head && head->settings == contents &&
               fs::is_regular_file(fs::symlink_status(folder / kTilesetName, ec));
    };
    if (std::optional<TilesetFolderError> error =
            TilesetStaging::Begin(dir, name, staging, SystemTilesetFolderCalls(), updatable))
        return fail(ProblemOf(*error));
    beginProgress(report, blocks);
    const Result<bool> built =
        blocks.empty() ? buildOne(report, staging) : buildBlocks(report, blocks, staging);
    endProgress();
    // Updated in place, the new tileset is there once its build is done.
    if (staging.inPlace() && built && *built) {
        tileset.status = TilesetStatus::Written;
        return;
    }
    // A cancelled run leaves the old tileset, even where the new one is complete.
    if (Cancelled(built.error()) || settings_.cancelled()) {
        tileset.status = TilesetStatus::Cancelled;
        return;
    }
    if (!built)
        return fail({ProblemKind::TilesetNotWritten, tileset.folder, built.error()});
    // Nothing to put in place: the files left out say why.
    if (!*built)
        return fail({ProblemKind::TilesetNotWritten, tileset.folder, {}});
    if (std::optional<TilesetFolderError> error = staging.publish())
        return fail(ProblemOf(*error));
    tileset.status = TilesetStatus::Written;
}

Result<bool> TilesetWriting::buildOne(FolderReport& report, const TilesetStaging& staging) {
    const Result<TilesetBuilt> built =
        build(report, staging.folder(), staging.previous(), report.tileset->folder, report);
    if (!built)
        return built.error();
    return built->written;
}

Result<bool> TilesetWriting::buildBlocks(FolderReport& report,
                                         const std::vector<const FolderReport*>& blocks,
                                         const TilesetStaging& staging) {
    std::vector<BlockTileset> written;
    for (const FolderReport* block : blocks) {
        const fs::path name = TilesetFolderName(block->folder);
        const fs::path output = staging.folder() / name;
        std::error_code made;
        fs::create_directory(output, made);
        if (made)
            return made;
        const fs::path previous =
            staging.previous().empty() ? fs::path() : staging.previous() / name;
        const Result<TilesetBuilt> built =
            build(*block, output, previous, report.tileset->folder / name, report);
        if (!built)
            return built.error();
        // A block whose index was left out has no tileset: the file left out says why.
        if (!built->written)
            continue;
        BlockTileset named = built->block;
        named.tileset = name / named.tileset;
        written.push_back(std::move(named));
    }
    if (written.empty())
        return false;
    // The blocks' tilesets are complete: the one naming them is written last.
    const Status named = WriteTileset(staging.folder() / kTilesetName,
                                      FolderOfBlocks(written, VersionOf(options_.tilesets)));
    if (!named)
        return named.error();
    return true;
}

Result<TilesetBuilt> TilesetWriting::build(const FolderReport& block, const fs::path& output,
                                           const fs::path& previous, const fs::path& shownAs,
                                           FolderReport& report) {
    Result<FileConverter*> convert = converter();
    if (!convert)
        return convert.error();
    std::unique_ptr<BlockFrame> frame;
    if (!block.srs.empty() && block.srsKind != SrsKind::Unknown) {
        const osg::Vec3d& t = block.translation;
        frame = BlockFrame::Make(references_, block.srs, {t.x(), t.y(), t.z()}, {0, 0, 0});
    }
    if (!frame)
        report.warnings.push_back({ProblemKind::TilesetLocalFrame, shownAs, {}});
    TilesetBuildOptions build;
    build.listedFolder = block.folder;
    build.frame = frame.get();
    build.output = output;
    const std::uint64_t tileRoots = block.entries.size();
    TilesetBuildProgress walked;
    if (told_)
        build.progress = [&](const TilesetBuildProgress& walk) {
            walked = walk;
            tellProgress(block.folder, tileRoots, walk, false);
        };
    std::error_code ec;
    if (!previous.empty() && fs::is_directory(previous, ec))
        build.previousOutput = previous;
    // Only a block's own tileset is built where its earlier one is (TilesetStaging::inPlace).
    build.inPlace = !previous.empty() && previous == output;
    build.quantize = options_.tilesets.quantize;
    build.b3dm = options_.tilesets.b3dm;
    build.meshopt = options_.tilesets.meshopt;
    build.version = VersionOf(options_.tilesets);
    // The walk keeps one worker busy while it comes down the overview's nodes one by one.
    build.aheadInFlight = std::max(1u, settings_.workerCount()) - 1;
    Result<TilesetBuilt> built = BuildTileset(
        build, **convert,
        build.inPlace ? earlierAhead_.take(build.previousOutput, block.folder) : nullptr);
    // The walk is over: the tile roots it did not reach (below an overview node left out)
    // never will be. One that failed or was cancelled stays where it came to.
    if (told_)
        tellProgress(block.folder, tileRoots, walked, built.ok());
    if (built)
        record(*built, report);
    return built;
}

Result<FileConverter*> TilesetWriting::converter() {
    if (!converter_)
        converter_.emplace(start_(settings_));
    if (!*converter_)
        return converter_->error();
    return &**converter_;
}

void TilesetWriting::beginProgress(const FolderReport& report,
                                   const std::vector<const FolderReport*>& blocks) {
    if (!told_)
        return;
    stage_ = {};
    stage_.folder = report.folder;
    stage_.tileCount = report.entries.size();
    if (!blocks.empty()) {
        stage_.tileCount = 0;
        for (const FolderReport* block : blocks)
            stage_.tileCount += block->entries.size();
    }
    // Told at once: the index and the overview's top nodes come first, which may take a while.
    shown_ = stage_;
    told_(stage_);
}

void TilesetWriting::tellProgress(const fs::path& block, std::uint64_t tileCount,
                                  const TilesetBuildProgress& walk, bool blockDone) {
    TilesetProgress shown = stage_;
    shown.folder = block;
    shown.converted += walk.converted;
    shown.reused += walk.reused;
    shown.bytes += walk.bytes;
    shown.tilesDone += blockDone ? tileCount : std::min(walk.tileRootsDone, tileCount);
    shown_ = shown;
    if (blockDone)
        stage_ = shown;
    else
        told_(shown);
}

void TilesetWriting::endProgress() {
    if (!told_ || !shown_)
        return;
    shown_->ended = true;
    told_(*shown_);
    shown_.reset();
}

void TilesetWriting::record(const TilesetBuilt& built, FolderReport& report) const {
    TilesetReport& tileset = *report.tileset;
    tileset.converted += built.converted;
    tileset.reused += built.reused;
    tileset.tiles += built.tiles;
    for (const LeftOutFile& left : built.leftOut) {
        fs::path name = left.file.lexically_relative(report.folder);
        if (name.empty() || *name.begin() == "..")
            name = left.file;
        tileset.leftOut.push_back(left.outcome.of(std::move(name), left.file));
        report.warnings.push_back({ProblemKind::TilesetFileLeftOut, left.file, left.outcome.cause});
    }
}

} // namespace brindle
