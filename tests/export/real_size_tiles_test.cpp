#include "export/export_run.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteSizedTile;
using test::WriteTile;

using Names = std::vector<std::string>;

// Larger than the size that turns reading ahead on, as real tiles are.
constexpr std::uint64_t kRealTile = std::uint64_t{96} * 1024;

ExportReport Export(const fs::path& block, unsigned jobs, ExportOptions options = {},
                    const ExportCalls& calls = {}) {
    options.jobs = jobs;
    return ExportFolderIndexes({block}, options, calls);
}

Names EntriesFor(const Names& tiles) {
    Names entries;
    for (const std::string& tile : tiles)
        entries.push_back(tile + "\\root.osgb");
    return entries;
}

void ExpectListed(const ExportReport& report, const fs::path& block, const Names& tiles) {
    ASSERT_TRUE(report.succeeded());
    EXPECT_EQ(report.folders[0].entries, EntriesFor(tiles));
    EXPECT_TRUE(report.folders[0].leftOut.empty());
    const test::IndexContents index = test::ReadIndex(block / "root.osgb");
    EXPECT_EQ(index.entries, EntriesFor(tiles));
    EXPECT_EQ(index.loadedTiles, tiles.size());
}

TEST(RealSizeTiles, TheFixtureWritesLoadableTilesOfTheSizeAsked) {
    TempDir dir;
    for (const std::uint64_t size : {kRealTile, std::uint64_t{3} << 20}) {
        const fs::path tile = dir / std::to_string(size);
        WriteSizedTile(tile, size, 7);
        const std::uintmax_t written = fs::file_size(tile / "root.osgb");
        EXPECT_GE(written, size);
        EXPECT_LT(written, size + 1024);
    }
    WriteSizedTile(dir / "again", kRealTile, 7);
    WriteSizedTile(dir / "other", kRealTile, 8);
    const std::string first = test::ReadBytes(dir / std::to_string(kRealTile) / "root.osgb");
    EXPECT_EQ(test::ReadBytes(dir / "again" / "root.osgb"), first);
    EXPECT_NE(test::ReadBytes(dir / "other" / "root.osgb"), first);
}

TEST(RealSizeTiles, OneBigTileAloneIsListed) {
    TempDir dir;
    WriteSizedTile(dir / "block" / "A", kRealTile);
    for (const unsigned jobs : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(jobs) + " jobs");
        ExpectListed(Export(dir / "block", jobs), dir / "block", {"A"});
    }
}

TEST(RealSizeTiles, ABigTileLastInItsFolderIsListed) {
    TempDir dir;
    const Names tiles{"A", "B", "C", "D", "Z"};
    for (const std::string& tile : tiles)
        if (tile == "Z")
            WriteSizedTile(dir / "block" / tile, kRealTile);
        else
            WriteTile(dir / "block" / tile);
    ExpectListed(Export(dir / "block", 2), dir / "block", tiles);
}

// Both workers take a big tile at once; the read-ahead finds nothing left to read. The race
// is over in microseconds, so the run is repeated.
TEST(RealSizeTiles, TwoBigTilesAtTwoJobsAreListed) {
    TempDir dir;
    WriteSizedTile(dir / "block" / "A", kRealTile, 1);
    WriteSizedTile(dir / "block" / "B", kRealTile, 2);
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ExpectListed(Export(dir / "block", 2), dir / "block", {"A", "B"});
    }
}

TEST(RealSizeTiles, AsManyBigTilesAsWorkersAreListed) {
    TempDir dir;
    const Names tiles{"A", "B", "C"};
    for (std::size_t i = 0; i < tiles.size(); ++i)
        WriteSizedTile(dir / "block" / tiles[i], kRealTile, unsigned(i));
    ExpectListed(Export(dir / "block", 3), dir / "block", tiles);
}

// The tiles hinted, in the order they were.
struct HintLog {
    std::mutex mutex;
    std::vector<fs::path> files;

    std::function<void(const fs::path&)> hint(std::chrono::milliseconds wait) {
        return [this, wait](const fs::path& file) {
            std::this_thread::sleep_for(wait);
            const std::lock_guard<std::mutex> lock(mutex);
            files.push_back(file);
        };
    }
};

// A hint that waits on the disk lets the workers overtake it: it carries on behind them with
// tiles no worker has taken, never reaching past the queue.
TEST(RealSizeTiles, ASlowReadAheadHintIsOvertakenSafely) {
    TempDir dir;
    Names tiles;
    for (int i = 0; i < 40; ++i) {
        tiles.push_back("T" + std::string(i < 10 ? "0" : "") + std::to_string(i));
        WriteSizedTile(dir / "block" / tiles.back(), kRealTile, unsigned(i));
    }
    HintLog hints;
    ExportCalls calls;
    calls.readAheadHint = hints.hint(std::chrono::milliseconds(30));
    ExpectListed(Export(dir / "block", 2, {}, calls), dir / "block", tiles);

    EXPECT_FALSE(hints.files.empty()) << "reading ahead never started";
    for (std::size_t i = 0; i < hints.files.size(); ++i) {
        EXPECT_EQ(hints.files[i].filename(), "root.osgb");
        const fs::path tile = hints.files[i].parent_path();
        EXPECT_EQ(tile.parent_path(), dir / "block");
        if (i > 0) {
            EXPECT_LT(hints.files[i - 1].parent_path().filename().string(),
                      tile.filename().string())
                << "hints go forward, each tile once";
        }
    }
}

TEST(RealSizeTiles, ReadingAheadStartsAtTheSizeThePolicyGives) {
    TempDir dir;
    Names tiles;
    for (int i = 0; i < 12; ++i) {
        tiles.push_back("T" + std::string(i < 10 ? "0" : "") + std::to_string(i));
        WriteTile(dir / "block" / tiles.back());
    }
    HintLog small;
    ExportOptions options;
    ExportCalls calls;
    calls.readAheadHint = small.hint(std::chrono::milliseconds(0));
    ExpectListed(Export(dir / "block", 1, options, calls), dir / "block", tiles);
    EXPECT_TRUE(small.files.empty()) << "blocks of small tiles do without";

    HintLog lowered;
    calls.readAheadHint = lowered.hint(std::chrono::milliseconds(0));
    options.readAhead.worthReadingAhead = 1;
    options.readAhead.rounds = 2;
    ExpectListed(Export(dir / "block", 1, options, calls), dir / "block", tiles);
    EXPECT_FALSE(lowered.files.empty());
    const std::set<fs::path> distinct(lowered.files.begin(), lowered.files.end());
    EXPECT_EQ(distinct.size(), lowered.files.size()) << "no tile is hinted twice";
}

} // namespace
} // namespace brindle
