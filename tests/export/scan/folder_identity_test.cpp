#include "export/scan/folder_identity.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;

using Positions = std::vector<std::size_t>;

bool Same(const fs::path& a, const fs::path& b) {
    return SameFolder(IdentifyFolder(a), IdentifyFolder(b));
}

TEST(FolderIdentity, OneFolderUnderEverySpellingIsOneFolder) {
    TempDir dir;
    const fs::path a = dir / "A";
    fs::create_directories(a / "sub");
    fs::create_directories(dir / "B");
    fs::path trailing = a;
    trailing += fs::path::preferred_separator;
    for (const fs::path& spelling : {trailing, a / ".", a / "sub" / "..", dir / "B" / ".." / "A"})
        EXPECT_TRUE(Same(a, spelling)) << spelling;
    EXPECT_FALSE(Same(a, dir / "B"));
    EXPECT_FALSE(Same(a, a / "sub"));
    EXPECT_FALSE(Same(a, dir.path()));
    // A file beside the folder, named like it but for a suffix, is another thing entirely.
    WriteText(dir / "A.txt", "x");
    EXPECT_FALSE(Same(a, dir / "A.txt"));
}

TEST(FolderIdentity, ARelativePathIsTheFolderItNamesFromHere) {
    const fs::path here = fs::current_path();
    EXPECT_TRUE(Same(".", here));
    EXPECT_TRUE(Same("./", here));
    EXPECT_FALSE(Same("..", here));
}

// Without an identity from the system (a folder that does not exist, or is gone), the path
// alone decides, spelled the same way or not.
TEST(FolderIdentity, MissingFoldersAreComparedByTheirNormalPath) {
    TempDir dir;
    const fs::path gone = dir / "gone";
    EXPECT_EQ(IdentifyFolder(gone).inode, 0u);
    fs::path trailing = gone;
    trailing += fs::path::preferred_separator;
    EXPECT_TRUE(Same(gone, trailing));
    EXPECT_TRUE(Same(gone, dir / "x" / ".." / "gone"));
    EXPECT_FALSE(Same(gone, dir / "gone2"));
    EXPECT_FALSE(Same(gone, dir / "go"));
    EXPECT_FALSE(Same(gone, dir.path()));
}

#ifndef _WIN32
TEST(FolderIdentity, ALinkToAFolderIsThatFolder) {
    TempDir dir;
    fs::create_directories(dir / "A");
    fs::create_directories(dir / "B");
    fs::create_directory_symlink("A", dir / "toA");
    fs::create_directory_symlink(dir / "toA", dir / "toToA");
    EXPECT_TRUE(Same(dir / "A", dir / "toA"));
    EXPECT_TRUE(Same(dir / "toToA", dir / "A"));
    EXPECT_FALSE(Same(dir / "toA", dir / "B"));
}

// On a system that names files with letter case, "A" and "a" are two folders.
TEST(FolderIdentity, LetterCaseTellsFoldersApartWhereTheSystemDoes) {
    TempDir dir;
    fs::create_directories(dir / "A");
    fs::create_directories(dir / "a");
    EXPECT_FALSE(Same(dir / "A", dir / "a"));
    EXPECT_FALSE(Same(dir / "Gone", dir / "gone"));
}
#else
TEST(FolderIdentity, LetterCaseIsIgnoredAsTheSystemIgnoresIt) {
    TempDir dir;
    fs::create_directories(dir / "Block");
    EXPECT_TRUE(Same(dir / "Block", dir / "BLOCK"));
    EXPECT_TRUE(Same(dir / "Gone", dir / "gONE"));
    EXPECT_TRUE(Same(dir / "Block", fs::path((dir / "block").generic_wstring())));
}
#endif

TEST(FolderIdentity, FirstListingsPointEachRepeatAtTheEarliestEntry) {
    TempDir dir;
    const fs::path a = dir / "A", b = dir / "B";
    fs::create_directories(a);
    fs::create_directories(b);
    fs::path aSlash = a;
    aSlash += fs::path::preferred_separator;
    EXPECT_EQ(FirstListings({}), Positions{});
    EXPECT_EQ(FirstListings({a, b}), (Positions{0, 1}));
    EXPECT_EQ(FirstListings({a, b, aSlash, b / ".", a}), (Positions{0, 1, 0, 1, 0}));
    EXPECT_EQ(FirstListings({b, aSlash, a}), (Positions{0, 1, 1}));
    // Missing folders repeat too, by their path.
    EXPECT_EQ(FirstListings({dir / "gone", a, dir / "gone" / "."}), (Positions{0, 1, 0}));
}

TEST(FolderIdentity, FindSameFolderFindsTheEntryUnderAnySpelling) {
    TempDir dir;
    const fs::path a = dir / "A", b = dir / "B";
    fs::create_directories(a);
    fs::create_directories(b);
    const std::vector<fs::path> listed{b, a};
    EXPECT_EQ(FindSameFolder(listed, a / "."), std::optional<std::size_t>(1));
    EXPECT_EQ(FindSameFolder(listed, dir / "A" / ".." / "B"), std::optional<std::size_t>(0));
    EXPECT_EQ(FindSameFolder(listed, dir / "C"), std::nullopt);
    EXPECT_EQ(FindSameFolder({}, a), std::nullopt);
}

} // namespace
} // namespace brindle
