#include "export/tiles3d/tileset_build.h"

#include "export/fs/atomic_file.h"
#include "export/fs/folder_publish.h"
#include "export/fs/our_folder_calls.h"
#include "export/fs/overview_folder.h"
#include "export/hash/fnv1a.h"
#include "export/tiles3d/conversion_manifest.h"
#include "export/tiles3d/geometric_error.h"
#include "export/tiles3d/tile_frames.h"
#include "export/tiles3d/tileset_cleanup.h"
#include "export/tiles3d/walked_tree.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <limits>
#include <mutex>
#include <queue>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// A conversion done, as the converter's thread hands it to the walk's.
struct Finished {
    std::uint64_t id = 0;
    ConvertedFile converted;
    // Converted ahead of the walk: from the converter, `id` is its place in `ahead_`; once the
    // walk has come to it, the walk's id.
    bool ahead = false;
    // Taken from the earlier build as it was: its line in the earlier manifest, which is its
    // line in the new one too.
    std::string recorded;
};

// A changed file given to the converter before the walk came to it.
struct AheadOfWalk {
    fs::path file, name; // the content's name, relative to the output folder
    bool done = false;
    ConvertedFile converted;
    std::uint64_t waiting = 0; // the walk's id for it, once the walk has come to it
    bool taken = false;
};

// The one place the converter's threads touch: what they finished, for the walk's thread.
struct Mailbox {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Finished> finished;
};

// A file waiting for its conversion. The files of the tile tree begun first go first, each
// tree breadth first, so that trees are completed (and let go) in the order they were begun.
struct Waiting {
    std::uint64_t tree = 0; // 0 for the index and the overview's nodes
    std::uint64_t order = 0;
    std::uint64_t id = 0;
    bool operator>(const Waiting& other) const {
        return std::tie(tree, order) > std::tie(other.tree, other.order);
    }
};

bool InOverviewFolder(const fs::path& file, const fs::path& listedFolder) {
    const fs::path relative = file.lexically_relative(listedFolder);
    return !relative.empty() && HasOverviewFolderName(*relative.begin());
}

// True when `name` lies below the folder `base` (both relative to the output folder).
bool IsBelow(const fs::path& name, const fs::path& base) {
    if (base.empty())
        return true;
    const fs::path relative = name.lexically_relative(base);
    return !relative.empty() && *relative.begin() != "..";
}

// `to` made the same file as `from`: a hard link, or a copy where links cannot be made.
Status TakeContent(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    fs::remove(to, error);
    fs::create_hard_link(from, to, error);
    if (!error)
        return {};
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
    return error;
}

// A tile's own tileset, written plainly: the output folder is put on disk as a whole before
// the tileset naming it is put in place, and a flush a tile would cost a build of 10^5 tiles
// minutes. Only tileset.json, written last, is replaced atomically. Where a folder's flush
// reaches only the files at its top (Windows), each is put on disk as it is written.
Status WriteTileTileset(const fs::path& file, const std::string& text) {
#if defined(_WIN32)
    const Result<FileReplaced> written = ReplaceFileAtomically(file, text);
    if (!written)
        return written.error();
    return written->notFlushed;
#else
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out)
        return std::make_error_code(std::errc::io_error);
    return {};
#endif
}

class TilesetWalk {
public:
    TilesetWalk(const TilesetBuildOptions& options, const FileConverter& convert,
                std::unique_ptr<EarlierConversions> earlier)
        : options_(options), convert_(convert), mailbox_(std::make_shared<Mailbox>()),
          earlier_(std::move(earlier)) {
        listed_ = WalkPath(options.listedFolder);
        output_ = WalkPath(options.output);
    }

