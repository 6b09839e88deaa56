#include "export/export_run.h"
#include "export/protocol/tile_check_protocol.h"
#include "export/run/tile_check_pool.h"
#include "export/system/physical_memory.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

using Names = std::vector<std::string>;

// A stand-in for the tile-check worker that serves requests one by one: it reads each
// request whole, runs `onRequest` with $ceiling set to the request's memory ceiling, and
// replies with the verdict byte `onRequest` leaves in $verdict (octal, as printf takes it).
fs::path WriteServingWorker(const fs::path& dir, const std::string& onRequest) {
    const fs::path script = dir / "worker.sh";
    WriteText(script, "#!/bin/sh\n"
                      "while :; do\n"
                      "  len=$(head -c 4 | od -An -tu4 | tr -d ' ')\n"
                      "  [ -n \"$len\" ] || exit 0\n"
                      "  ceiling=$(head -c \"$len\" | od -An -tu8 -j2 -N8 | tr -d ' ')\n"
                      "  retiring='\\000'\n" +
                          onRequest +
                          "\n"
                          "  printf \"$verdict$retiring\"\n"
                          "  head -c " +
                          std::to_string(kReplySize - 2) +
                          " /dev/zero\n"
                          "done\n");
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

std::vector<std::string> Lines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(TileCheckPool, TheRecheckCeilingIsHalfTheMemoryAtMostFourGigabytes) {
    constexpr std::uint64_t kGB = std::uint64_t{1} << 30;
    EXPECT_EQ(RecheckMemoryCeiling(2 * kGB), kGB);
    EXPECT_EQ(RecheckMemoryCeiling(6 * kGB), 3 * kGB);
    EXPECT_EQ(RecheckMemoryCeiling(64 * kGB), 4 * kGB);
    EXPECT_EQ(RecheckMemoryCeiling(0), 0u) << "no second check where the memory is not known";
    EXPECT_GT(PhysicalMemoryBytes(), std::uint64_t{64} << 20);
}

// A run that ends in an exception on its own thread ends its pool there: the workers finish
// the checks in hand and take no more, however many are queued.
TEST(TileCheckPool, DestroyingThePoolStopsItsWorkersWithoutCheckingTheQueue) {
    TempDir dir;
    const fs::path log = dir / "checks.log";
    ExportOptions options;
    options.jobs = 2;
    options.workerProgram = WriteServingWorker(dir.path(), "  echo check >> '" + log.string() +
                                                               "'\n  sleep 0.3\n  verdict='\\001'");
    WriteTile(dir / "first" / "A");
    for (int i = 0; i < 40; ++i)
        WriteTile(dir / "second" / ("T" + std::to_string(i)));
    ExportCalls calls;
    calls.folderDone = [](const FolderReport&) { throw std::runtime_error("presenter failed"); };

    EXPECT_THROW(ExportFolderIndexes({dir / "first", dir / "second"}, options, calls),
                 std::runtime_error);
    // At most one round in hand when the first folder was done, and the round the workers
    // had taken by the time the pool ended.
    EXPECT_LE(Lines(log).size(), 1u + 2 * options.jobs) << "of 41 tiles";
}

// Every tile here reaches its first ceiling; each second check runs with no other check of the
// pool beside it, so the pool holds at most one such ceiling at a time.
TEST(TileCheckPool, ATileThatRanOutOfMemoryIsCheckedAgainAlone) {
    TempDir dir;
    const fs::path log = dir / "checks.log";
    ExportOptions options;
    options.jobs = 3;
    options.limits.memoryBase = 1000;
    options.limits.memoryPerFileByte = 0;
    options.workerProgram = WriteServingWorker(dir.path(), "  if [ \"$ceiling\" -le 1000 ]; then\n"
                                                           "    echo start >> '" +
                                                               log.string() +
                                                               "'\n"
                                                               "    sleep 0.2\n"
                                                               "    echo end >> '" +
                                                               log.string() +
                                                               "'\n"
                                                               "    verdict='\\006'\n"
                                                               "    retiring='\\001'\n"
                                                               "  else\n"
                                                               "    echo alone >> '" +
                                                               log.string() +
                                                               "'\n"
                                                               "    sleep 0.2\n"
                                                               "    echo alone-end >> '" +
                                                               log.string() +
                                                               "'\n"
                                                               "    verdict='\\001'\n"
                                                               "  fi");
    const Names tiles{"A", "B", "C", "D", "E", "F"};
    for (const std::string& tile : tiles)
        WriteTile(dir / "block" / tile);

    const ExportReport report = ExportFolderIndexes({dir / "block"}, options);
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries.size(), tiles.size());
    EXPECT_EQ(report.folders[0].recheckedTiles, std::vector<fs::path>(tiles.begin(), tiles.end()));

    int running = 0;
    bool aloneRunning = false;
    int alone = 0;
    for (const std::string& line : Lines(log)) {
        if (line == "start") {
            EXPECT_FALSE(aloneRunning) << "a check started beside one that runs alone";
            ++running;
        } else if (line == "end") {
            --running;
        } else if (line == "alone") {
            EXPECT_EQ(running, 0) << "a check running alone started beside another";
            EXPECT_FALSE(aloneRunning);
            aloneRunning = true;
            ++alone;
        } else if (line == "alone-end") {
            aloneRunning = false;
        }
    }
    EXPECT_EQ(alone, int(tiles.size()));
}

