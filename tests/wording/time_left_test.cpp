#include "wording/time_left.h"

#include <gtest/gtest.h>

namespace brindle::wording {
namespace {

using std::chrono::seconds;

// The dialogs' progress says what the command line's bar says: the folder in hand, the tiles
// checked, and the time left from the rate so far, in Chinese.
TEST(ProgressText, TellsTheFolderTheTilesAndTheTimeLeftFromTheRateSoFar) {
    ExportProgress progress;
    progress.folderCount = 2;
    progress.subfolderCount = 300;
    progress.folder = "Block_A"; // a bare name: the same text on every system
    const ProgressClock::time_point start{};
    const TimeLeftEstimate estimate(start);
    EXPECT_EQ(ProgressText(progress, estimate.at(progress, start + seconds(3))),
              "目录 1/2：Block_A\n已验证子目录 0/300")
        << "no rate before the first tile";
    progress.subfoldersDone = 100;
    // 100 tiles in 30 s: the other 200 take about 60 s.
    EXPECT_EQ(ProgressText(progress, estimate.at(progress, start + seconds(30))),
              "目录 1/2：Block_A\n已验证子目录 100/300，预计还需约 1 分 0 秒");
    progress.subfoldersDone = 300;
    progress.foldersDone = 2;
    EXPECT_EQ(ProgressText(progress, estimate.at(progress, start + seconds(90))),
              "目录 2/2：Block_A\n已验证子目录 300/300");
}

TEST(DescribeTimeLeft, SaysSecondsMinutesAndHoursInEitherLanguage) {
    EXPECT_EQ(DescribeTimeLeft(Language::Chinese, seconds(12)), "预计还需约 12 秒");
    EXPECT_EQ(DescribeTimeLeft(Language::Chinese, seconds(125)), "预计还需约 2 分 5 秒");
    EXPECT_EQ(DescribeTimeLeft(Language::Chinese, seconds(1800)), "预计还需约 30 分钟");
    EXPECT_EQ(DescribeTimeLeft(Language::Chinese, seconds(4200)), "预计还需约 1 小时 10 分钟");
    EXPECT_EQ(DescribeTimeLeft(Language::English, seconds(4200)), "about 1 h 10 min left");
}

} // namespace
} // namespace brindle::wording
