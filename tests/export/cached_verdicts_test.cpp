// The verdict cache through whole runs: a cache, warm, stale, damaged or gone, never changes
// the index a run writes; it only spares the checks of tiles that did not change.
#include "export/cache/verdict_cache.h"
#include "export/export_run.h"
#include "export/isolation/worker_process.h"
#include "export/run/folder_cache.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <osg/ProxyNode>
#include <osgDB/WriteFile>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::CountingWorker;
using test::ReadBytes;
using test::TempDir;
using test::WriteSizedTile;
using test::WriteText;
using test::WriteTile;

constexpr std::uint64_t kRealTile = std::uint64_t{96} * 1024;
constexpr std::size_t kGoodTiles = 4;

// A block of real-size tiles, a small one, and one that is not a scene (a verdict the cache
// keeps too), left to settle so that the cache may keep their verdicts.
fs::path MakeBlock(const fs::path& block) {
    for (std::size_t i = 0; i < kGoodTiles; ++i)
        WriteSizedTile(block / ("T" + std::to_string(i)), kRealTile, static_cast<unsigned>(i + 1));
    WriteTile(block / "Small");
    fs::create_directories(block / "Broken");
    WriteText(block / "Broken" / "root.osgb", std::string(70000, 'x'));
    return block;
}

constexpr std::size_t kTiles = kGoodTiles + 2;

void LetSettle() {
    std::this_thread::sleep_for(kSettleTime + std::chrono::milliseconds(100));
}

ExportOptions Cached(const fs::path& cache, IndexKind index = IndexKind::Proxy) {
    ExportOptions options;
    options.jobs = 2;
    options.verdictCache = cache;
    options.index = index;
    return options;
}

struct Outcome {
    std::size_t cached = 0;
    std::string index; // the bytes written
    std::vector<std::string> entries;
    std::vector<std::string> leftOut; // "name: reason/failure"
};

Outcome Export(const fs::path& block, const ExportOptions& options, const ExportCalls& calls = {}) {
    const ExportReport report = ExportFolderIndexes({block}, options, calls);
    Outcome outcome;
    EXPECT_TRUE(report.succeeded());
    if (report.folders.empty())
        return outcome;
    const FolderReport& folder = report.folders.front();
    outcome.cached = folder.cachedVerdicts;
    EXPECT_EQ(report.totals().cachedVerdicts, folder.cachedVerdicts);
    outcome.index = ReadBytes(block / "root.osgb");
    outcome.entries = folder.entries;
    for (const LeftOutSubfolder& left : folder.leftOut)
        outcome.leftOut.push_back(left.name.string() + ": " +
                                  std::to_string(static_cast<int>(left.reason)) + "/" +
                                  std::to_string(static_cast<int>(left.loadFailure)));
    return outcome;
}

void ExpectSameIndex(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.index, b.index);
    EXPECT_EQ(a.entries, b.entries);
    EXPECT_EQ(a.leftOut, b.leftOut);
}

fs::path OnlyCacheFile(const fs::path& cache) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(cache))
        files.push_back(entry.path());
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? fs::path() : files.front();
}

TEST(CachedVerdicts, AnUnchangedBlockIsServedFromTheCacheAndWritesTheSameIndex) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    LetSettle();
    ExportOptions none;
    none.jobs = 2;
    const Outcome reference = Export(block, none);
    ASSERT_EQ(reference.entries.size(), kGoodTiles + 1);
    ASSERT_EQ(reference.leftOut.size(), 1u);

    const Outcome cold = Export(block, Cached(dir / "cache"));
    EXPECT_EQ(cold.cached, 0u);
    ExpectSameIndex(cold, reference);
    const Outcome warm = Export(block, Cached(dir / "cache"));
    EXPECT_EQ(warm.cached, kTiles) << "the broken tile's verdict is kept as well";
    ExpectSameIndex(warm, reference);
    // A dry run uses the cache too.
    ExportOptions dry = Cached(dir / "cache");
    dry.dryRun = true;
    EXPECT_EQ(ExportFolderIndexes({block}, dry).folders.at(0).cachedVerdicts, kTiles);
    // Without the cache, everything is checked again.
    EXPECT_EQ(Export(block, none).cached, 0u);
}