    Result<TilesetBuilt> run();

private:
    std::uint64_t reach(const fs::path& file, FileRole role, std::uint64_t parent, std::size_t slot,
                        const FinerFile& named, std::uint64_t tree);
    void submit(std::uint64_t id);
    // A job converting `file` into `name` (relative to the output folder), its folder made;
    // the system's cause when the folder cannot be made.
    Result<ConversionJob> jobFor(const fs::path& file, const fs::path& name) const;
    // Gives `job` to the converter; it comes back to the walk's thread as `id`.
    void give(ConversionJob job, std::uint64_t id, bool ahead);
    bool reuse(WalkedFile& walked, std::uint64_t id);
    // Gives the converter changed files ahead of the walk, while fewer than the options allow
    // are in flight.
    void convertAhead();
    // The walk has come to a file given ahead: its conversion, when it is done and made the
    // content the walk would.
    bool takeAhead(WalkedFile& walked, std::uint64_t id);
    void arrived(Finished finished);
    // Removes the contents made ahead for files the walk never came to.
    void removeUntakenAhead();
    // The name of the tile root's tileset of `text`: the earlier build's when it wrote the
    // same, else one of this build's, written.
    std::optional<fs::path> tileTileset(const WalkedFile& walked, const std::string& text);
    Status beginUpdate();
    Status putManifestInPlace();
    void finishUpdate();
    void take(Finished finished);
    void placeOwnFrame(WalkedFile& walked);
    double ErrorOfWalkedFile(const WalkedFile& walked, const std::vector<FinerFile>& finer) const;
    void childDone(std::uint64_t parent, std::size_t slot, std::optional<TilesetTile> tile);
    void complete(std::uint64_t id);
    std::optional<TilesetTile> tileOf(WalkedFile& walked);
    void waitForConversions();
    void tellProgress() const;
    Status writeTileset();
    ContentFormat format() const {
        return options_.b3dm ? ContentFormat::B3dm : ContentFormat::Glb;
    }
    ContentSettings settings() const {
        return {options_.quantize, options_.b3dm, options_.meshopt};
    }
    // A name this build writes or keeps, which an update in place must not remove.
    void keepName(const fs::path& name) {
        if (options_.inPlace)
            kept_.insert(NameKey(name));
    }

    const TilesetBuildOptions& options_;
    const FileConverter& convert_;
    std::shared_ptr<Mailbox> mailbox_;
    fs::path listed_, output_;

    std::unordered_map<std::uint64_t, WalkedFile> files_;
    std::unordered_map<std::uint64_t, FileStamp> stamps_;
    std::unordered_set<PathKey, PathKeyHash> reached_;
    std::priority_queue<Waiting, std::vector<Waiting>, std::greater<>> waiting_;
    std::deque<Finished> reused_;
    std::vector<AheadOfWalk> ahead_;
    std::unordered_map<PathKey, std::size_t, PathKeyHash> aheadByKey_;
    std::size_t nextAhead_ = 0, aheadInFlight_ = 0;
    std::size_t aheadHeld_ = 0; // done, and not yet come to
    std::uint64_t nextId_ = 1, nextTree_ = 1, nextOrder_ = 0, indexId_ = 0;
    std::size_t inFlight_ = 0;
    std::error_code failure_;
    bool indexLeftOut_ = false;
    std::optional<TilesetTile> root_;
    std::unique_ptr<ManifestWriter> manifest_;
    std::unique_ptr<EarlierConversions> earlier_;
    std::uint64_t generation_ = 1;
    // In place: the names of the tileset being built, and whether what the earlier build named
    // is unknown (its manifest did not read, or a build was cut short since).
    NameSet kept_;
    bool sweep_ = false;
    std::vector<fs::path> namesNotKept_; // of the earlier manifest, once the walk is done
    TilesetBuilt built_;
    TilesetBuildProgress progress_;
};

