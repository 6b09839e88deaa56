#include "export/export_run.h"
#include "export/verify/index_verify.h"
#include "tests/export/test_fixtures.h"
#include "tests/export/verify/overview_files.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

// A folder of two blocks, `east` and `west`, each of production-shaped tiles, with the index
// of `kind` written over it.
fs::path WriteFolderOfBlocks(const fs::path& dir, IndexKind kind) {
    const fs::path blocks = dir / "blocks";
    fs::create_directories(blocks);
    fs::rename(test::WriteProductionBlock(dir / "e", 9), blocks / "east");
    fs::rename(test::WriteProductionBlock(dir / "w", 12), blocks / "west");
    ExportOptions options;
    options.jobs = 2;
    options.index = kind;
    EXPECT_TRUE(ExportFolderIndexes({blocks}, options).succeeded());
    return blocks;
}

std::vector<FolderVerification> Verify(const fs::path& folder) {
    ExportOptions options;
    options.jobs = 2;
    return VerifyFolderIndexes({folder}, options.checkSettings());
}

const FolderVerification* ResultFor(const std::vector<FolderVerification>& results,
                                    const fs::path& folder) {
    const auto found = std::find_if(results.begin(), results.end(), [&](const auto& result) {
        return result.folder.lexically_normal() == folder.lexically_normal();
    });
    return found == results.end() ? nullptr : &*found;
}

// The index of a folder of blocks names each block's index, which a viewer loads at once; what
// those page in (an overview's levels, and the tiles under them) is checked as each block's
// own folder, so a level file cut short inside one block is found and named.
TEST(VerifyBlocks, EachBlockOfAFolderOfBlocksIsWalkedToItsTiles) {
    TempDir dir;
    const fs::path blocks = WriteFolderOfBlocks(dir.path(), IndexKind::Overview);
    const test::OverviewFiles east = test::ReadOverview(blocks / "east");
    ASSERT_FALSE(east.levels.empty());
    ASSERT_EQ(east.tiles.size(), 9u);

    const std::vector<FolderVerification> intact = Verify(blocks);
    ASSERT_EQ(intact.size(), 3u);
    EXPECT_EQ(intact[0].folder, blocks);
    for (const FolderVerification& folder : intact)
        EXPECT_TRUE(folder.allResolve()) << folder.folder;
    const FolderVerification* eastIntact = ResultFor(intact, blocks / "east");
    ASSERT_NE(eastIntact, nullptr);
    EXPECT_EQ(eastIntact->levelFiles(), east.levels.size());
    EXPECT_EQ(eastIntact->entries.size(), east.levels.size() + east.tiles.size());

    const fs::path cut = east.levels.begin()->first;
    fs::resize_file(cut, 50);
    const std::vector<FolderVerification> damaged = Verify(blocks);
    const FolderVerification* eastDamaged = ResultFor(damaged, blocks / "east");
    ASSERT_NE(eastDamaged, nullptr);
    EXPECT_FALSE(eastDamaged->allResolve());
    EXPECT_EQ(eastDamaged->brokenLevelFiles(), 1u);
    const FolderVerification* westDamaged = ResultFor(damaged, blocks / "west");
    ASSERT_NE(westDamaged, nullptr);
    EXPECT_TRUE(westDamaged->allResolve());
}

// Paged blocks: the tiles each block's index pages in are checked, so a deleted tile inside a
// block is named; a plain folder of tiles is not mistaken for a folder of blocks.
TEST(VerifyBlocks, ATileDeletedInsideAPagedBlockIsNamed) {
    TempDir dir;
    const fs::path blocks = WriteFolderOfBlocks(dir.path(), IndexKind::Paged);
    const fs::directory_entry tile = *std::find_if(
        fs::directory_iterator(blocks / "west"), fs::directory_iterator(),
        [](const fs::directory_entry& entry) {
            // A tile the index names: the broken tile folders are left out.
            return entry.is_directory() && entry.path().filename().string().rfind("Tile_", 0) == 0;
        });
    fs::remove_all(tile.path());

    const std::vector<FolderVerification> results = Verify(blocks);
    ASSERT_EQ(results.size(), 3u);
    const FolderVerification* west = ResultFor(results, blocks / "west");
    ASSERT_NE(west, nullptr);
    EXPECT_EQ(west->broken(), 1u);
    EXPECT_EQ(west->entries.size(), 12u);

    const std::vector<FolderVerification> plain = Verify(blocks / "east");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_TRUE(plain[0].allResolve());
}

} // namespace
} // namespace brindle