// A re-run whose index would be the same bytes leaves the index in place, the same file with
// the same times, and says it written as before; one whose index changes replaces it.
TEST(CachedVerdicts, AnUnchangedIndexIsLeftInPlaceAndAChangedOneReplaced) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    const fs::path index = block / "root.osgb";
    LetSettle();
    const Outcome first = Export(block, Cached(dir / "cache"));
    const Result<FileFacts> looked = LookAt(index);
    ASSERT_TRUE(looked);
    const FileFacts written = *looked;

    const ExportReport again = ExportFolderIndexes({block}, Cached(dir / "cache"));
    ASSERT_EQ(again.folders.size(), 1u);
    EXPECT_EQ(again.folders.front().status, FolderStatus::Written);
    EXPECT_EQ(again.folders.front().cachedVerdicts, kTiles);
    EXPECT_TRUE(Unchanged(written, LookAt(index).value_or({})))
        << "the same index was written again";
    EXPECT_EQ(ReadBytes(index), first.index);

    fs::remove_all(block / "Small");
    const Outcome fewer = Export(block, Cached(dir / "cache"));
    EXPECT_NE(fewer.index, first.index);
    EXPECT_EQ(fewer.entries.size(), first.entries.size() - 1);
    EXPECT_FALSE(SameFile(written, LookAt(index).value_or({})));
}

// A proxy index asks no bounds; a paged one needs them, so tiles that load are checked again
// once, and from then on serve both.
TEST(CachedVerdicts, BoundsAreCheckedForWhenTheCacheHasNone) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    LetSettle();
    ExportOptions pagedNone;
    pagedNone.index = IndexKind::Paged;
    const Outcome reference = Export(block, pagedNone);

    EXPECT_EQ(Export(block, Cached(dir / "cache")).cached, 0u);
    const Outcome paged = Export(block, Cached(dir / "cache", IndexKind::Paged));
    EXPECT_EQ(paged.cached, 1u) << "only the broken tile's verdict needs no bound";
    ExpectSameIndex(paged, reference);
    const Outcome again = Export(block, Cached(dir / "cache", IndexKind::Paged));
    EXPECT_EQ(again.cached, kTiles);
    ExpectSameIndex(again, reference);
    EXPECT_EQ(Export(block, Cached(dir / "cache")).cached, kTiles);
}

#ifndef _WIN32
// Rewritten where it lies, same size, its write time set back by hand: only the change time
// tells, and the tile, no longer a scene, must not be listed from the cache.
TEST(CachedVerdicts, ATileRewrittenInPlaceWithItsTimesSetBackIsCheckedAgain) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    LetSettle();
    const Outcome first = Export(block, Cached(dir / "cache"));
    ASSERT_EQ(first.entries.size(), kGoodTiles + 1);
    EXPECT_EQ(Export(block, Cached(dir / "cache")).cached, kTiles);

    const fs::path tile = block / "T1" / "root.osgb";
    struct stat before {};
    ASSERT_EQ(::stat(tile.c_str(), &before), 0);
    {
        std::fstream rewrite(tile, std::ios::in | std::ios::out | std::ios::binary);
        rewrite.write(std::string(static_cast<std::size_t>(before.st_size), 'x').data(),
                      before.st_size);
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, tile.c_str(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(::stat(tile.c_str(), &after), 0);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_size, before.st_size);
    ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    const Outcome rerun = Export(block, Cached(dir / "cache"));
    EXPECT_EQ(rerun.cached, kTiles - 1);
    EXPECT_EQ(rerun.entries.size(), kGoodTiles);
    EXPECT_EQ(rerun.leftOut.size(), 2u);
    ExportOptions none;
    ExpectSameIndex(rerun, Export(block, none));
}

