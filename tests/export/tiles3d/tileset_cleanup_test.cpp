// What an update in place leaves of the files its tileset no longer names: nothing, however
// the folder came to hold them, and never what it names or what lies behind a link.
#include "export/tiles3d/tileset_cleanup.h"
#include "export/tiles3d/tileset_folder.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;

std::set<std::string> Below(const fs::path& folder) {
    std::set<std::string> names;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it)
        names.insert(it->path().lexically_relative(folder).generic_string() +
                     (it->is_directory() && !it->is_symlink() ? "/" : ""));
    return names;
}

NameSet Kept(std::initializer_list<const char*> names) {
    NameSet kept;
    for (const char* name : names)
        kept.insert(NameKey(name));
    return kept;
}

// A tileset's folder as an update cut short leaves it: the files its tileset names, its own,
// files of the new generation no tileset names yet, and a link out to the user's files.
struct UpdatedFolder {
    explicit UpdatedFolder(const fs::path& root) : out(root / "out"), users(root / "users") {
        for (const char* name :
             {"tileset.json", "brindle-tileset.manifest", "brindle-tileset.pending",
              "A/root.osgb.v1.glb", "A/root.osgb.v1.tileset.json", "A/root_L1.osgb.v2.glb",
              "B/root.osgb.v2.glb", "B/deeper/x.osgb.v2.glb",
              "brindle-overview-3/L1_0_0.osgb.v1.glb"})
            WriteText(out / name, "bytes");
        WriteText(out / std::string(kTilesetMarkerName), std::string(kTilesetMarkerText));
        WriteText(users / "keep.txt", "the user's");
        fs::create_directory_symlink(users, out / "A" / "link");
    }
    fs::path out, users;
};

TEST(TilesetCleanup, EverythingNeitherNamedNorOursGoesAndNoLinkIsFollowed) {
    TempDir dir;
    const UpdatedFolder folder(dir.path());
    const NameSet kept = Kept({"A/root.osgb.v1.glb", "A/root.osgb.v1.tileset.json",
                               "brindle-overview-3/L1_0_0.osgb.v1.glb"});
    ASSERT_TRUE(RemoveAllNotKept(folder.out, kept).ok());
    // The note of the update cut short is its builder's to remove, once it is done.
    EXPECT_EQ(Below(folder.out),
              (std::set<std::string>{"A/", "A/root.osgb.v1.glb", "A/root.osgb.v1.tileset.json",
                                     "brindle-overview-3/", "brindle-overview-3/L1_0_0.osgb.v1.glb",
                                     "brindle-tileset.manifest", "brindle-tileset.marker",
                                     "brindle-tileset.pending", "tileset.json"}));
    EXPECT_TRUE(fs::is_regular_file(folder.users / "keep.txt"));
}

TEST(TilesetCleanup, OnlyTheNamesNotKeptGoWithTheFoldersTheyLeaveEmpty) {
    TempDir dir;
    const UpdatedFolder folder(dir.path());
    const NameSet kept = Kept({"A/root.osgb.v1.glb", "B/deeper/x.osgb.v2.glb"});
    // A name twice, a name kept, one already gone, and the folder's own files, which a
    // damaged manifest might name: only the first goes.
    ASSERT_TRUE(RemoveNamesNotKept(folder.out,
                                   {"brindle-overview-3/L1_0_0.osgb.v1.glb",
                                    "brindle-overview-3/L1_0_0.osgb.v1.glb", "A/root.osgb.v1.glb",
                                    "C/gone.glb", "tileset.json", "brindle-tileset.manifest"},
                                   kept)
                    .ok());
    const std::set<std::string> left = Below(folder.out);
    EXPECT_EQ(left.count("brindle-overview-3/"), 0u);
    for (const char* name : {"A/root.osgb.v1.glb", "tileset.json", "brindle-tileset.manifest",
                             "B/deeper/x.osgb.v2.glb", "A/root_L1.osgb.v2.glb", "A/link"})
        EXPECT_EQ(left.count(name), 1u) << name;
}

} // namespace
} // namespace brindle
