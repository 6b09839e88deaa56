#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "tests/export/fs/step_ended_calls.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::FilesBelow;
using test::ReadBytes;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

ExportReport ExportOverview(const fs::path& block) {
    ExportOptions options;
    options.jobs = 2;
    options.index = IndexKind::Overview;
    options.strict = true;
    return ExportFolderIndexes({block}, options);
}

// A run killed while it makes its folder of levels (after the folder, after its marker, after
// its renaming) or once it has written levels into it, before root.osgb names them: the old
// index and its levels are as they were, and the next run, strict, lists nothing of what the
// killed one left, writes its index and leaves only its own levels.
TEST(Publish, ARunKilledAtAnyStepLeavesTheOldIndexAndNothingThatStays) {
    for (int step = 1; step <= 4; ++step) {
        TempDir dir;
        const fs::path block = dir / "block";
        for (const char* tile : {"Tile_1", "Tile_2", "Tile_3"})
            WriteTile(block / tile);
        ASSERT_TRUE(ExportOverview(block).succeeded());
        const std::map<std::string, std::string> before = FilesBelow(block);

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const OverviewFolderCalls calls = test::CallsEndingAfterStep(step);
            const Result<fs::path> made = MakeOverviewFolder(block, calls);
            if (made)
                WriteText(*made / "L0_0_0.osgb", "a level never named");
            ::_exit(made && step == 4 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "step " << step;
        std::map<std::string, std::string> left = FilesBelow(block);
        EXPECT_GT(left.size(), before.size()) << "step " << step;
        for (const auto& [name, bytes] : before)
            EXPECT_EQ(left[name], bytes) << "step " << step << ": " << name;

        const ExportReport next = ExportOverview(block);
        EXPECT_TRUE(next.succeeded()) << "step " << step;
        EXPECT_TRUE(next.folders.at(0).leftOut.empty()) << "step " << step;
        EXPECT_TRUE(next.folders.at(0).warnings.empty()) << "step " << step;
        const std::vector<fs::path> levels = OverviewFolders(block);
        ASSERT_EQ(levels.size(), 1u) << "step " << step;
        std::size_t entries = 0;
        for (const auto& entry : fs::directory_iterator(block)) {
            (void)entry;
            ++entries;
        }
        EXPECT_EQ(entries, 3u + 1 + 1) << "step " << step << ": the tiles, root.osgb, the levels";
    }
}

} // namespace
} // namespace brindle