Result<TilesetBuilt> TilesetWalk::run() {
    if (options_.previousOutput.empty()) {
        earlier_.reset();
    } else {
        if (!earlier_)
            earlier_ = EarlierConversions::Load(options_.previousOutput, listed_, settings());
        // Even where its contents cannot be taken, its generation is passed: an update in place
        // writes under a later one.
        const std::optional<ManifestHead> head =
            earlier_ ? std::nullopt : ReadManifestHead(options_.previousOutput);
        generation_ = 1 + (earlier_ ? earlier_->generation() : head ? head->generation : 0);
    }
    if (options_.inPlace)
        if (const Status begun = beginUpdate(); !begun)
            return begun.error();
    Result<std::unique_ptr<ManifestWriter>> manifest = ManifestWriter::Open(
        output_ / (options_.inPlace ? kManifestScratchName : kConversionManifestName), listed_,
        ManifestHead{settings(), generation_});
    if (!manifest)
        return manifest.error();
    manifest_ = std::move(*manifest);
    if (earlier_)
        for (const ChangedFile& changed : earlier_->changed()) {
            aheadByKey_.emplace(LookAtFile(changed.file).identity, ahead_.size());
            AheadOfWalk& ahead = ahead_.emplace_back();
            ahead.file = changed.file;
            ahead.name = Tagged(Untagged(changed.name), generation_);
        }

    indexId_ = reach(listed_ / "root.osgb", FileRole::Index, 0, 0, FinerFile{}, 0);
    for (;;) {
        convertAhead();
        // Files taken from the earlier build count as in flight until they are taken in,
        // so that a re-run holds no more of the tree at once than a first build.
        while (!failure_ &&
               inFlight_ + reused_.size() < std::max<std::size_t>(1, options_.jobsInFlight) &&
               !waiting_.empty()) {
            const std::uint64_t id = waiting_.top().id;
            waiting_.pop();
            submit(id);
        }
        if (!reused_.empty()) {
            Finished finished = std::move(reused_.front());
            reused_.pop_front();
            if (!finished.ahead)
                ++progress_.reused;
            if (!failure_)
                take(std::move(finished));
            tellProgress();
            continue;
        }
        if (inFlight_ == 0)
            break;
        waitForConversions();
        tellProgress();
    }
    // Nothing is written into the output folder once the walk has returned.
    while (aheadInFlight_ > 0)
        waitForConversions();
    removeUntakenAhead();
    std::error_code removed;
    fs::remove(output_ / IndexScratchName(listed_ / "root.osgb", format()), removed);
    fs::remove(output_ / kOutsideContentFolder, removed); // only when nothing else is there
    if (failure_)
        return failure_;
    if (const Status closed = manifest_->close(); !closed)
        return closed.error();
    if (indexLeftOut_ || !root_)
        return std::move(built_);
    if (options_.inPlace)
        if (const Status put = putManifestInPlace(); !put)
            return put.error();
    if (const Status written = writeTileset(); !written)
        return written.error();
    built_.written = true;
    if (options_.inPlace)
        finishUpdate();
    return std::move(built_);
}

// The note goes first: from here until the update is done, the folder may hold files that no
// tileset names.
Status TilesetWalk::beginUpdate() {
    std::error_code error;
    sweep_ = !earlier_ || fs::symlink_status(output_ / kUpdatePendingName, error).type() !=
                              fs::file_type::not_found;
    // Whatever holds the note's or the new manifest's name in our folder is ours and goes,
    // were it a folder: it would stop every update.
    for (const char* name : {kUpdatePendingName, kManifestScratchName})
        if (fs::symlink_status(output_ / name, error).type() == fs::file_type::directory)
            fs::remove_all(output_ / name, error);
    return WriteWholeFile(output_ / kUpdatePendingName,
                          "A Brindle 3D Tiles update of this folder began here.\n");
}

// The new contents and tilesets go on disk before the manifest that names them replaces the
// earlier one; tileset.json follows, atomically. The earlier manifest is done with first, the
// names it holds that the new build did not keep taken out of it: Windows replaces no file
// that is open, and the walk reads it as it goes.
Status TilesetWalk::putManifestInPlace() {
    if (const Status flushed = FlushFolder(output_); !flushed)
        return flushed;
    if (earlier_ && !sweep_)
        namesNotKept_ = earlier_->namesNotKept();
    earlier_.reset();
    std::error_code error;
    fs::rename(output_ / kManifestScratchName, output_ / kConversionManifestName, error);
    return error;
}

// The new tileset is in place: what only the earlier one named goes. Where that fails, the
// note stays, and the next update removes what is left.
void TilesetWalk::finishUpdate() {
    const Status removed = sweep_ ? RemoveAllNotKept(output_, kept_)
                                  : RemoveNamesNotKept(output_, namesNotKept_, kept_);
    std::error_code error;
    if (removed)
        fs::remove(output_ / kUpdatePendingName, error);
}

// Every conversion that has ended since, taken in the order they ended.
void TilesetWalk::waitForConversions() {
    std::deque<Finished> landed;
    {
        std::unique_lock<std::mutex> lock(mailbox_->mutex);
        mailbox_->arrived.wait(lock, [&] { return !mailbox_->finished.empty(); });
        landed.swap(mailbox_->finished);
    }
    for (const Finished& finished : landed)
        progress_.converted += finished.converted.cancelled ? 0 : 1;
    for (Finished& finished : landed)
        arrived(std::move(finished));
}

