#include "export/export_run.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/Image>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <map>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

using Names = std::vector<std::string>;

std::map<std::string, LeftOutSubfolder> LeftOutByName(const FolderReport& folder) {
    std::map<std::string, LeftOutSubfolder> byName;
    for (const LeftOutSubfolder& leftOut : folder.leftOut)
        byName[leftOut.name.string()] = leftOut;
    return byName;
}

// A stand-in for the tile-check worker, to inject the failures a real one meets.
fs::path WriteWorkerScript(const fs::path& dir, const std::string& body) {
    const fs::path script = dir / "worker.sh";
    WriteText(script, "#!/bin/sh\n" + body + "\n");
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

TEST(TileIsolation, FilesThatAreNotRegularAreLeftOutWithoutBeingRead) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "A");
    fs::create_directories(block / "Folder" / "root.osgb");
    Names notRegular{"Folder"};
#ifndef _WIN32
    // A Windows file system holds no FIFOs, and its devices are no files to link to.
    fs::create_directories(block / "Fifo");
    ASSERT_EQ(mkfifo((block / "Fifo" / "root.osgb").c_str(), 0600), 0);
    fs::create_directories(block / "Zero");
    fs::create_symlink("/dev/zero", block / "Zero" / "root.osgb");
    fs::create_directories(block / "Random");
    fs::create_symlink("/dev/urandom", block / "Random" / "root.osgb");
    notRegular.insert(notRegular.end(), {"Fifo", "Zero", "Random"});
#endif
    // A sparse file of 1 GB: it must cost neither its size in memory nor the run.
    WriteText(block / "Sparse" / "root.osgb", "");
    fs::resize_file(block / "Sparse" / "root.osgb", std::uintmax_t{1} << 30);
    WriteTile(block / "Z");

    const ExportReport report = ExportFolderIndexes({block});
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, (Names{"A\\root.osgb", "Z\\root.osgb"}));
    const auto leftOut = LeftOutByName(report.folders[0]);
    ASSERT_EQ(leftOut.size(), notRegular.size() + 1);
    for (const std::string& name : notRegular)
        EXPECT_EQ(leftOut.at(name).reason, TileStatus::NotRegularFile) << name;
    // The reader takes a file of zeros for text and reads it whole, as a plain load does.
    const TileStatus sparse = leftOut.at("Sparse").reason;
    EXPECT_TRUE(sparse == TileStatus::LoadFailed || sparse == TileStatus::OutOfMemory)
        << int(sparse);
}

TEST(TileIsolation, AWorkerThatDiesCostsOnlyItsTile) {
#ifdef _WIN32
    GTEST_SKIP() << "the stand-in worker is a shell script";
#endif
    TempDir dir;
    for (const char* tile : {"A", "B", "C"})
        WriteTile(dir / "block" / tile);
    ExportOptions options;
    options.jobs = 2;
    // Dies of a segmentation fault as soon as a request arrives.
    options.workerProgram = WriteWorkerScript(dir.path(), "head -c 1 >/dev/null\nkill -SEGV $$");
    const ExportReport report = ExportFolderIndexes({dir / "block"}, options);
    // The run goes on to the folder's end; with no tile left, it writes no index.
    ASSERT_TRUE(report.folders[0].error);
    EXPECT_EQ(report.folders[0].error->kind, ProblemKind::NoTilesFound);
    EXPECT_TRUE(report.folders[0].entries.empty());
    ASSERT_EQ(report.folders[0].leftOut.size(), 3u);
    for (const LeftOutSubfolder& leftOut : report.folders[0].leftOut)
        EXPECT_EQ(leftOut.reason, TileStatus::ReaderCrashed) << leftOut.name;
}

TEST(TileIsolation, AWorkerPastItsDeadlineIsReplaced) {
#ifdef _WIN32
    GTEST_SKIP() << "the stand-in worker is a shell script";
#endif
    TempDir dir;
    WriteTile(dir / "block" / "A");
    WriteTile(dir / "block" / "B");
    ExportOptions options;
    options.jobs = 1;
    options.limits.deadlineBase = std::chrono::milliseconds(200);
    options.limits.deadlineBytesPerSecond = 0;
    // Never answers.
    options.workerProgram = WriteWorkerScript(dir.path(), "exec sleep 600");
    const ExportReport report = ExportFolderIndexes({dir / "block"}, options);
    ASSERT_EQ(report.folders[0].leftOut.size(), 2u);
    for (const LeftOutSubfolder& leftOut : report.folders[0].leftOut) {
        EXPECT_EQ(leftOut.reason, TileStatus::TimedOut) << leftOut.name;
        EXPECT_EQ(leftOut.limit, 200u);
    }
}

