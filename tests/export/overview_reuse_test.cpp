// A re-run's overview levels: which earlier levels it takes nodes from, how it checks each
// file it takes, and when it leaves the earlier levels and the index as they are.
#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "export/run/folder_cache.h"
#include "tests/export/overview/summary_fixtures.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/PagedLOD>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteText;

std::string GridName(int x, int y) {
    char name[32];
    std::snprintf(name, sizeof name, "Tile_%+04d_%+04d", x, y);
    return name;
}

// A production tile at grid cell (x, y) of a block of 50 m tiles.
void WriteGridTile(const fs::path& block, int x, int y, unsigned seed) {
    const std::string name = GridName(x, y);
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = 8;
    params.sizeMetres = 50;
    params.offset = osg::Vec2d(50.0 * x, 50.0 * y);
    params.seed = seed;
    params.pagedRoot = true;
    fs::create_directories(block / name);
    fs::remove(block / name / (name + ".osgb"));
    WriteSampleTile(block / name / (name + ".osgb"), params);
}

// A 4 x 4 grid: a level-1 node over each 2 x 2 quarter (L1_x_y), the top (L2_0_0) above them.
fs::path WriteFullGrid(const fs::path& block) {
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y)
            WriteGridTile(block, x, y, static_cast<unsigned>(100 * x + y + 1));
    return block;
}

// Verdicts are kept only on files that have not changed for a while.
void LetSettle() {
    std::this_thread::sleep_for(kSettleTime + std::chrono::milliseconds(100));
}

struct Runner {
    fs::path cache; // empty: no verdict cache
    fs::path workerLog;
    fs::path worker;

    ExportReport operator()(const fs::path& block) const {
        ExportOptions options;
        options.verdictCache = cache;
        options.jobs = 2;
        options.index = IndexKind::Overview;
        options.workerProgram = worker;
        return ExportFolderIndexes({block}, options);
    }
    // How many workers were started since the last call.
    std::size_t starts() const {
        std::ifstream in(workerLog);
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line);)
            ++lines;
        fs::remove(workerLog);
        return lines;
    }
};

Runner MakeRunner(const fs::path& dir, bool cached) {
    Runner runner;
    if (cached)
        runner.cache = dir / "cache";
    runner.workerLog = dir / "starts.log";
    runner.worker = test::CountingWorker(dir, runner.workerLog);
    return runner;
}

// A file as the system tells it: which file it is, and its times.
struct FileIdentity {
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    bool operator==(const FileIdentity& o) const {
        return inode == o.inode && size == o.size && modified == o.modified && changed == o.changed;
    }
};

FileIdentity IdentityOf(const fs::path& file) {
    struct stat facts {};
    if (::stat(file.c_str(), &facts) != 0)
        return {};
    return {facts.st_ino, facts.st_size,
            std::int64_t{facts.st_mtim.tv_sec} * 1000000000 + facts.st_mtim.tv_nsec,
            std::int64_t{facts.st_ctim.tv_sec} * 1000000000 + facts.st_ctim.tv_nsec};
}

// Every entry of the block's one folder of levels, by name.
std::map<std::string, FileIdentity> LevelIdentities(const fs::path& block) {
    std::map<std::string, FileIdentity> files;
    const std::vector<fs::path> ours = OverviewFolders(block);
    if (ours.size() != 1)
        return files;
    for (const auto& entry : fs::directory_iterator(ours[0]))
        files[entry.path().filename().string()] = IdentityOf(entry.path());
    return files;
}

// The mean brightness of each quadrant (q = dx + 2 * dy) of a node file's coarse texture; all
// zero when the file does not load.
std::array<double, 4> QuadrantBrightness(const fs::path& nodeFile) {
    std::array<double, 4> mean{};
    const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(nodeFile.string());
    auto* lod = dynamic_cast<osg::PagedLOD*>(node.get());
    const osg::Geode* mesh =
        lod && lod->getNumChildren() > 0 ? lod->getChild(0)->asGeode() : nullptr;
    const osg::Image* image = test::FirstTextureImage(mesh);
    if (image == nullptr || image->getPixelFormat() != GL_RGB)
        return mean;
    const int size = image->s();
    std::array<std::size_t, 4> counts{};
    for (int row = 0; row < image->t(); ++row)
        for (int column = 0; column < size; ++column) {
            const unsigned char* pixel = image->data(column, row);
            const std::size_t q = (column >= size / 2 ? 1 : 0) + (row >= image->t() / 2 ? 2 : 0);
            mean[q] += (pixel[0] + pixel[1] + pixel[2]) / 3.0;
            ++counts[q];
        }
    for (std::size_t q = 0; q < 4; ++q)
        mean[q] /= std::max<std::size_t>(counts[q], 1);
    return mean;
}

