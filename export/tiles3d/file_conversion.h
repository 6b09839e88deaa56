#pragma once

#include "export/error/result.h"
#include "export/isolation/check_outcome.h"
#include "export/isolation/check_settings.h"
#include "export/tiles3d/content_error.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <vector>

namespace brindle {

// A file that a paged node of a converted file names in one of its ranges (the next finer
// level of that node), or that a proxy node names to load at once (an index's tile), as a
// viewer comes to load it.
struct FinerFile {
    // As a viewer resolves it: the paged node's database path (the folder of the file that
    // holds the node, unless the file gives one) and the name the range gives, or a proxy's
    // name searched for from that folder, found as the reader's search finds it (a backslash
    // is a separator everywhere); a name found nowhere as it reads plainly, for the caller to
    // find missing. Not made canonical: the same file may come by other paths.
    std::filesystem::path file;
    bool pixels = false; // the switch is in pixels on screen, not a distance
    // A distance: the file is shown when the eye is nearer than this. Pixels: when the node's
    // bound covers at least this many pixels on screen. A proxy's file, shown at every
    // distance: the largest float.
    double switchAt = 0;
    // The paged node's centre and radius in the node's own coordinates (the transforms above
    // it in its file not applied), as a viewer measures the switch from them: its bound (the
    // user-defined centre and radius where it has both, else its children's), whose centre a
    // distance is measured from unless the node's mode puts a user-defined centre there.
    std::array<double, 3> centre{};
    double radius = 0;
};

// What the conversion of one file came to.
struct ConvertedFile {
    // TileStatus::Valid, or why the file is left out (it did not load, it crashed or
    // outlasted its worker, it ran out of memory, it is not a regular file...).
    TileOutcome outcome{TileStatus::Valid};
    // A ContentError when the file loads but its own level gives no content (no glb is
    // written then); its finer files still count. When the glb could not be put in place, the
    // system's cause instead (its category is the system's): the output's trouble, not the
    // file's.
    std::error_code contentError;
    // The content's vertices, in the file's coordinates (block offsets), when it has content.
    std::array<double, 3> boundsMin{}, boundsMax{};
    std::uint64_t glbBytes = 0, triangles = 0;
    // The files its paged and proxy nodes name, in the order the file holds them; for a file
    // left out, none.
    std::vector<FinerFile> finer;
    // Files it names beyond those in `finer`: past the most one reply carries (a file naming
    // thousands is no tile), or with a path or numbers no paged tile has.
    std::uint32_t finerLeftOut = 0;
    // The run was cancelled before the file was converted: nothing above holds.
    bool cancelled = false;

    bool hasContent() const {
        return !cancelled && outcome.reason == TileStatus::Valid && !contentError;
    }
};

struct ConversionJob {
    std::filesystem::path file;
    // Where the content goes, as a binary glTF file: its folder exists. It is written whole
    // under a name of its own beside it, then renamed into place, so the path holds the old
    // file or the new one, never a part of one; not flushed: the caller flushes the folder
    // (the run's staging folder, flushed whole before it is put in place). Nothing is written
    // there for a file without content.
    std::filesystem::path glb;
    bool quantize = false; // KHR_mesh_quantization
    // The glb wrapped in a Batched 3D Model, as a tileset of version 1.0 has its contents.
    bool b3dm = false;
    bool meshopt = false; // EXT_meshopt_compression
};

// Worker processes converting files, one thread of the run each: as many as the settings'
// workerCount(), running settings.program(). Each conversion runs under the limits a tile
// check of that file's size has; a worker that crashes or overruns is replaced, and its job
// answered with that verdict. Once settings.cancel is set, jobs not yet begun are answered
// at once with `cancelled` set, without a conversion.
class FileConversions {
public:
    // Starts the pool's threads; the workers start with their first job. Fails only when the
    // threads cannot be made.
    static Result<std::unique_ptr<FileConversions>> Start(const CheckSettings& settings);
    // Waits for the jobs given so far, then ends the workers.
    ~FileConversions();
    FileConversions(const FileConversions&) = delete;
    FileConversions& operator=(const FileConversions&) = delete;

    using Done = std::function<void(const ConversionJob&, ConvertedFile)>;
    // Queues a job; from any thread, `done` included. `done` runs on a pool thread, once.
    void convert(ConversionJob job, Done done);
    // Returns once every job given so far is done, jobs that their `done`s gave included.
    void wait();

private:
    struct Pool;
    explicit FileConversions(std::unique_ptr<Pool> pool);
    std::unique_ptr<Pool> pool_;
};

} // namespace brindle
