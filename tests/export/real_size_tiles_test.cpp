#include "export/export_run.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteSizedTile;
using test::WriteTile;

using Names = std::vector<std::string>;

constexpr std::uint64_t kRealTile = std::uint64_t{96} * 1024;

ExportReport Export(const fs::path& block, unsigned jobs) {
    ExportOptions options;
    options.jobs = jobs;
    return ExportFolderIndexes({block}, options);
}

TEST(RealSizeTiles, OneBigTileAloneIsListed) {
    TempDir dir;
    WriteSizedTile(dir / "block" / "A", kRealTile);
    for (const unsigned jobs : {1u, 2u}) {
        const ExportReport report = Export(dir / "block", jobs);
        ASSERT_TRUE(report.succeeded()) << jobs << " jobs";
        EXPECT_EQ(report.folders[0].entries, (Names{"A\\root.osgb"}));
        EXPECT_EQ(test::ReadIndex(dir / "block" / "root.osgb").loadedTiles, 1u);
    }
}

} // namespace
} // namespace brindle