// Every node file of the block's levels loads, and the top shows each quarter about as a
// first build of the same tiles does (`fresh`), none of them black.
void ExpectWholeLevels(const fs::path& block, const std::array<double, 4>& fresh,
                       const std::string& what) {
    const std::vector<fs::path> ours = OverviewFolders(block);
    ASSERT_EQ(ours.size(), 1u) << what;
    for (const char* name :
         {"L1_0_0.osgb", "L1_1_0.osgb", "L1_0_1.osgb", "L1_1_1.osgb", "L2_0_0.osgb"})
        EXPECT_TRUE(osgDB::readRefNodeFile((ours[0] / name).string())) << what << ": " << name;
    const std::array<double, 4> top = QuadrantBrightness(ours[0] / "L2_0_0.osgb");
    for (std::size_t q = 0; q < 4; ++q) {
        EXPECT_GT(top[q], 10.0) << what << ", quarter " << q;
        // Quarters made from nodes read back from their JPEG textures differ a little.
        EXPECT_NEAR(top[q], fresh[q], 8.0) << what << ", quarter " << q;
    }
}

// What becomes of L1_1_1.osgb, the node over the quarter of tiles (2..3, 2..3).
enum class Damage { Deleted, CutShort, RewrittenInPlace };

void DamageLevelFile(const fs::path& file, Damage damage) {
    switch (damage) {
    case Damage::Deleted:
        fs::remove(file);
        break;
    case Damage::CutShort:
        fs::resize_file(file, 50);
        break;
    case Damage::RewrittenInPlace: {
        // Other bytes, with the size and the write time set back as they were.
        struct stat before {};
        ASSERT_EQ(::stat(file.c_str(), &before), 0);
        std::string bytes = ReadBytes(file);
        for (std::size_t i = 0; i < bytes.size(); i += 7)
            bytes[i] = static_cast<char>(~bytes[i]);
        std::ofstream(file, std::ios::binary | std::ios::in | std::ios::out) << bytes;
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
        ASSERT_EQ(fs::file_size(file), static_cast<std::uintmax_t>(before.st_size));
        break;
    }
    }
}

// A level file deleted, cut short or rewritten in place with its size and write time kept is
// never taken as it is: a re-run builds it again from its tiles, and the node above it shows
// its quarter, with or without the verdict cache, whether or not another tile changed. The run
// after that finds the levels whole too: no quarter stays black.
TEST(OverviewReuse, ADamagedLevelFileIsBuiltAgainAndNeverCarriedForward) {
    TempDir fresh;
    WriteFullGrid(fresh / "grid");
    WriteGridTile(fresh / "grid", 0, 0, 4242);
    ASSERT_TRUE(MakeRunner(fresh.path(), false)(fresh / "grid").succeeded());
    const std::array<double, 4> freshTop =
        QuadrantBrightness(OverviewFolders(fresh / "grid").at(0) / "L2_0_0.osgb");

    for (const bool cached : {false, true})
        for (const bool touched : {false, true})
            for (const Damage damage :
                 {Damage::Deleted, Damage::CutShort, Damage::RewrittenInPlace}) {
                const std::string what = std::string(cached ? "cached" : "uncached") +
                                         (touched ? ", a tile touched" : "") + ", damage " +
                                         std::to_string(static_cast<int>(damage));
                TempDir dir;
                const Runner run = MakeRunner(dir.path(), cached);
                const fs::path block = WriteFullGrid(dir / "grid");
                WriteGridTile(block, 0, 0, 4242);
                if (cached)
                    LetSettle();
                ASSERT_TRUE(run(block).succeeded()) << what;
                DamageLevelFile(OverviewFolders(block).at(0) / "L1_1_1.osgb", damage);
                if (touched)
                    WriteGridTile(block, 0, 0, 4242); // the same picture, a new file
                if (cached)
                    LetSettle();
                const ExportReport again = run(block);
                ASSERT_TRUE(again.succeeded()) << what;
                ExpectWholeLevels(block, freshTop, what + ", the run after the damage");
                ASSERT_TRUE(run(block).succeeded()) << what;
                ExpectWholeLevels(block, freshTop, what + ", the next run");
            }
}