void TilesetWalk::arrived(Finished finished) {
    if (!finished.ahead) {
        --inFlight_;
        if (!failure_)
            take(std::move(finished));
        return;
    }
    --aheadInFlight_;
    AheadOfWalk& ahead = ahead_.at(finished.id);
    ahead.done = true;
    if (ahead.waiting == 0) {
        ahead.converted = std::move(finished.converted);
        ++aheadHeld_;
        return;
    }
    --inFlight_;
    if (!failure_)
        take({ahead.waiting, std::move(finished.converted), false, {}});
}

void TilesetWalk::convertAhead() {
    const std::size_t most = std::max<std::size_t>(1, options_.aheadInFlight);
    const std::size_t held = std::max<std::size_t>(1, options_.jobsInFlight);
    while (!failure_ && nextAhead_ < ahead_.size() && aheadInFlight_ < most &&
           aheadInFlight_ + aheadHeld_ < held) {
        const std::size_t index = nextAhead_++;
        AheadOfWalk& ahead = ahead_[index];
        if (ahead.taken)
            continue;
        Result<ConversionJob> job = jobFor(ahead.file, ahead.name);
        if (!job) {
            // The walk converts it itself when it comes to it, and fails there.
            ahead.taken = true;
            continue;
        }
        ++aheadInFlight_;
        give(std::move(*job), index, true);
    }
}

bool TilesetWalk::takeAhead(WalkedFile& walked, std::uint64_t id) {
    const auto found = aheadByKey_.find(walked.key);
    if (found == aheadByKey_.end())
        return false;
    const std::size_t index = found->second;
    AheadOfWalk& ahead = ahead_[index];
    if (ahead.taken)
        return false;
    // Not given yet: the walk gives it itself, as any file.
    if (index >= nextAhead_) {
        ahead.taken = true;
        return false;
    }
    // Made under another name than the walk gives it here (its tile root is another): made
    // again, and the one made ahead removed at the end.
    if (ahead.name != walked.contentName)
        return false;
    ahead.taken = true;
    if (!ahead.done) {
        ahead.waiting = id;
        ++inFlight_;
        return true;
    }
    --aheadHeld_;
    reused_.push_back({id, std::move(ahead.converted), true, {}});
    return true;
}

void TilesetWalk::removeUntakenAhead() {
    for (std::size_t index = 0; index < nextAhead_ && index < ahead_.size(); ++index) {
        if (ahead_[index].taken)
            continue;
        std::error_code error;
        fs::remove(output_ / ahead_[index].name, error);
        fs::remove(output_ / ahead_[index].name.parent_path(), error); // only when empty
    }
}

void TilesetWalk::tellProgress() const {
    if (options_.progress)
        options_.progress(progress_);
}

std::uint64_t TilesetWalk::reach(const fs::path& file, FileRole role, std::uint64_t parent,
                                 std::size_t slot, const FinerFile& named, std::uint64_t tree) {
    // Looked at once: the key it is walked once by, and the stamp its content is recorded with.
    FileLook look = LookAtFile(file);
    if (!reached_.insert(look.identity).second)
        return 0;
    const std::uint64_t id = nextId_++;
    WalkedFile& walked = files_[id];
    walked.file = file.lexically_normal();
    walked.key = look.identity;
    if (look.stamp && role != FileRole::Index)
        stamps_[id] = *look.stamp;
    walked.role = role;
    walked.parent = parent;
    walked.slot = slot;
    walked.named = named;
    walked.tree = tree;
    if (role == FileRole::Index) {
        // The index is no tile: its transform to the block's origin is not the tiles' frame.
        walked.contentName = IndexScratchName(walked.file, format());
    } else if (role == FileRole::Finer) {
        walked.base = files_.at(parent).base;
        walked.contentName =
            Tagged(ContentNameBelow(walked.file, listed_, walked.base, format()), generation_);
    } else {
        walked.contentName = Tagged(ContentName(walked.file, listed_, format()), generation_);
        if (role == FileRole::TileRoot)
            walked.base = walked.contentName.parent_path();
    }
    built_.mostFilesHeld = std::max<std::uint64_t>(built_.mostFilesHeld, files_.size());
    waiting_.push({tree, nextOrder_++, id});
    return id;
}

