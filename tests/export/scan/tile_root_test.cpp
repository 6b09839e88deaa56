#include "export/scan/subfolder_scan.h"
#include "export/scan/tile_root.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;

// A folder big enough that the looks are shared among threads, its tile folders in every
// shape a tile root takes, in a pattern that puts each shape on both sides of every share's
// edge: the roots found together are those found one folder at a time, in the same order.
TEST(FindTileRoots, FindsInABigFolderWhatEachLookFindsAlone) {
    test::TempDir dir;
    constexpr int kFolders = 4099;
    for (int i = 0; i < kFolders; ++i) {
        const std::string name = "Tile_" + std::to_string(i);
        const fs::path folder = dir / name;
        fs::create_directory(folder);
        switch (i % 5) {
        case 0:
            test::WriteText(folder / "root.osgb", "x");
            break;
        case 1:
            test::WriteText(folder / (name + ".osgb"), "xy");
            break;
        case 2: // both: root.osgb wins
            test::WriteText(folder / "root.osgb", "xyz");
            test::WriteText(folder / (name + ".osgb"), "x");
            break;
        case 3: // a folder by the name counts too
            fs::create_directory(folder / "root.osgb");
            break;
        default: // neither
            test::WriteText(folder / "other.osgb", "x");
            break;
        }
    }
    const std::vector<fs::path> folders = ListSubfolders(dir.path());
    ASSERT_EQ(folders.size(), static_cast<std::size_t>(kFolders));
    // Relative to the folder held open where the system offers that, and by whole paths.
    const OpenFolder open(dir.path());
    for (const OpenFolder* parent : {&open, static_cast<const OpenFolder*>(nullptr)}) {
        const std::vector<FoundTileRoot> found = FindTileRoots(folders, Look::WithIdentity, parent);
        ASSERT_EQ(found.size(), folders.size());
        std::size_t roots = 0;
        for (std::size_t i = 0; i < folders.size(); ++i) {
            std::error_code ec;
            FileFacts facts;
            const fs::path alone = FindTileRoot(folders[i], ec, &facts, Look::WithIdentity);
            ASSERT_EQ(found[i].found, !alone.empty()) << folders[i];
            if (found[i].found) {
                EXPECT_EQ(TileRootPath(folders[i], found[i].name), alone) << folders[i];
            }
            EXPECT_FALSE(found[i].error) << folders[i];
            EXPECT_EQ(found[i].facts.type, facts.type) << folders[i];
            EXPECT_EQ(found[i].facts.size, facts.size) << folders[i];
            roots += !alone.empty();
        }
        EXPECT_EQ(roots, static_cast<std::size_t>(kFolders - kFolders / 5));
    }
}

} // namespace
} // namespace brindle