// A killed run may leave a newer folder of ours, with no manifest, beside the levels the index
// names. The next run still takes every unchanged node from the named levels, and reads only
// the tiles beside a touched one.
TEST(OverviewReuse, AKilledRunsNewerFolderDoesNotTurnReuseOff) {
    for (const bool cached : {false, true}) {
        TempDir dir;
        const Runner run = MakeRunner(dir.path(), cached);
        const fs::path block = WriteFullGrid(dir / "grid");
        if (cached)
            LetSettle();
        ASSERT_TRUE(run(block).succeeded());
        const std::map<std::string, FileIdentity> first = LevelIdentities(block);
        ASSERT_EQ(first.size(), 12u); // five nodes and their summaries, the marker, the manifest
        // As a run killed once it had made its folder leaves it.
        const Result<fs::path> killed = MakeOverviewFolder(block);
        ASSERT_TRUE(killed);
        ASSERT_EQ(OverviewFolders(block).size(), 2u);

        WriteGridTile(block, 0, 0, 4242);
        if (cached)
            LetSettle();
        const ExportReport touched = run(block);
        ASSERT_TRUE(touched.succeeded());
        if (cached) {
            EXPECT_EQ(touched.folders[0].cachedVerdicts, 12u) << "the touched tile's siblings";
        }
        ASSERT_EQ(OverviewFolders(block).size(), 1u) << "the killed run's folder goes";
        std::set<std::string> taken;
        for (const auto& [name, file] : LevelIdentities(block))
            if (name.size() > 5 && name.substr(name.size() - 5) == ".osgb" && first.count(name) &&
                first.at(name).inode == file.inode)
                taken.insert(name);
        EXPECT_EQ(taken, (std::set<std::string>{"L1_1_0.osgb", "L1_0_1.osgb", "L1_1_1.osgb"}))
            << (cached ? "cached" : "uncached");
    }
}

// With the verdict cache a re-run over unchanged tiles leaves the index and its levels exactly
// as they are, so that a viewer that has them open keeps its files: no worker, no new folder,
// no file replaced, renamed or removed. A folder left out, off the grid, changes nothing.
TEST(OverviewReuse, AnUnchangedRerunLeavesTheIndexAndItsLevelsAsTheyAre) {
    TempDir dir;
    const Runner run = MakeRunner(dir.path(), true);
    const fs::path block = WriteFullGrid(dir / "grid");
    WriteText(block / "Corrupt" / "root.osgb", "not a scene");
    LetSettle();
    ASSERT_TRUE(run(block).succeeded());
    EXPECT_GT(run.starts(), 0u);
    LetSettle();
    const FileIdentity index = IdentityOf(block / "root.osgb");
    const std::vector<fs::path> folders = OverviewFolders(block);
    const std::map<std::string, FileIdentity> levels = LevelIdentities(block);
    ASSERT_EQ(levels.size(), 12u);

    for (int rerun = 0; rerun < 2; ++rerun) {
        const ExportReport again = run(block);
        ASSERT_TRUE(again.succeeded()) << rerun;
        EXPECT_EQ(again.folders[0].cachedVerdicts, 17u) << rerun;
        EXPECT_EQ(run.starts(), 0u) << rerun;
        EXPECT_TRUE(IdentityOf(block / "root.osgb") == index) << rerun;
        EXPECT_EQ(OverviewFolders(block), folders) << rerun;
        EXPECT_TRUE(LevelIdentities(block) == levels) << rerun;
    }

    // A touched tile makes new levels after all, in a folder of their own.
    WriteGridTile(block, 3, 3, 4242);
    LetSettle();
    ASSERT_TRUE(run(block).succeeded());
    ASSERT_EQ(OverviewFolders(block).size(), 1u);
    EXPECT_NE(OverviewFolders(block), folders);
    EXPECT_FALSE(IdentityOf(block / "root.osgb") == index);
}

} // namespace
} // namespace brindle