// An index that stood untouched since the run that wrote it is left unread when the new one
// would be written from the same entries. Anything else it is written from (a tile, the
// origin, the kind of index) and any write to it, even one that restores its size and times,
// makes the run write it again.
TEST(CachedVerdicts, AnIndexLeftStandingIsWrittenAgainOnceItsEntriesOriginOrFileChange) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    const fs::path index = block / "root.osgb";
    // Another block whose index has the same size: its tile names are as long.
    const fs::path other = dir / "other";
    for (std::size_t i = 0; i < kGoodTiles; ++i)
        WriteTile(other / ("U" + std::to_string(i)));
    WriteTile(other / "Tiny!");
    LetSettle();
    ExportOptions none;
    const std::string otherIndex = Export(other, none).index;
    const Outcome first = Export(block, Cached(dir / "cache"));
    ASSERT_EQ(first.index.size(), otherIndex.size());
    LetSettle();
    const FileFacts written = LookAt(index).value_or({});
    EXPECT_EQ(Export(block, Cached(dir / "cache")).index, first.index);
    EXPECT_TRUE(Unchanged(written, LookAt(index).value_or({})));

    // The other block's index put in its place, the file's size and times as they were.
    struct stat before {};
    ASSERT_EQ(::stat(index.c_str(), &before), 0);
    {
        std::fstream rewrite(index, std::ios::in | std::ios::out | std::ios::binary);
        rewrite.write(otherIndex.data(), static_cast<std::streamsize>(otherIndex.size()));
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, index.c_str(), times, 0), 0);
    ASSERT_EQ(ReadBytes(index), otherIndex);
    EXPECT_EQ(Export(block, Cached(dir / "cache")).index, first.index);

    // A paged index from the same tiles; then the proxy index again.
    LetSettle();
    const Outcome paged = Export(block, Cached(dir / "cache", IndexKind::Paged));
    EXPECT_NE(paged.index, first.index);
    ExpectSameIndex(paged, Export(block, Cached(dir / "none", IndexKind::Paged)));
    LetSettle();
    EXPECT_EQ(Export(block, Cached(dir / "cache")).index, first.index);

    // An origin.
    LetSettle();
    WriteText(block / "report.txt", "origin\nX: 3400000.25 Y: 500000.5 Z: 7\n");
    const Outcome placed = Export(block, Cached(dir / "cache"));
    EXPECT_NE(placed.index, first.index);
    ExpectSameIndex(placed, Export(block, none));
}

std::size_t Starts(const fs::path& log) {
    const std::string text = ReadBytes(log);
    fs::remove(log);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A tile that is itself an index over tile folders stays a tile among other tiles; its own
// check tells it apart, so the run needs no worker beyond its pool's one to look at it again.
TEST(CachedVerdicts, ATileThatIsAnIndexIsToldApartByItsOwnCheck) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "Index_0" / "Sub_1");
    WriteTile(block / "Index_0" / "Sub_2");
    ExportOptions one;
    one.jobs = 1;
    ASSERT_TRUE(ExportFolderIndexes({block / "Index_0"}, one).succeeded());
    WriteTile(block / "T1");
    const fs::path log = dir / "starts.log";
    one.workerProgram = CountingWorker(dir.path(), log);
    const Outcome outcome = Export(block, one);
    EXPECT_EQ(outcome.entries, (std::vector<std::string>{"Index_0\\root.osgb", "T1\\root.osgb"}));
    EXPECT_EQ(Starts(log), 1u);
}

// The index the last run wrote, and every tile, are known: the re-run needs no worker at all,
// and one changed tile needs one.
TEST(CachedVerdicts, AReRunWithEveryVerdictCachedStartsNoWorker) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    const fs::path log = dir / "starts.log";
    ExportOptions options = Cached(dir / "cache");
    options.workerProgram = CountingWorker(dir.path(), log);
    LetSettle();
    Export(block, options);
    EXPECT_GT(Starts(log), 0u);
    // The index written is read back by the run; a second run examines nothing.
    EXPECT_EQ(Export(block, options).cached, kTiles);
    EXPECT_EQ(Starts(log), 0u);
    EXPECT_EQ(Export(block, options).cached, kTiles);
    EXPECT_EQ(Starts(log), 0u);
    WriteTile(block / "New");
    EXPECT_EQ(Export(block, options).cached, kTiles);
    EXPECT_GT(Starts(log), 0u);
}
#endif

// A tile whose root names other files to load rests on them: a file appearing there later
// can change its verdict, so it is checked every run.
TEST(CachedVerdicts, ATileNamingOtherFilesIsCheckedEveryRun) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    fs::create_directories(block / "Proxy");
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    proxy->setFileName(0, "later/tile.osgb");
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, (block / "Proxy" / "root.osgb").string()));
    LetSettle();
    Export(block, Cached(dir / "cache"));
    const Outcome warm = Export(block, Cached(dir / "cache"));
    EXPECT_EQ(warm.cached, kTiles);
    EXPECT_EQ(warm.entries.size(), kGoodTiles + 2);
    // Now what it names leads back to it.
    fs::create_directories(block / "Proxy" / "later");
    osg::ref_ptr<osg::ProxyNode> back = new osg::ProxyNode;
    back->setFileName(0, "../root.osgb");
    ASSERT_TRUE(osgDB::writeNodeFile(*back, (block / "Proxy" / "later" / "tile.osgb").string()));
    const Outcome rerun = Export(block, Cached(dir / "cache"));
    EXPECT_EQ(rerun.entries.size(), kGoodTiles + 1);
    ASSERT_EQ(rerun.leftOut.size(), 2u);
    EXPECT_EQ(rerun.leftOut.back(),
              "Proxy: " + std::to_string(static_cast<int>(TileStatus::Cycle)) + "/0");
}

