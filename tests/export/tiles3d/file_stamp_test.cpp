// One look at a file for the walk: every path to one file is one key, and its stamp is its
// size and the time it was written.
#include "export/tiles3d/file_stamp.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;

TEST(FileStamp, EveryPathToOneFileSharesItsKeyAndNoOtherFileDoes) {
    TempDir dir;
    WriteText(dir / "Tile" / "root.osgb", "12345");
    WriteText(dir / "Tile" / "twin.osgb", "12345");
    fs::create_directory_symlink(dir / "Tile", dir / "Link");
    fs::create_hard_link(dir / "Tile" / "root.osgb", dir / "hard.osgb");
    const FileLook look = LookAtFile(dir / "Tile" / "root.osgb");
    ASSERT_TRUE(look.stamp);
    EXPECT_EQ(look.stamp->size, 5u);
    for (const fs::path& same : {dir / "Link" / "root.osgb",
                                 dir / "Tile" / ".." / "Tile" / "root.osgb", dir / "hard.osgb"})
        EXPECT_EQ(LookAtFile(same).identity, look.identity) << same;
    EXPECT_FALSE(LookAtFile(dir / "Tile" / "twin.osgb").identity == look.identity);

    // A folder has a key and no stamp; a missing file is known by its path, links resolved.
    EXPECT_FALSE(LookAtFile(dir / "Tile").stamp);
    const FileLook missing = LookAtFile(dir / "Tile" / "gone.osgb");
    EXPECT_FALSE(missing.stamp);
    EXPECT_EQ(LookAtFile(dir / "Link" / "gone.osgb").identity, missing.identity);
    EXPECT_FALSE(missing.identity == LookAtFile(dir / "Tile" / "other.osgb").identity);
}

TEST(FileStamp, AFileWrittenAgainHasAnotherStampEvenWithItsSize) {
    TempDir dir;
    WriteText(dir / "root.osgb", "12345");
    const std::optional<FileStamp> before = StampOf(dir / "root.osgb");
    ASSERT_TRUE(before);
    fs::last_write_time(dir / "root.osgb",
                        fs::last_write_time(dir / "root.osgb") + std::chrono::seconds(2));
    const std::optional<FileStamp> after = StampOf(dir / "root.osgb");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size, before->size);
    EXPECT_NE(after->modified, before->modified);
    EXPECT_EQ(LookAtFile(dir / "root.osgb").stamp->modified, after->modified);
    EXPECT_FALSE(StampOf(dir.path()));
    EXPECT_FALSE(StampOf(dir / "gone"));
}

} // namespace
} // namespace brindle