Result<ConversionJob> TilesetWalk::jobFor(const fs::path& file, const fs::path& name) const {
    ConversionJob job;
    job.file = file;
    job.glb = output_ / name;
    job.quantize = options_.quantize;
    job.b3dm = options_.b3dm;
    job.meshopt = options_.meshopt;
    std::error_code error;
    fs::create_directories(job.glb.parent_path(), error);
    if (error)
        return error;
    return job;
}

void TilesetWalk::give(ConversionJob job, std::uint64_t id, bool ahead) {
    ++built_.converted;
    std::shared_ptr<Mailbox> mailbox = mailbox_;
    convert_(std::move(job), [mailbox, id, ahead](const ConversionJob&, ConvertedFile converted) {
        const std::lock_guard<std::mutex> lock(mailbox->mutex);
        mailbox->finished.push_back({id, std::move(converted), ahead, {}});
        mailbox->arrived.notify_one();
    });
}

void TilesetWalk::submit(std::uint64_t id) {
    WalkedFile& walked = files_.at(id);
    Result<ConversionJob> job = jobFor(walked.file, walked.contentName);
    if (!job) {
        failure_ = job.error();
        return;
    }
    if (walked.role != FileRole::Index) {
        if (stamps_.count(id) != 0 && reuse(walked, id))
            return;
        if (takeAhead(walked, id))
            return;
    }
    ++inFlight_;
    give(std::move(*job), id, false);
}

// The earlier build's content and result for a file unchanged since, when there is one: under
// the name it had, kept where it is in place, else linked.
bool TilesetWalk::reuse(WalkedFile& walked, std::uint64_t id) {
    if (!earlier_)
        return false;
    std::optional<EarlierConversion> earlier = earlier_->find(walked.file, stamps_.at(id));
    if (!earlier || !earlier->converted.hasContent())
        return false;
    // A tile's tileset names only what lies in its folder.
    if (walked.role == FileRole::Finer && !IsBelow(earlier->name, walked.base))
        return false;
    if (!options_.inPlace && !TakeContent(earlier->content, output_ / earlier->name))
        return false;
    walked.contentName = earlier->name;
    earlier_->keep(earlier->line);
    ++built_.reused;
    reused_.push_back({id, std::move(earlier->converted), false, std::move(earlier->text)});
    return true;
}

void TilesetWalk::take(Finished finished) {
    const std::uint64_t id = finished.id;
    ConvertedFile& converted = finished.converted;
    if (converted.cancelled) {
        failure_ = std::make_error_code(std::errc::operation_canceled);
        return;
    }
    WalkedFile& walked = files_.at(id);
    if (const auto stamp = stamps_.find(id); stamp != stamps_.end())
        progress_.bytes += stamp->second.size;
    if (converted.outcome.reason != TileStatus::Valid) {
        stamps_.erase(id);
        built_.leftOut.push_back({walked.file, converted.outcome});
        if (walked.role == FileRole::TileRoot)
            ++progress_.tileRootsDone;
        if (walked.role == FileRole::Index) {
            indexLeftOut_ = true;
            files_.erase(id);
            return;
        }
        const std::uint64_t parent = walked.parent;
        const std::size_t slot = walked.slot;
        files_.erase(id);
        childDone(parent, slot, std::nullopt);
        return;
    }
    walked.converted = true;
    walked.hasContent = converted.hasContent() && walked.role != FileRole::Index;
    walked.boundsMin = converted.boundsMin;
    walked.boundsMax = converted.boundsMax;
    if (walked.hasContent) {
        ++built_.tiles;
        built_.contentBytes += converted.glbBytes;
        built_.triangles += converted.triangles;
        const auto stamp = stamps_.find(id);
        if (!finished.recorded.empty())
            manifest_->addLine(finished.recorded);
        else if (stamp != stamps_.end())
            manifest_->add(walked.file, stamp->second, walked.contentName, converted);
        keepName(walked.contentName);
    } else if (walked.role != FileRole::Index) {
        ++built_.withoutContent;
    }
    stamps_.erase(id);
    placeOwnFrame(walked);

    walked.error = ErrorOfWalkedFile(walked, converted.finer);
    walked.children.resize(converted.finer.size());
    // The references stay: the map moves no element it holds.
    for (std::size_t slot = 0; slot < converted.finer.size(); ++slot) {
        const FinerFile& named = converted.finer[slot];
        FileRole role = FileRole::Finer;
        std::uint64_t tree = walked.tree;
        if (walked.role == FileRole::Index || walked.role == FileRole::Overview) {
            const bool node = InOverviewFolder(named.file.lexically_normal(), listed_);
            role = node ? FileRole::Overview : FileRole::TileRoot;
            tree = node ? 0 : nextTree_;
        }
        if (reach(named.file, role, id, slot, named, tree) == 0)
            continue; // reached before: converted once, and a tile once
        ++walked.pending;
        if (role == FileRole::TileRoot)
            ++nextTree_;
    }
    if (walked.pending == 0)
        complete(id);
}

