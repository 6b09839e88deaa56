#pragma once

#include "export/export_progress.h"
#include "export/export_report.h"
#include "export/export_run.h"
#include "export/isolation/check_settings.h"
#include "export/run/earlier_read_ahead.h"
#include "export/run/run_locks.h"
#include "export/tiles3d/tileset_build.h"
#include "export/tiles3d/tileset_folder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace brindle {

class SpatialReferences;

// Starts what converts the files of a run's tilesets (ExportCalls::startConverter).
using ConverterStart = std::function<Result<FileConverter>(const CheckSettings&)>;
// The worker processes of FileConversions, started with the run's check settings.
ConverterStart WorkerConverterStart();

// The 3D Tiles tilesets of one run, listed folder by listed folder, each made once the
// folder's index is written: in DIR/<folder name>, built in a staging folder beside the old
// tileset and put in place whole (TilesetStaging), the workers started at the first need.
class TilesetWriting {
public:
    TilesetWriting(const ExportOptions& options, const CheckSettings& settings,
                   SpatialReferences& references, RunLocks& locks, ConverterStart start);
    ~TilesetWriting();

    // The listed folders of the run, which no tileset's folder may lie inside or around.
    void setListed(std::vector<std::filesystem::path> listed) { listed_ = std::move(listed); }
    // Told, from the run's thread, what the tileset of the listed folder in hand has done so
    // far, and once more when it is over (`ended`).
    void setProgress(std::function<void(const TilesetProgress&)> told) { told_ = std::move(told); }

    // Begins reading what the earlier tileset of `listed`, a block, was made from, while its
    // tiles are checked (see EarlierReadAhead).
    void readAhead(const std::filesystem::path& listed);

    // Makes the tileset of the listed folder of `report`, whose index was just written (or,
    // in a dry run, would be): `blocks`, for a folder of blocks, the reports of its blocks.
    // Sets report.tileset, and adds the tileset's problems to the folder's warnings.
    void write(FolderReport& report, const std::vector<const FolderReport*>& blocks);

private:
    // Refuses a tileset folder that cannot be ours: the output folder and a listed one inside
    // each other, or a name another listed folder's tileset took in this run.
    std::optional<Problem> refusal(const std::filesystem::path& listed,
                                   const std::filesystem::path& target);
    // The listed folder's own tileset, and a folder of blocks': one a block, and one naming
    // theirs, written last.
    // False when there is no tileset to put in place (its index was left out).
    Result<bool> buildOne(FolderReport& report, const TilesetStaging& staging);
    Result<bool> buildBlocks(FolderReport& report, const std::vector<const FolderReport*>& blocks,
                             const TilesetStaging& staging);
    // Builds the tileset of one block (a listed folder, or a block of a folder of blocks) into
    // `output`, taking unchanged contents from `previous`; `shownAs` is where it will be.
    Result<TilesetBuilt> build(const FolderReport& block, const std::filesystem::path& output,
                               const std::filesystem::path& previous,
                               const std::filesystem::path& shownAs, FolderReport& report);
    Result<FileConverter*> converter();
    // Adds what a build came to to the listed folder's report.
    void record(const TilesetBuilt& built, FolderReport& report) const;
    // The stage of the listed folder of `report` begins: its tile roots, its blocks' summed.
    void beginProgress(const FolderReport& report, const std::vector<const FolderReport*>& blocks);
    // Tells the stage's counts: those of the blocks built before, and `walk`'s of the block
    // in hand (`block`, `tileCount` tile roots).
    void tellProgress(const std::filesystem::path& block, std::uint64_t tileCount,
                      const TilesetBuildProgress& walk, bool blockDone);
    void endProgress();

    const ExportOptions& options_;
    const CheckSettings& settings_;
    SpatialReferences& references_;
    RunLocks& locks_;
    ConverterStart start_;
    std::optional<Result<FileConverter>> converter_;
    EarlierReadAhead earlierAhead_;
    std::vector<std::filesystem::path> listed_;
    std::set<std::filesystem::path> targets_; // the tileset folders of this run so far
    std::function<void(const TilesetProgress&)> told_;
    TilesetProgress stage_; // the folder in hand's, for the blocks built before
    // The last told, with the block in hand's counts: the stage's end tells it once more.
    std::optional<TilesetProgress> shown_;
};

} // namespace brindle
