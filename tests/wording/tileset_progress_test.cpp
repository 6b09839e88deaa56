// The tileset stage's progress, as the command line (English) and both dialogs (Chinese) say
// it, and what their bars show while it lasts.
#include "wording/tileset_progress.h"
#include "wording/time_left.h"

#include <gtest/gtest.h>

namespace brindle::wording {
namespace {

TilesetProgress Stage(std::uint64_t tilesDone, std::uint64_t tileCount) {
    TilesetProgress stage;
    stage.folder = "/data/survey/north";
    stage.tilesDone = tilesDone;
    stage.tileCount = tileCount;
    stage.converted = 1204;
    stage.reused = 36;
    stage.bytes = 1331439862; // 1.24 GiB (1.2399...)
    return stage;
}

TEST(TilesetProgressText, SaysTheTilesDoneTheFilesAndTheirBytesInEitherLanguage) {
    EXPECT_EQ(TilesetProgressText(Language::English, Stage(135, 300)),
              "3D Tiles north 45% (135/300 tiles), 1204 files converted, 36 reused, 1.24 GB");
    EXPECT_EQ(TilesetProgressText(Language::Chinese, Stage(135, 300)),
              "3D Tiles north：瓦片 135/300（45%），已转换 1204 个文件，沿用 36 个，共 1.24 GB");
    // Without the tile count, no share of it: the counts alone.
    EXPECT_EQ(TilesetProgressText(Language::English, Stage(0, 0)),
              "3D Tiles north, 1204 files converted, 36 reused, 1.24 GB");
    EXPECT_EQ(TilesetProgressText(Language::Chinese, Stage(0, 0)),
              "3D Tiles north：已转换 1204 个文件，沿用 36 个，共 1.24 GB");
    // More done than named (a tile root reached by two names) stays within the count.
    EXPECT_EQ(TilesetProgressText(Language::English, Stage(301, 300)),
              "3D Tiles north 100% (300/300 tiles), 1204 files converted, 36 reused, 1.24 GB");
}

TEST(DescribeBytes, CountsInBinaryUnitsWithTheUnitThatFits) {
    EXPECT_EQ(DescribeBytes(0), "0 KB");
    EXPECT_EQ(DescribeBytes(1023), "0 KB");
    EXPECT_EQ(DescribeBytes(65536), "64 KB");
    EXPECT_EQ(DescribeBytes(1048575), "1023 KB");
    EXPECT_EQ(DescribeBytes(1048576), "1.0 MB");
    EXPECT_EQ(DescribeBytes(36909875), "35.2 MB"); // 35.2000...
    EXPECT_EQ(DescribeBytes(1073741823), "1024.0 MB");
    EXPECT_EQ(DescribeBytes(1073741824), "1.00 GB");
    EXPECT_EQ(DescribeBytes(5368709120ull * 20), "100.00 GB");
}

// The dialogs say the stage under the folder and its tiles validated, and their bars follow
// the stage's tile roots while it lasts, the validation otherwise.
TEST(ProgressText, AddsTheTilesetStageWhileThereIsOne) {
    ExportProgress progress;
    progress.folderCount = 2;
    progress.subfolderCount = 300;
    progress.subfoldersDone = 300;
    progress.folder = "survey";
    EXPECT_EQ(ProgressText(progress, std::nullopt), "目录 1/2：survey\n已验证子目录 300/300");
    ProgressSteps steps = StepsShown(progress);
    EXPECT_EQ(steps.done, 300u);
    EXPECT_EQ(steps.total, 302u);

    progress.tileset = Stage(135, 300);
    EXPECT_EQ(ProgressText(progress, std::nullopt),
              "目录 1/2：survey\n已验证子目录 300/300\n"
              "3D Tiles north：瓦片 135/300（45%），已转换 1204 个文件，沿用 36 个，共 1.24 GB");
    steps = StepsShown(progress);
    EXPECT_EQ(steps.done, 135u);
    EXPECT_EQ(steps.total, 300u);

    // A stage whose tile count is not known leaves the bar to the validation.
    progress.tileset = Stage(0, 0);
    steps = StepsShown(progress);
    EXPECT_EQ(steps.done, 300u);
    EXPECT_EQ(steps.total, 302u);
}

} // namespace
} // namespace brindle::wording