// The frame of an overview node or a tile root: fitted at its content's centre, or where the
// file that named it says it lies when it has none.
void TilesetWalk::placeOwnFrame(WalkedFile& walked) {
    walked.frame = IdentityMap();
    if (walked.role == FileRole::Finer) {
        walked.frame = files_.at(walked.parent).frame;
        return;
    }
    if (walked.role == FileRole::Index || !options_.frame)
        return;
    Point3 centre = walked.named.centre;
    double size = walked.named.radius;
    if (walked.hasContent) {
        size = 0.0;
        for (int axis = 0; axis < 3; ++axis) {
            centre[axis] = (walked.boundsMin[axis] + walked.boundsMax[axis]) / 2.0;
            size = std::max(size, (walked.boundsMax[axis] - walked.boundsMin[axis]) / 2.0);
        }
    }
    const std::optional<ColumnMajor4x4> fitted =
        FitFrame(*options_.frame, centre, std::max(size, 1.0));
    if (fitted) {
        walked.frame = *fitted;
        walked.ownFrame = true;
    } else {
        // The library could not take its points: it stays in the frame of the file that
        // named it, where at least the block's own place holds it.
        walked.frame = files_.at(walked.parent).frame;
    }
}

// A file's error, as soon as it is converted. The index's is settled once its box is known
// (writeTileset): it draws nothing, and gives way as soon as the block is in view. A file
// without content gives way as soon as its parent does, or, below the index, once its bound
// covers the viewer's 16 pixels.
double TilesetWalk::ErrorOfWalkedFile(const WalkedFile& walked,
                                      const std::vector<FinerFile>& finer) const {
    if (walked.role == FileRole::Index)
        return std::numeric_limits<double>::infinity();
    const double ceiling = files_.at(walked.parent).error;
    if (walked.hasContent)
        return std::min(ceiling, ErrorOfSwitches(finer, true, walked.boundsMin, walked.boundsMax));
    if (std::isfinite(ceiling))
        return ceiling;
    const double own = ErrorOfSwitches(finer, false, walked.boundsMin, walked.boundsMax);
    return std::isfinite(own) ? std::max(own, 2.0 * walked.named.radius)
                              : 2.0 * walked.named.radius;
}

void TilesetWalk::childDone(std::uint64_t parent, std::size_t slot,
                            std::optional<TilesetTile> tile) {
    WalkedFile& walked = files_.at(parent);
    walked.children.at(slot) = std::move(tile);
    if (--walked.pending == 0 && walked.converted)
        complete(parent);
}

// A file whose whole tree is done becomes a tile of the file that named it; a tile root's
// tree is written as a tileset of its own and let go. Upwards without recursion: the files
// above may complete with it.
void TilesetWalk::complete(std::uint64_t id) {
    for (;;) {
        WalkedFile& walked = files_.at(id);
        std::optional<TilesetTile> tile = tileOf(walked);
        if (walked.role == FileRole::TileRoot)
            ++progress_.tileRootsDone;
        if (walked.role == FileRole::Index) {
            root_ = std::move(tile);
            files_.erase(id);
            return;
        }
        const std::uint64_t parent = walked.parent;
        const std::size_t slot = walked.slot;
        files_.erase(id);
        WalkedFile& above = files_.at(parent);
        above.children.at(slot) = std::move(tile);
        if (--above.pending != 0 || !above.converted)
            return;
        id = parent;
    }
}