// Small tiles go to a worker several at a time; a tile that names other files is passed over
// by the cache there too.
TEST(CachedVerdicts, ASmallTileNamingOtherFilesAmongSmallTilesIsCheckedEveryRun) {
    TempDir dir;
    const fs::path block = dir / "block";
    for (int i = 0; i < 10; ++i) {
        WriteTile(block / ("A" + std::to_string(i)));
        WriteTile(block / ("C" + std::to_string(i)));
    }
    fs::create_directories(block / "B_Proxy");
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    proxy->setFileName(0, "later/tile.osgb");
    ASSERT_TRUE(osgDB::writeNodeFile(*proxy, (block / "B_Proxy" / "root.osgb").string()));
    LetSettle();
    ExportOptions options = Cached(dir / "cache");
    options.jobs = 1;
    Export(block, options);
    EXPECT_EQ(Export(block, options).cached, 20u);
    fs::create_directories(block / "B_Proxy" / "later");
    osg::ref_ptr<osg::ProxyNode> back = new osg::ProxyNode;
    back->setFileName(0, "../root.osgb");
    ASSERT_TRUE(osgDB::writeNodeFile(*back, (block / "B_Proxy" / "later" / "tile.osgb").string()));
    const Outcome rerun = Export(block, options);
    EXPECT_EQ(rerun.entries.size(), 20u);
    EXPECT_EQ(rerun.leftOut,
              std::vector<std::string>{
                  "B_Proxy: " + std::to_string(static_cast<int>(TileStatus::Cycle)) + "/0"});
}

// Whatever happened to the cache file, the run checks every tile, writes the index it would
// have written without it, and leaves a sound cache file behind.
TEST(CachedVerdicts, ADamagedOrMissingCacheIsIgnoredAndReplaced) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    const fs::path cache = dir / "cache";
    LetSettle();
    ExportOptions none;
    const Outcome reference = Export(block, none);
    Export(block, Cached(cache));
    const fs::path file = OnlyCacheFile(cache);
    const std::string sound = ReadBytes(file);
    ASSERT_GT(sound.size(), 100u);

    std::string flipped = sound;
    flipped[sound.size() - 20] ^= 0x01;
    std::string otherFormat = sound;
    otherFormat[8] = 9;
    const std::vector<std::pair<std::string, std::string>> damages = {
        {"cut in half", sound.substr(0, sound.size() / 2)},
        {"cut by one byte", sound.substr(0, sound.size() - 1)},
        {"one byte longer", sound + "x"},
        {"garbage", std::string(sound.size(), '\x5a')},
        {"one bit flipped", flipped},
        {"another format", otherFormat},
        {"empty", ""},
    };
    for (const auto& [damage, bytes] : damages) {
        SCOPED_TRACE(damage);
        WriteText(file, bytes);
        const Outcome rerun = Export(block, Cached(cache));
        EXPECT_EQ(rerun.cached, 0u);
        ExpectSameIndex(rerun, reference);
        EXPECT_EQ(Export(block, Cached(cache)).cached, kTiles) << "replaced by the run";
    }
    // Another folder's cache under this folder's name (a hash that collides) is not its own.
    const fs::path other = MakeBlock(dir / "other");
    LetSettle();
    Export(other, Cached(cache));
    fs::remove(file);
    fs::copy_file(VerdictCacheFileFor(cache, fs::absolute(other)), file);
    EXPECT_EQ(Export(block, Cached(cache)).cached, 0u);

    fs::remove_all(cache);
    const Outcome gone = Export(block, Cached(cache));
    EXPECT_EQ(gone.cached, 0u);
    ExpectSameIndex(gone, reference);
    // Not a file at all: ignored, and left as it is.
    fs::remove(file);
    fs::create_directories(file);
    EXPECT_EQ(Export(block, Cached(cache)).cached, 0u);
    EXPECT_EQ(Export(block, Cached(cache)).cached, 0u);
    ExpectSameIndex(Export(block, Cached(cache)), reference);
}