// When a tile ends its worker (here by reaching its memory ceiling), the tiles after it go to
// the worker's successor: none is lost or blamed.
TEST(TileIsolation, TilesQueuedBehindOneThatEndsItsWorkerAreCheckedByTheNext) {
    TempDir dir;
    const fs::path block = dir / "block";
    SampleTileParams params;
    params.gridCells = 24;
    fs::create_directories(block / "A_huge");
    WriteSampleTile(block / "A_huge" / "root.osgb", params);
    std::string bytes = test::ReadBytes(block / "A_huge" / "root.osgb");
    const std::uint32_t vertices = 25 * 25;
    const std::size_t count =
        bytes.find(std::string(reinterpret_cast<const char*>(&vertices), sizeof vertices),
                   bytes.find("osg::Vec3Array"));
    ASSERT_NE(count, std::string::npos);
    const std::uint32_t huge = 0x3fffffff;
    bytes.replace(count, sizeof huge, reinterpret_cast<const char*>(&huge), sizeof huge);
    WriteText(block / "A_huge" / "root.osgb", bytes);
    for (const char* tile : {"B", "C", "D"})
        WriteTile(block / tile);

    ExportOptions options;
    options.jobs = 1;
    const ExportReport report = ExportFolderIndexes({block}, options);
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, (Names{"B\\root.osgb", "C\\root.osgb", "D\\root.osgb"}));
    ASSERT_EQ(report.folders[0].leftOut.size(), 1u);
#ifdef _WIN32
    // Wine does not hold a job object to its memory limit, so there the reader's own
    // allocation check turns the huge count away before any ceiling is reached.
    EXPECT_NE(report.folders[0].leftOut[0].reason, TileStatus::Valid);
#else
    EXPECT_EQ(report.folders[0].leftOut[0].reason, TileStatus::OutOfMemory);
#endif
}

TEST(TileIsolation, AMissingWorkerFailsTheFolderAndSaysWhich) {
    TempDir dir;
    WriteTile(dir / "block" / "A");
    WriteTile(dir / "empty" / "A" / "deeper");
    ExportOptions options;
    options.workerProgram = dir / "no-such-worker";
    const ExportReport report = ExportFolderIndexes({dir / "block"}, options);
    EXPECT_FALSE(report.succeeded());
    ASSERT_TRUE(report.folders[0].error);
    EXPECT_EQ(report.folders[0].error->kind, ProblemKind::WorkersUnavailable);
    EXPECT_EQ(report.folders[0].error->path, options.workerProgram);
    EXPECT_EQ(report.folders[0].error->cause, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(fs::exists(dir / "block" / "root.osgb"));
}

// Tiles are parsed in workers, so the process running the export keeps its scene-graph
// library as it was: image reads return real images, and two runs do not meet.
TEST(TileIsolation, RunsLeaveTheCallersReaderAlone) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows build links no image reader to read the texture with";
#endif
    TempDir dir;
    const fs::path image = dir / "texture.png";
    osg::ref_ptr<osg::Image> pixels = new osg::Image;
    pixels->allocateImage(32, 32, 1, GL_RGB, GL_UNSIGNED_BYTE);
    std::fill_n(pixels->data(), 32 * 32 * 3, static_cast<unsigned char>(7));
    ASSERT_TRUE(osgDB::writeImageFile(*pixels, image.string()));
    for (int i = 0; i < 40; ++i) {
        WriteTile(dir / "one" / ("T" + std::to_string(i)));
        if (i % 2 == 0)
            WriteTile(dir / "two" / ("T" + std::to_string(i)));
    }

    ExportReport one;
    ExportReport two;
    std::atomic<int> imagesRead{0};
    std::atomic<bool> running{true};
    std::thread first([&] { one = ExportFolderIndexes({dir / "one"}); });
    std::thread second([&] { two = ExportFolderIndexes({dir / "two"}); });
    std::thread reader([&] {
        do {
            const osg::ref_ptr<osg::Image> read = osgDB::readRefImageFile(image.string());
            ASSERT_TRUE(read);
            EXPECT_EQ(read->s(), 32) << "a placeholder image leaked into the caller";
            ++imagesRead;
        } while (running);
    });
    first.join();
    second.join();
    running = false;
    reader.join();

    ASSERT_TRUE(one.succeeded());
    ASSERT_TRUE(two.succeeded());
    EXPECT_EQ(one.folders[0].entries.size(), 40u);
    EXPECT_EQ(two.folders[0].entries.size(), 20u);
    EXPECT_EQ(test::ReadIndex(dir / "two" / "root.osgb").entries, two.folders[0].entries);
    EXPECT_GT(imagesRead, 0);
}

} // namespace
} // namespace brindle