std::optional<TilesetTile> TilesetWalk::tileOf(WalkedFile& walked) {
    const ColumnMajor4x4 parentFrame =
        walked.role == FileRole::Index ? IdentityMap() : files_.at(walked.parent).frame;
    std::optional<TilesetTile> tile = TileOfWalkedFile(walked, parentFrame);
    if (!tile)
        return tile;
    if (walked.hasContent) {
        const fs::path uri = walked.base.empty()
                                 ? walked.contentName
                                 : walked.contentName.lexically_relative(walked.base);
        tile->contentUri = RelativeUri(uri);
    }
    if (walked.role != FileRole::TileRoot || failure_)
        return tile;
    // The tile's tree as a tileset beside its content, in the tile's frame; the tileset above
    // names it from a tile with the transform, box and error of its root.
    const std::optional<ColumnMajor4x4> transform = tile->transform;
    Tileset own;
    own.root = std::move(*tile);
    own.root.transform.reset();
    own.version = options_.version;
    KeepErrorsFromGrowing(own.root);
    own.geometricError = own.root.geometricError;
    const std::optional<std::string> text = TilesetJson(own);
    if (!text) {
        failure_ = std::make_error_code(std::errc::invalid_argument);
        return std::nullopt;
    }
    const std::optional<fs::path> name = tileTileset(walked, *text);
    if (!name)
        return std::nullopt;
    ++built_.tileTilesets;
    TilesetTile named;
    named.box = own.root.box;
    named.geometricError = own.root.geometricError;
    named.contentUri = RelativeUri(*name);
    named.transform = transform;
    return named;
}

std::optional<fs::path> TilesetWalk::tileTileset(const WalkedFile& walked,
                                                 const std::string& text) {
    const std::uint64_t hash = Fnv1a().addBytes(text).value();
    const std::optional<EarlierTileTileset> earlier =
        earlier_ ? earlier_->findTileset(walked.file) : std::nullopt;
    fs::path name;
    if (earlier && earlier->hash == hash && earlier->bytes == text.size() &&
        IsBelow(earlier->name, walked.base) &&
        (options_.inPlace ||
         TakeContent(options_.previousOutput / earlier->name, output_ / earlier->name))) {
        name = earlier->name;
        earlier_->keep(earlier->line);
    } else {
        name = TileTilesetName(ContentName(walked.file, listed_, format()), generation_);
        if (const Status written = WriteTileTileset(output_ / name, text); !written) {
            failure_ = written.error();
            return std::nullopt;
        }
    }
    manifest_->addTileset(walked.file, name, hash, text.size());
    keepName(name);
    return name;
}

Status TilesetWalk::writeTileset() {
    Tileset tileset;
    tileset.root = std::move(*root_);
    tileset.root.transform.reset();
    if (options_.frame)
        tileset.transform = options_.frame->frameToEarth();
    tileset.version = options_.version;
    // The index draws nothing: it gives way as soon as the block covers the viewer's 16 pixels
    // (its error the block's extent), and never after its children would.
    const std::vector<Point3> corners = Corners(tileset.root.box);
    const double extent = std::hypot(corners[7][0] - corners[0][0], corners[7][1] - corners[0][1],
                                     corners[7][2] - corners[0][2]);
    tileset.root.geometricError = extent;
    for (const TilesetTile& child : tileset.root.children)
        tileset.root.geometricError = std::max(tileset.root.geometricError, child.geometricError);
    KeepErrorsFromGrowing(tileset.root);
    // Not drawing the tileset at all is worse than drawing its root.
    tileset.geometricError = 2.0 * tileset.root.geometricError;
    built_.block.tileset = kTilesetName;
    built_.block.frameToEarth = tileset.transform.value_or(IdentityMap());
    built_.block.box = tileset.root.box;
    built_.block.geometricError = tileset.geometricError;
    return WriteTileset(output_ / kTilesetName, tileset);
}

} // namespace

fs::path WalkPath(const fs::path& folder) {
    std::error_code error;
    const fs::path absolute = fs::absolute(folder, error);
    return error ? folder.lexically_normal() : absolute.lexically_normal();
}

Result<TilesetBuilt> BuildTileset(const TilesetBuildOptions& options, const FileConverter& convert,
                                  std::unique_ptr<EarlierConversions> earlier) {
    return TilesetWalk(options, convert, std::move(earlier)).run();
}

} // namespace brindle