// A tile whose mesh is 12 bytes a vertex, compressed on disk.
void WriteHostileTile(const fs::path& folder) {
    SampleTileParams params;
    params.gridCells = 24;
    fs::create_directories(folder);
    WriteSampleTile(folder / "root.osgb", params);
    std::string bytes = test::ReadBytes(folder / "root.osgb");
    const std::uint32_t vertices = 25 * 25;
    const std::size_t count =
        bytes.find(std::string(reinterpret_cast<const char*>(&vertices), sizeof vertices),
                   bytes.find("osg::Vec3Array"));
    ASSERT_NE(count, std::string::npos);
    // Asks for 12 GB, more than any ceiling.
    const std::uint32_t huge = 0x3fffffff;
    bytes.replace(count, sizeof huge, reinterpret_cast<const char*>(&huge), sizeof huge);
    WriteText(folder / "root.osgb", bytes);
}

// With the first ceilings lowered, a valid tile that unpacks to a few hundred megabytes runs out
// at the first and loads at the second; a tile asking at once for more than any ceiling stays
// out without a second check, which would only fail again, with the second ceiling as its
// limit.
TEST(TileCheckPool, AHeavyTileIsListedAtItsSecondCheckAndAHostileOneStaysOut) {
    TempDir dir;
    const fs::path block = dir / "block";
    test::WriteHeavyTile(block / "Heavy", 8'000'000);
    WriteHostileTile(block / "Hostile");
    WriteTile(block / "Small");
    ASSERT_LT(fs::file_size(block / "Heavy" / "root.osgb"), std::uintmax_t{4} << 20);

    ExportOptions options;
    options.jobs = 2;
    options.limits.memoryBase = std::uint64_t{1} << 20;
    options.limits.memoryPerFileByte = 0;
    const ExportReport report = ExportFolderIndexes({block}, options);
    ASSERT_TRUE(report.succeeded());
    const FolderReport& folder = report.folders[0];
    EXPECT_EQ(folder.entries, (Names{"Heavy\\root.osgb", "Small\\root.osgb"}));
    EXPECT_EQ(folder.recheckedTiles, (std::vector<fs::path>{"Heavy"}));
    ASSERT_EQ(folder.leftOut.size(), 1u);
    EXPECT_EQ(folder.leftOut[0].name, "Hostile");
    EXPECT_EQ(folder.leftOut[0].reason, TileStatus::OutOfMemory);
    EXPECT_EQ(folder.leftOut[0].limit, RecheckMemoryCeiling(PhysicalMemoryBytes()));
}

