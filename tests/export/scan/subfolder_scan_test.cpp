#include "export/scan/subfolder_scan.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace brindle {
namespace {
namespace fs = std::filesystem;

std::vector<std::string> Names(const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (const fs::path& path : paths)
        names.push_back(path.filename().string());
    return names;
}

TEST(ListSubfolders, ListsImmediateFoldersOnlySortedByName) {
    test::TempDir dir;
    for (const char* name : {"b", "A", ".hidden", "C", "b/deeper"})
        fs::create_directories(dir / name);
    test::WriteText(dir / "file.txt", "not a folder");
    std::vector<std::string> expected{".hidden", "A", "b", "C"};
#ifndef _WIN32
    // Windows takes "a" for the name of the folder "A".
    fs::create_directories(dir / "a");
    expected.insert(expected.begin() + 2, "a");
#endif

    const std::vector<fs::path> found = ListSubfolders(dir.path());
    EXPECT_EQ(Names(found), expected);
    for (const fs::path& path : found) {
        EXPECT_TRUE(path.is_absolute());
        EXPECT_EQ(path.parent_path(), dir.path());
    }
}

// The listing's own order and paths, against SubfolderNameLess and operator/ as oracles, over
// names whose order with and without case differs: prefixes, digits, punctuation that sorts
// between the cases, and bytes past ASCII.
TEST(ListSubfolders, OrdersAsSubfolderNameLessAndJoinsAsTheLibrary) {
    test::TempDir dir;
    std::vector<std::string> names{"tile_10", "Tile_9", "TILE_1", "tile",
                                   "Tile_",   "_tile",  "[b]",    "Zeta",
                                   "alpha",   "ALPHA0", "a~",     "Tile_+001_-002"};
#ifndef _WIN32
    // Names differing only in case, and bytes no locale lowers, where the system keeps them.
    for (const char* more : {"TILE", "Alpha", "tile_\xc3\xa9", "tile_\xc3\x89", "\xe5\x9d\x97"})
        names.push_back(more);
#endif
    for (const std::string& name : names)
        fs::create_directories(dir / name);
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(), SubfolderNameLess);

    const std::vector<fs::path> found = ListSubfolders(dir.path());
    EXPECT_EQ(Names(found), expected);
    for (const fs::path& path : found) {
        EXPECT_EQ(path, dir.path() / path.filename());
        EXPECT_EQ(path.native(), (dir.path() / path.filename()).native());
    }
}

TEST(ListSubfolders, AnUnreadableFolderGivesNothingAndSaysWhy) {
    test::TempDir dir;
    const fs::path before = fs::current_path();
    std::error_code error;
    EXPECT_TRUE(ListSubfolders(dir / "missing", &error).empty());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(ListSubfolders(dir.path()).empty());
    EXPECT_EQ(fs::current_path(), before);
}

TEST(CountSubfolders, CountsWhatListSubfoldersListsUpToTheLimit) {
    test::TempDir dir;
    for (const char* name : {"a", "b", ".hidden", "c/deeper", "d", "e"})
        fs::create_directories(dir / name);
    test::WriteText(dir / "file.txt", "not a folder");
    test::WriteText(dir / "a" / "root.osgb", "");
    const std::size_t listed = ListSubfolders(dir.path()).size();
    ASSERT_EQ(listed, 6u);

    std::error_code error;
    EXPECT_EQ(CountSubfolders(dir.path(), 100, nullptr, &error), listed);
    EXPECT_FALSE(error);
    // Exactly as many as there are, one short, and none asked for.
    EXPECT_EQ(CountSubfolders(dir.path(), listed), listed);
    EXPECT_EQ(CountSubfolders(dir.path(), listed - 1), listed - 1);
    EXPECT_EQ(CountSubfolders(dir.path(), 0), 0u);
}

TEST(CountSubfolders, StopsWhenToldAndSaysWhyAFolderCannotBeCounted) {
    test::TempDir dir;
    for (const char* name : {"a", "b", "c"})
        fs::create_directories(dir / name);
    const std::atomic<bool> stop{true};
    EXPECT_EQ(CountSubfolders(dir.path(), 100, &stop), 0u);

    std::error_code error;
    EXPECT_EQ(CountSubfolders(dir / "missing", 100, nullptr, &error), 0u);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    test::WriteText(dir / "file", "x");
    error.clear();
    EXPECT_EQ(CountSubfolders(dir / "file", 100, nullptr, &error), 0u);
    EXPECT_TRUE(error);
}

TEST(SubfolderNameLess, IgnoresCaseFirstThenComparesBytes) {
    EXPECT_TRUE(SubfolderNameLess("Tile_01", "tile_02"));
    EXPECT_TRUE(SubfolderNameLess("TILE", "tile"));
    EXPECT_FALSE(SubfolderNameLess("tile", "TILE"));
    EXPECT_TRUE(SubfolderNameLess("Tile", "Tile_"));
    EXPECT_FALSE(SubfolderNameLess("Tile", "Tile"));
}

} // namespace
} // namespace brindle
