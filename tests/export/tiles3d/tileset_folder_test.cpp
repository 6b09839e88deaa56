#include "export/fs/regular_file.h"
#include "export/tiles3d/tileset_folder.h"
#include "tests/export/call_failure.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::FailAt;
using test::ReadBytes;
using test::TempDir;
using test::WriteText;

using Names = std::vector<std::string>;

// The names in `folder`, sorted, and those in each subfolder below it as "sub/name".
Names Tree(const fs::path& folder) {
    Names names;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it)
        names.push_back(it->path().lexically_relative(folder).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

const std::string kMarker(kTilesetMarkerName);

// Writes a tileset named `version` into `folder`: a content in a subfolder, tileset.json last.
void WriteTilesetVersion(const fs::path& folder, const std::string& version) {
    WriteText(folder / "block" / (version + ".glb"), version);
    WriteText(folder / "tileset.json", version);
}

// The version of the tileset a viewer finds at `target`: its tileset.json, with the content it
// names there beside it; empty when there is no whole tileset.
std::string VersionAt(const fs::path& target) {
    if (!fs::exists(target / "tileset.json"))
        return {};
    const std::string version = ReadBytes(target / "tileset.json");
    if (!fs::exists(target / "block" / (version + ".glb")))
        return "half of " + version;
    return version;
}

// Makes the tileset `version` at dir/name with the real calls.
void Publish(const fs::path& dir, const std::string& version) {
    TilesetStaging staging;
    ASSERT_FALSE(TilesetStaging::Begin(dir, "block", staging));
    WriteTilesetVersion(staging.folder(), version);
    ASSERT_FALSE(staging.publish());
}

TEST(TilesetFolder, ANewTilesetReplacesTheOldOnlyWhenPublished) {
    TempDir dir;
    const fs::path out = dir / "out" / "deeper";
    Publish(out, "v1");
    EXPECT_EQ(VersionAt(out / "block"), "v1");
    EXPECT_EQ(Tree(out), (Names{"block", "block/block", "block/block/v1.glb",
                                "block/brindle-tileset.marker", "block/tileset.json"}));

    TilesetStaging staging;
    ASSERT_FALSE(TilesetStaging::Begin(out, "block", staging));
    EXPECT_EQ(staging.previous(), out / "block");
    EXPECT_NE(staging.folder().parent_path(), out / "block");
    WriteTilesetVersion(staging.folder(), "v2");
    EXPECT_EQ(VersionAt(out / "block"), "v1");
    ASSERT_FALSE(staging.publish());
    EXPECT_EQ(VersionAt(out / "block"), "v2");
    EXPECT_EQ(Tree(out), (Names{"block", "block/block", "block/block/v2.glb",
                                "block/brindle-tileset.marker", "block/tileset.json"}));

    // A run that stops before its tileset is whole leaves the old one, and nothing else.
    ASSERT_FALSE(TilesetStaging::Begin(out, "block", staging));
    WriteText(staging.folder() / "block" / "v3.glb", "v3");
    staging.abandon();
    EXPECT_EQ(VersionAt(out / "block"), "v2");
    EXPECT_EQ(Tree(out).size(), 5u);
    {
        TilesetStaging dropped;
        ASSERT_FALSE(TilesetStaging::Begin(out, "block", dropped));
    }
    EXPECT_EQ(Tree(out).size(), 5u);
}

TEST(TilesetFolder, AFolderNotOursIsNeverTouched) {
    TempDir dir;
    WriteText(dir / "block" / "photo.jpg", "the user's");
    WriteText(dir / "file", "the user's");
    WriteText(dir / "other.brindle-new" / "notes.txt", "the user's");
    fs::create_directories(dir / "empty");
    const Names before = Tree(dir.path());

    TilesetStaging staging;
    for (const char* name : {"block", "file", "other"}) {
        const std::optional<TilesetFolderError> refused =
            TilesetStaging::Begin(dir.path(), name, staging);
        ASSERT_TRUE(refused) << name;
        EXPECT_EQ(refused->failure, TilesetFolderFailure::NotOurs);
        EXPECT_EQ(refused->path.filename().string().rfind(name, 0), 0u) << refused->path;
        EXPECT_EQ(Tree(dir.path()), before);
    }
    // A marker of another content is no marker of ours.
    WriteText(dir / "block" / kMarker, "something else\n");
    EXPECT_TRUE(TilesetStaging::Begin(dir.path(), "block", staging));

    // An empty folder is taken.
    ASSERT_FALSE(TilesetStaging::Begin(dir.path(), "empty", staging));
    WriteTilesetVersion(staging.folder(), "v1");
    ASSERT_FALSE(staging.publish());
    EXPECT_EQ(VersionAt(dir / "empty"), "v1");

    // An output folder that cannot be made.
    const std::optional<TilesetFolderError> unmade =
        TilesetStaging::Begin(dir / "file" / "out", "block", staging);
    ASSERT_TRUE(unmade);
    EXPECT_EQ(unmade->failure, TilesetFolderFailure::NotWritten);
    EXPECT_EQ(unmade->path, dir / "file" / "out");
    EXPECT_TRUE(unmade->cause);
}

// The calls fail on demand, each named; the real ones do the work.
test::CallFailure failing;
bool noExchange = false; // the system has no swap of two folders
const TilesetFolderCalls real = SystemTilesetFolderCalls();
const std::error_code kInjected = SystemError(EIO);

bool FailsNow(const char* name) {
    return failing.failsNow(name);
}
Status MakeFolders(const fs::path& folder) {
    return FailsNow("makeFolders") ? Status(kInjected) : real.makeFolders(folder);
}
Status MakeFolder(const fs::path& folder) {
    return FailsNow("makeFolder") ? Status(kInjected) : real.makeFolder(folder);
}
Status WriteFile(const fs::path& file, std::string_view bytes) {
    return FailsNow("writeFile") ? Status(kInjected) : real.writeFile(file, bytes);
}
Status Remove(const fs::path& path) {
    return FailsNow("remove") ? Status(kInjected) : real.remove(path);
}
Status RemoveAll(const fs::path& path) {
    return FailsNow("removeAll") ? Status(kInjected) : real.removeAll(path);
}
Status RenameFolder(const fs::path& from, const fs::path& to) {
    return FailsNow("renameFolder") ? Status(kInjected) : real.renameFolder(from, to);
}
Status ExchangeFolders(const fs::path& a, const fs::path& b) {
    if (FailsNow("exchangeFolders"))
        return kInjected;
    return noExchange ? Status(SystemError(std::errc::function_not_supported))
                      : real.exchangeFolders(a, b);
}
Status FlushFolder(const fs::path& folder) {
    return FailsNow("flushFolder") ? Status(kInjected) : real.flushFolder(folder);
}

TilesetFolderCalls FailingCalls() {
    return {MakeFolders, MakeFolder,   WriteFile,       Remove,
            RemoveAll,   RenameFolder, ExchangeFolders, FlushFolder};
}

// Each call of a replacement fails in turn, with and without the system's swap: a viewer
// finds the old tileset or the new one whole at every failure, and the next run (real calls)
// ends with the tileset it writes and nothing of ours left beside it.
TEST(TilesetFolderCalls, NoFailureLosesTheOldOrTheNewTileset) {
    for (const bool withoutSwap : {false, true}) {
        noExchange = withoutSwap;
        TempDir dir;
        Publish(dir.path(), "v1");
        std::set<std::string> failed;
        for (failing = FailAt(1);; failing = FailAt(failing.failAt + 1)) {
            const std::string version = "v" + std::to_string(failing.failAt + 1);
            const std::string old = VersionAt(dir / "block").empty()
                                        ? VersionAt(dir / "block.brindle-old")
                                        : VersionAt(dir / "block");
            TilesetStaging staging;
            std::optional<TilesetFolderError> error =
                TilesetStaging::Begin(dir.path(), "block", staging, FailingCalls());
            if (!error) {
                WriteTilesetVersion(staging.folder(), version);
                error = staging.publish();
            }
            const std::string found = VersionAt(dir / "block").empty()
                                          ? VersionAt(dir / "block.brindle-old")
                                          : VersionAt(dir / "block");
            if (failing.failed.empty()) {
                EXPECT_FALSE(error);
                EXPECT_EQ(found, version);
                break;
            }
            failed.insert(failing.failed);
            if (error) {
                EXPECT_EQ(error->cause, kInjected) << failing.failed;
                EXPECT_EQ(found, old) << "after a failed " << failing.failed;
            } else {
                // A failure after the new one was in place: only a removal of the old.
                EXPECT_EQ(found, version) << failing.failed;
            }

            Publish(dir.path(), version + "b");
            EXPECT_EQ(VersionAt(dir / "block"), version + "b") << failing.failed;
            EXPECT_EQ(Tree(dir.path()).size(), 5u) << failing.failed;
        }
        // With the swap, the old tileset needs no rename.
        std::set<std::string> expected{"makeFolders",     "makeFolder", "writeFile", "flushFolder",
                                       "exchangeFolders", "removeAll",  "remove"};
        if (withoutSwap)
            expected.insert("renameFolder");
        EXPECT_EQ(failed, expected) << "without swap: " << withoutSwap;
    }
    noExchange = false;
}

// A run killed between the two renames of a system without a swap: the old tileset under its
// old name, the new one complete under the staging name, none at the tileset's own.
TEST(TilesetFolder, ARunKilledBetweenTheRenamesIsRecovered) {
    TempDir dir;
    Publish(dir.path(), "v1");
    fs::rename(dir / "block", dir / "block.brindle-old");
    Publish(dir / "elsewhere", "v2");
    fs::rename(dir / "elsewhere" / "block", dir / "block.brindle-new");
    fs::remove(dir / "elsewhere");

    TilesetStaging staging;
    ASSERT_FALSE(TilesetStaging::Begin(dir.path(), "block", staging));
    EXPECT_EQ(VersionAt(dir / "block"), "v1");
    EXPECT_EQ(staging.previous(), dir / "block");
    staging.abandon();
    EXPECT_EQ(Tree(dir.path()).size(), 5u);
}

TEST(FoldersOverlap, OneInsideTheOtherOrTheSame) {
    TempDir dir;
    fs::create_directories(dir / "data" / "block");
    fs::create_directories(dir / "out");
    EXPECT_TRUE(FoldersOverlap(dir / "data", dir / "data" / "block" / "tiles3d"));
    EXPECT_TRUE(FoldersOverlap(dir / "data" / "block", dir / "data"));
    EXPECT_TRUE(FoldersOverlap(dir / "data" / "block" / ".." / "block", dir / "data" / "block/"));
    EXPECT_FALSE(FoldersOverlap(dir / "data" / "block", dir / "out"));
    EXPECT_FALSE(FoldersOverlap(dir / "data" / "block", dir / "data" / "blocks"));
#ifndef _WIN32
    fs::create_directory_symlink(dir / "data" / "block", dir / "out" / "link");
    EXPECT_TRUE(FoldersOverlap(dir / "out" / "link" / "new", dir / "data" / "block"));
#endif
}

} // namespace
} // namespace brindle