// The verdicts of another checker or another kind of check are not this run's.
TEST(CachedVerdicts, ACacheOfAnotherCheckerOrModeIsIgnored) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    const fs::path cache = dir / "cache";
    LetSettle();
    Export(block, Cached(cache));
    ExportOptions full = Cached(cache);
    full.fullValidation = true;
    EXPECT_EQ(Export(block, full).cached, 0u);
    EXPECT_EQ(Export(block, full).cached, kTiles);
    EXPECT_EQ(Export(block, Cached(cache)).cached, 0u);

    ExportOptions limits = Cached(cache);
    limits.limits.memoryMax /= 2;
    EXPECT_EQ(Export(block, limits).cached, 0u);

    // A worker program of another build: another file.
    const fs::path copy = dir.path() / WorkerProgramName();
    fs::copy_file(DefaultWorkerProgram(), copy);
    ExportOptions other = Cached(cache);
    other.workerProgram = copy;
    EXPECT_EQ(Export(block, other).cached, 0u);
    EXPECT_EQ(Export(block, other).cached, kTiles);
}

// Tiles written just before the run may be written again within the same tick of the file
// times; their verdicts wait for a later run.
TEST(CachedVerdicts, TilesChangedJustBeforeTheRunAreNotKept) {
    TempDir dir;
    const fs::path block = MakeBlock(dir / "block");
    LetSettle();
    WriteTile(block / "Small");
    Export(block, Cached(dir / "cache"));
    EXPECT_EQ(Export(block, Cached(dir / "cache")).cached, kTiles - 1);
    LetSettle();
    Export(block, Cached(dir / "cache"));
    EXPECT_EQ(Export(block, Cached(dir / "cache")).cached, kTiles);
}

// A production block copied just before the run: every tile's times are within a second of
// the scan. A tile checked once a second has passed since its copy keeps its verdict; one
// checked sooner (which a second write within its clock tick could still change unseen) is
// checked again by the next run, which keeps it.
TEST(CachedVerdicts, ABlockCopiedJustBeforeTheRunKeepsTheVerdictsOfTilesCheckedLater) {
    TempDir dir;
    const fs::path production = dir / "production";
    constexpr std::size_t kCopied = 12;
    for (std::size_t i = 0; i < kCopied; ++i) {
        const std::string name = "Tile_+0" + std::to_string(10 + i) + "_+000";
        const fs::path tile = production / "Data" / name;
        WriteSizedTile(tile, kRealTile, static_cast<unsigned>(i + 1));
        fs::rename(tile / "root.osgb", tile / (name + ".osgb"));
    }
    WriteText(production / "metadata.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">\n"
              "  <SRS>EPSG:4547</SRS>\n  <SRSOrigin>512345.6,3400000.3,12.5</SRSOrigin>\n"
              "</ModelMetadata>\n");

    // One worker, held up a second after its first tiles, as a large block's later tiles are.
    // Progress is told only once the scan is done, which on a busy machine can be after a
    // tile or two were checked: those are the ones checked within the second. The hold is
    // made on the worker's thread, as it tells of a check; the run's own thread telling of
    // the scan's end would hold up only itself.
    ExportOptions first = Cached(dir / "cache");
    first.jobs = 1;
    std::size_t checkedBeforePause = 0;
    const std::thread::id runThread = std::this_thread::get_id();
    ExportCalls calls;
    calls.progress = [&checkedBeforePause, runThread](const ExportProgress& p) {
        if (p.subfoldersDone == 0 || checkedBeforePause > 0 ||
            std::this_thread::get_id() == runThread)
            return;
        checkedBeforePause = p.subfoldersDone;
        std::this_thread::sleep_for(kSettleTime + std::chrono::milliseconds(200));
    };
    const Outcome copied = Export(production, first, calls);
    if (checkedBeforePause == 0 || checkedBeforePause >= kCopied - 1)
        GTEST_SKIP() << "the scan ended after " << checkedBeforePause
                     << " tiles were checked: too late to tell, on a machine this busy";
    ASSERT_EQ(copied.entries.size(), kCopied);
    const Outcome next = Export(production, Cached(dir / "cache"));
    EXPECT_GE(next.cached, kCopied - checkedBeforePause);
    ExpectSameIndex(next, copied);
    EXPECT_EQ(Export(production, Cached(dir / "cache")).cached, kCopied);
}

} // namespace
} // namespace brindle
