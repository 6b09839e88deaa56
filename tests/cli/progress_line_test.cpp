// The command line's progress while a folder's 3D Tiles tileset is made.
#include "cli/progress_bar.h"
#include "tests/cli/report_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace brindle {
namespace {

using test::Contains;

// While a folder's tileset is made its tiles are all validated: the line says the stage, and
// the bar fills with its tile roots done, drawn again at its end however soon that comes.
TEST(Progress, TheTilesetStageFollowsTheValidationOnTheLineAndFillsTheBar) {
    ExportProgress progress;
    progress.folderCount = 1;
    progress.subfolderCount = progress.subfoldersDone = 300;
    progress.folder = "/data/survey";
    TilesetProgress& stage = progress.tileset.emplace();
    stage.folder = "/data/survey/north";
    stage.tileCount = 300;
    stage.tilesDone = 60;
    stage.converted = 412;
    stage.bytes = 100977868; // 96.3 MB
    EXPECT_EQ(DescribeProgress(progress, std::nullopt),
              "100% (300/300 tiles), folder 1/1 survey; 3D Tiles north 20% (60/300 tiles), 412 "
              "files converted, 0 reused, 96.3 MB");

    const ProgressClock::time_point start{};
    std::ostringstream terminal;
    ProgressBar bar(terminal, start);
    bar.update(progress, start + std::chrono::seconds(1));
    EXPECT_TRUE(Contains(terminal.str(), "[######........................] 100% (300/300"))
        << terminal.str();
    stage.tilesDone = 150;
    bar.update(progress, start + std::chrono::seconds(1) + std::chrono::milliseconds(10));
    EXPECT_FALSE(Contains(terminal.str(), "150/300")) << "too soon after the last";
    stage.tilesDone = 300;
    stage.ended = true;
    bar.update(progress, start + std::chrono::seconds(1) + std::chrono::milliseconds(20));
    EXPECT_TRUE(Contains(terminal.str(), "[##############################] 100% (300/300 tiles), "
                                         "folder 1/1 survey; 3D Tiles north 100% (300/300"))
        << terminal.str();
}

} // namespace
} // namespace brindle