// A tile the limits already gave their highest ceiling is not checked again.
TEST(TileCheckPool, NoSecondCheckAboveTheHighestFirstCeiling) {
    TempDir dir;
    WriteHostileTile(dir / "block" / "Hostile");
    ExportOptions options;
    options.jobs = 1;
    options.limits.memoryMax = std::uint64_t{64} << 20;
    const ExportReport report = ExportFolderIndexes({dir / "block"}, options);
    ASSERT_EQ(report.folders[0].leftOut.size(), 1u);
    EXPECT_EQ(report.folders[0].leftOut[0].reason, TileStatus::OutOfMemory);
    EXPECT_EQ(report.folders[0].leftOut[0].limit, options.limits.memoryMax);
    EXPECT_TRUE(report.folders[0].recheckedTiles.empty());
}

// One errno met by a worker (it could not read the tile) and by the run itself (it could not
// look at a tile's root, nor at a listed folder) is one cause in the report: the same value in
// the same category, so the JSON report names one category for it.
TEST(TileCheckPool, ASystemCauseReadsTheSameFromAWorkerAndFromTheRun) {
    TempDir dir;
    // Every reply: Unreadable, with ELOOP as the system's error.
    const std::int32_t error = ELOOP;
    unsigned char bytes[sizeof error];
    std::memcpy(bytes, &error, sizeof error);
    std::string unreadable = "\\004\\000\\000\\000";
    for (const unsigned char byte : bytes)
        unreadable += "\\" + std::to_string(byte / 64) + std::to_string(byte / 8 % 8) +
                      std::to_string(byte % 8);
    const fs::path script = dir / "worker.sh";
    WriteText(script, "#!/bin/sh\n"
                      "while :; do\n"
                      "  len=$(head -c 4 | od -An -tu4 | tr -d ' ')\n"
                      "  [ -n \"$len\" ] || exit 0\n"
                      "  head -c \"$len\" >/dev/null\n"
                      "  printf '" +
                          unreadable +
                          "'\n"
                          "  head -c " +
                          std::to_string(kReplySize - 8) +
                          " /dev/zero\n"
                          "done\n");
    fs::permissions(script, fs::perms::owner_all);
    const fs::path block = dir / "block";
    WriteTile(block / "Read");
    fs::create_directories(block / "Looped");
    fs::create_symlink("root.osgb", block / "Looped" / "root.osgb");
    fs::create_directory_symlink("loop", dir / "loop");

    ExportOptions options;
    options.jobs = 1;
    options.workerProgram = script;
    const ExportReport report = ExportFolderIndexes({block, dir / "loop"}, options);
    ASSERT_EQ(report.folders.size(), 2u);
    const std::vector<LeftOutSubfolder>& leftOut = report.folders[0].leftOut;
    ASSERT_EQ(leftOut.size(), 2u);
    const LeftOutSubfolder& byRun = leftOut[0].name == "Looped" ? leftOut[0] : leftOut[1];
    const LeftOutSubfolder& byWorker = leftOut[0].name == "Read" ? leftOut[0] : leftOut[1];
    EXPECT_EQ(byWorker.reason, TileStatus::LoadFailed);
    EXPECT_EQ(byRun.reason, TileStatus::LoadFailed);
    EXPECT_EQ(byWorker.cause.value(), ELOOP);
    EXPECT_EQ(byWorker.cause, std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(byRun.cause, byWorker.cause)
        << byRun.cause.category().name() << " against " << byWorker.cause.category().name();
    ASSERT_TRUE(report.folders[1].error);
    EXPECT_EQ(report.folders[1].error->kind, ProblemKind::FolderUnreadable);
    EXPECT_EQ(report.folders[1].error->cause, byWorker.cause)
        << report.folders[1].error->cause.category().name();
}

} // namespace
} // namespace brindle
