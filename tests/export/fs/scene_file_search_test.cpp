#include "export/fs/path_text.h"
#include "export/fs/scene_file_search.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;

TEST(SceneFileSearch, SceneFileNamesResolveAgainstTheNamingFilesFolder) {
    const fs::path folder = fs::path("base") / "block";
    EXPECT_EQ(ResolveSceneFileName(folder, "T1\\root.osgb"), folder / "T1" / "root.osgb");
    EXPECT_EQ(ResolveSceneFileName(folder, "T1/root.osgb"), folder / "T1" / "root.osgb");
    EXPECT_EQ(ResolveSceneFileName(folder, "../x.osgb"), folder / ".." / "x.osgb");
#ifndef _WIN32
    EXPECT_EQ(ResolveSceneFileName(folder, "/abs/x.osgb"), fs::path("/abs/x.osgb"));
#endif
}

// The reader's order: the name in each folder in turn, then its bare file name in each; the
// current folder ("" or ".") is the viewer's, not ours to search.
TEST(SceneFileSearch, ANameIsFoundInTheFirstFolderThatHoldsItThenByItsBareName) {
    const TempDir dir;
    WriteText(dir / "second/T1/tile.osgb", "tile");
    WriteText(dir / "first/root.osgb", "index");
    WriteText(dir / "second/root.osgb", "index");
    const std::string first = PathText(dir / "first"), second = PathText(dir / "second");
    const auto found = [&](const std::string& name, const SearchFolders& folders) {
        const std::optional<std::string> file = FindSceneFile(name, folders);
        return file ? fs::weakly_canonical(PathOfText(*file)) : fs::path();
    };
    const auto real = [&](const std::string& name) { return fs::weakly_canonical(dir / name); };

    EXPECT_EQ(found("T1\\tile.osgb", {first, second}), real("second/T1/tile.osgb"));
    EXPECT_EQ(found("T1/tile.osgb", {second, first}), real("second/T1/tile.osgb"));
    // Not under any folder as named: its bare name, in the first folder that has one.
    EXPECT_EQ(found("..\\elsewhere\\root.osgb", {first, second}), real("first/root.osgb"));
    EXPECT_EQ(found("..\\elsewhere\\root.osgb", {second, first}), real("second/root.osgb"));
    EXPECT_EQ(found("T2/tile.osgb", {first, second}), fs::path());
    EXPECT_EQ(found("", {first, second}), fs::path());
    EXPECT_EQ(found("root.osgb", {"", ".", second}), real("second/root.osgb"));
    EXPECT_EQ(found("root.osgb", {"", "."}), fs::path());
}

// An index the run is about to write counts as there: a viewer will find it.
TEST(SceneFileSearch, AFileToBeWrittenIsFoundAsIfItWereThere) {
    const TempDir dir;
    fs::create_directories(dir / "block/T1");
    const std::string block = PathText(dir / "block");
    const std::string index = PathText(dir / "block/root.osgb");
    EXPECT_FALSE(FindSceneFile("root.osgb", {block}));
    const std::optional<std::string> found =
        FindSceneFile("..\\root.osgb", {block + "/T1"}, {index});
    ASSERT_TRUE(found);
    EXPECT_TRUE(SameFilePath(*found, index)) << *found;
    EXPECT_FALSE(SameFilePath(*found, PathText(dir / "block/T1/root.osgb")));
}

} // namespace
} // namespace brindle
