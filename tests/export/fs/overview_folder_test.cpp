#include "export/fs/overview_folder.h"
#include "export/fs/regular_file.h"
#include "export/scan/subfolder_scan.h"
#include "tests/export/call_failure.h"
#include "tests/export/fs/step_ended_calls.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::FailAt;
using test::MakeLink;
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

std::string Marker() {
    return std::string(kOverviewMarkerText);
}

// Our folder `name` in `listed`, made by hand, with our marker and `files`.
fs::path OurFolderByHand(const fs::path& listed, const std::string& name, const Names& files) {
    const fs::path folder = listed / name;
    WriteText(folder / std::string(kOverviewMarkerName), Marker());
    for (const std::string& file : files)
        WriteText(folder / file, "level " + file);
    return folder;
}

TEST(OverviewFolderName, IsOurPrefixAndAPlainNumber) {
    for (const char* name :
         {"brindle-overview-1", "brindle-overview-42", "brindle-overview-999999999"})
        EXPECT_TRUE(HasOverviewFolderName(name)) << name;
    for (const char* name :
         {"brindle-overview-", "brindle-overview-0", "brindle-overview-01", "brindle-overview-1a",
          "brindle-overview--1", "Brindle-Overview-1", "brindle-overview-1234567890",
          "xbrindle-overview-1", "brindle-overview-1.osgb", "Tile_+000_+000"})
        EXPECT_FALSE(HasOverviewFolderName(name)) << name;
}

// Each new folder takes the number after the highest any entry by our name has, whatever that
// entry is; only ours, with the marker, count as ours, in the order of their numbers.
TEST(MakeOverviewFolder, TakesTheNextNumberAndMarksTheFolderAsOurs) {
    TempDir dir;
    const fs::path listed = dir / "block";
    test::WriteTile(listed / "Tile_+000_+000");

    const Result<fs::path> first = MakeOverviewFolder(listed);
    ASSERT_TRUE(first) << first.error().message();
    EXPECT_EQ(*first, listed / "brindle-overview-1");
    EXPECT_EQ(Tree(*first), (Names{std::string(kOverviewMarkerName)}));
    EXPECT_EQ(ReadBytes(*first / std::string(kOverviewMarkerName)), Marker());
    EXPECT_TRUE(IsOverviewFolder(*first));

    // A user's file and a user's folder by our names: never reused, never ours.
    WriteText(listed / "brindle-overview-7", "the user's");
    WriteText(listed / "brindle-overview-8" / "notes.txt", "the user's");
    const Result<fs::path> next = MakeOverviewFolder(listed);
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, listed / "brindle-overview-9");
    EXPECT_EQ(ReadBytes(listed / "brindle-overview-7"), "the user's");
    EXPECT_EQ(Tree(listed / "brindle-overview-8"), (Names{"notes.txt"}));
    const Result<fs::path> tenth = MakeOverviewFolder(listed);
    ASSERT_TRUE(tenth);
    EXPECT_EQ(*tenth, listed / "brindle-overview-10");

    EXPECT_EQ(OverviewFolders(listed), (std::vector<fs::path>{*first, *next, *tenth}))
        << "by number, not by text, and only ours";

    std::error_code error;
    EXPECT_TRUE(OverviewFolders(dir / "missing", &error).empty());
    EXPECT_TRUE(IsMissing(error));
    EXPECT_FALSE(MakeOverviewFolder(dir / "missing"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

// Only the name and our marker, as a regular file of our exact bytes, in a folder itself,
// make a folder ours.
TEST(IsOverviewFolder, NeedsOurNameAndOurExactMarkerInARealFolder) {
    TempDir dir;
    const fs::path ours = OurFolderByHand(dir.path(), "brindle-overview-1", {"L0.osgb"});
    EXPECT_TRUE(IsOverviewFolder(ours));

    const auto lookAlike = [&](const std::string& name, const std::string& marker) {
        const fs::path folder = dir / name;
        WriteText(folder / std::string(kOverviewMarkerName), marker);
        return IsOverviewFolder(folder);
    };
    EXPECT_FALSE(lookAlike("brindle-overview-2", Marker() + "x")) << "more than our line";
    EXPECT_FALSE(lookAlike("brindle-overview-3", Marker().substr(1))) << "less than our line";
    EXPECT_FALSE(lookAlike("brindle-overview-4", "")) << "an empty marker";
    EXPECT_FALSE(lookAlike("overview-copy", Marker())) << "not our name";
    fs::create_directories(dir / "brindle-overview-5");
    EXPECT_FALSE(IsOverviewFolder(dir / "brindle-overview-5")) << "no marker";
    fs::create_directories(dir / "brindle-overview-6" / std::string(kOverviewMarkerName));
    EXPECT_FALSE(IsOverviewFolder(dir / "brindle-overview-6")) << "a folder as the marker";
    WriteText(dir / "brindle-overview-7", Marker());
    EXPECT_FALSE(IsOverviewFolder(dir / "brindle-overview-7")) << "a file";
    EXPECT_FALSE(IsOverviewFolder(dir / "brindle-overview-8")) << "nothing there";

    if (!MakeLink(ours, dir / "brindle-overview-9"))
        GTEST_SKIP() << "no links here";
    EXPECT_FALSE(IsOverviewFolder(dir / "brindle-overview-9")) << "a link to one of ours";
    fs::create_directories(dir / "brindle-overview-10");
    // Windows makes links to files only with a privilege, and Wine shows a link to a file that
    // its host made as the file itself: only a link the system shows as one can be told.
    const fs::path linkedMarker = dir / "brindle-overview-10" / std::string(kOverviewMarkerName);
    if (MakeLink(ours / std::string(kOverviewMarkerName), linkedMarker) && IsLink(linkedMarker)) {
        EXPECT_FALSE(IsOverviewFolder(dir / "brindle-overview-10")) << "a link as the marker";
    }
}

// A removal takes our levels, the atomic write's leftovers and last the marker; anything else
// inside stays, and with it the folder, still ours, and the call says why.
TEST(RemoveOverviewFolder, RemovesOnlyWhatWePutThereAndNeverAUsersFile) {
    TempDir dir;
    const fs::path clean =
        OurFolderByHand(dir.path(), "brindle-overview-1",
                        {"L0.osgb", "L1_0_1.osgb", ".b-0a1b2c", std::string(kOverviewManifestName),
                         std::string(kHeldSummariesName)});
    ASSERT_TRUE(RemoveOverviewFolder(clean));
    EXPECT_FALSE(fs::exists(clean));

    const fs::path mixed = OurFolderByHand(dir.path(), "brindle-overview-2",
                                           {"L0.osgb", "notes.txt", "L0.OSGB.bak", ".b-xyz"});
    WriteText(mixed / "sub" / "deep.osgb", "the user's");
    const Status removal = RemoveOverviewFolder(mixed);
    ASSERT_FALSE(removal);
    EXPECT_EQ(removal.error(), std::errc::directory_not_empty);
    EXPECT_EQ(Tree(mixed), (Names{".b-xyz", "L0.OSGB.bak", std::string(kOverviewMarkerName),
                                  "notes.txt", "sub", "sub/deep.osgb"}));
    EXPECT_TRUE(IsOverviewFolder(mixed)) << "the marker stays while the folder does";

    // Not ours: a look-alike keeps every file; a folder no longer there says so.
    const fs::path user = dir / "brindle-overview-3";
    WriteText(user / "L0.osgb", "the user's");
    const Status notOurs = RemoveOverviewFolder(user);
    ASSERT_FALSE(notOurs);
    EXPECT_EQ(notOurs.error(), std::errc::operation_not_permitted);
    EXPECT_EQ(ReadBytes(user / "L0.osgb"), "the user's");
    const Status gone = RemoveOverviewFolder(clean);
    ASSERT_FALSE(gone);
    EXPECT_TRUE(IsMissing(gone.error()));

    // Links: one named like ours to ours is not ours; a link inside ours is removed as nothing,
    // and what it leads to stays.
    const fs::path target = OurFolderByHand(dir.path(), "brindle-overview-4", {"L0.osgb"});
    WriteText(dir / "elsewhere" / "tile.osgb", "the user's");
    if (!MakeLink(target, dir / "brindle-overview-5"))
        GTEST_SKIP() << "no links here";
    EXPECT_FALSE(RemoveOverviewFolder(dir / "brindle-overview-5"));
    EXPECT_EQ(Tree(target), (Names{"L0.osgb", std::string(kOverviewMarkerName)}));
    const bool linkedFile = MakeLink(dir / "elsewhere" / "tile.osgb", target / "linked.osgb");
    // Wine shows a link to a file that its host made as the file itself, and removes what it
    // leads to: no program can tell such a link from a file.
    if (linkedFile && !IsLink(target / "linked.osgb"))
        GTEST_SKIP() << "this system shows a link to a file as the file itself";
    const bool linkedFolder = MakeLink(dir / "elsewhere", target / "folder.osgb");
    const Status linked = RemoveOverviewFolder(target);
    if (linkedFile || linkedFolder) {
        ASSERT_FALSE(linked);
        EXPECT_EQ(linked.error(), std::errc::directory_not_empty);
        EXPECT_TRUE(IsOverviewFolder(target));
        EXPECT_FALSE(fs::exists(target / "L0.osgb"));
    }
    EXPECT_EQ(ReadBytes(dir / "elsewhere" / "tile.osgb"), "the user's");
    EXPECT_EQ(Tree(dir / "elsewhere"), (Names{"tile.osgb"}));
}

// The calls fail on demand, each named; the real ones do the work.
test::CallFailure failing;
const OverviewFolderCalls real = SystemOverviewFolderCalls();
const std::error_code kInjected = SystemError(EIO);

bool FailsNow(const char* name) {
    return failing.failsNow(name);
}
Status MakeFolder(const fs::path& folder) {
    return FailsNow("makeFolder") ? Status(kInjected) : real.makeFolder(folder);
}
Status WriteFile(const fs::path& file, std::string_view bytes) {
    return FailsNow("writeFile") ? Status(kInjected) : real.writeFile(file, bytes);
}
Status ListNames(const fs::path& folder, std::vector<fs::path>& names) {
    return FailsNow("listNames") ? Status(kInjected) : real.listNames(folder, names);
}
Status Remove(const fs::path& path) {
    return FailsNow("remove") ? Status(kInjected) : real.remove(path);
}
Status RenameFolder(const fs::path& from, const fs::path& to) {
    return FailsNow("renameFolder") ? Status(kInjected) : real.renameFolder(from, to);
}
Status FlushFolder(const fs::path& folder) {
    return FailsNow("flushFolder") ? Status(kInjected) : real.flushFolder(folder);
}

OverviewFolderCalls FailingCalls() {
    return {MakeFolder, WriteFile, ListNames, Remove, RenameFolder, FlushFolder};
}

// Each call of a making fails in turn: the making says so with that call's cause and leaves the
// listed folder as it was; a name taken in the meantime moves the making on to the next.
TEST(OverviewFolderCalls, AFailedMakingLeavesNothingAndSaysWhy) {
    TempDir dir;
    const fs::path listed = dir / "block";
    test::WriteTile(listed / "Tile_+000_+000");
    const Names before = Tree(listed);

    std::set<std::string> failed;
    for (failing = FailAt(1);; failing = FailAt(failing.failAt + 1)) {
        const Result<fs::path> made = MakeOverviewFolder(listed, FailingCalls());
        if (made) {
            EXPECT_TRUE(failing.failed.empty());
            ASSERT_TRUE(IsOverviewFolder(*made));
            ASSERT_TRUE(RemoveOverviewFolder(*made));
            break;
        }
        EXPECT_EQ(made.error(), kInjected) << failing.failed;
        EXPECT_EQ(Tree(listed), before) << "after a failed " << failing.failed;
        failed.insert(failing.failed);
    }
    EXPECT_EQ(failed,
              (std::set<std::string>{"listNames", "makeFolder", "writeFile", "renameFolder"}));

    // The marker's write and the empty folder's removal both fail: the failure is the write's,
    // and the folder left is empty, which no later making takes again.
    failing = FailAt(test::CallFailure::kEveryCall);
    static const auto failMarkerAndRemoval = [](const fs::path& file, std::string_view) {
        (void)file;
        return Status(kInjected);
    };
    OverviewFolderCalls calls = SystemOverviewFolderCalls();
    calls.writeFile = failMarkerAndRemoval;
    calls.remove = Remove;
    const Result<fs::path> unmarked = MakeOverviewFolder(listed, calls);
    ASSERT_FALSE(unmarked);
    EXPECT_EQ(unmarked.error(), kInjected);
    ASSERT_TRUE(fs::is_empty(listed / "brindle-overview-1.tmp"));
    EXPECT_FALSE(fs::exists(listed / "brindle-overview-1"));
    EXPECT_TRUE(IsUnfinishedOverviewFolder(listed / "brindle-overview-1.tmp"));
    EXPECT_EQ(MakeOverviewFolder(listed).value_or({}), listed / "brindle-overview-2");

    // Someone makes the next name first.
    calls = SystemOverviewFolderCalls();
    static const auto takenOnce = [](const fs::path& folder) {
        static bool taken = false;
        if (!std::exchange(taken, true)) {
            (void)real.makeFolder(folder);
            return Status(SystemError(std::errc::file_exists));
        }
        return real.makeFolder(folder);
    };
    calls.makeFolder = takenOnce;
    EXPECT_EQ(MakeOverviewFolder(listed, calls).value_or({}), listed / "brindle-overview-4");
    EXPECT_FALSE(IsOverviewFolder(listed / "brindle-overview-3"));

    std::error_code error;
    failing = FailAt(1);
    EXPECT_TRUE(OverviewFolders(listed, &error, FailingCalls()).empty());
    EXPECT_EQ(error, kInjected);
}

// Each call of a removal fails in turn: the removal says so with that call's cause, the folder
// is still ours with every file not yet removed, and a removal with the real calls then ends it.
TEST(OverviewFolderCalls, AFailedRemovalLeavesAFolderStillOurs) {
    TempDir dir;
    const Names levels{"L0.osgb", "L1_0_0.osgb", "L1_0_1.osgb", ".b-00ff00"};
    std::set<std::string> failed;
    for (failing = FailAt(1);; failing = FailAt(failing.failAt + 1)) {
        const fs::path folder = OurFolderByHand(
            dir.path(), "brindle-overview-" + std::to_string(failing.failAt), levels);
        const Status removal = RemoveOverviewFolder(folder, FailingCalls());
        if (removal) {
            EXPECT_TRUE(failing.failed.empty());
            EXPECT_FALSE(fs::exists(folder));
            break;
        }
        EXPECT_EQ(removal.error(), kInjected) << failing.failed;
        EXPECT_TRUE(IsOverviewFolder(folder)) << "after a failed " << failing.failed;
        const Names left = Tree(folder);
        EXPECT_GE(left.size(), 1u);
        for (const std::string& name : left)
            EXPECT_TRUE(name == kOverviewMarkerName ||
                        std::find(levels.begin(), levels.end(), name) != levels.end())
                << name;
        failed.insert(failing.failed);
        ASSERT_TRUE(RemoveOverviewFolder(folder)) << "after a failed " << failing.failed;
        EXPECT_FALSE(fs::exists(folder));
    }
    EXPECT_EQ(failed, (std::set<std::string>{"listNames", "remove"}));
    EXPECT_EQ(failing.seen, 1 + 4 + 2) << "the listing, four files, the marker, the folder";
}

// A name that turns up between the making and the renaming, even an empty folder (which a plain
// rename would replace), is never taken: the making moves on, and the folder stays the user's.
TEST(MakeOverviewFolder, NeverRenamesOverAFolderThatTurnsUpMeanwhile) {
    TempDir dir;
    const fs::path listed = dir / "block";
    test::WriteTile(listed / "Tile_+000_+000");
    OverviewFolderCalls calls = SystemOverviewFolderCalls();
    static const auto userMakesTheNameOnce = [](const fs::path& folder) {
        static bool made = false;
        const Status making = real.makeFolder(folder);
        if (making && !std::exchange(made, true))
            fs::create_directory(folder.parent_path() / "brindle-overview-1");
        return making;
    };
    calls.makeFolder = userMakesTheNameOnce;
    const Result<fs::path> made = MakeOverviewFolder(listed, calls);
    ASSERT_TRUE(made) << made.error().message();
    EXPECT_EQ(*made, listed / "brindle-overview-2");
    EXPECT_TRUE(IsOverviewFolder(*made));
    EXPECT_EQ(Tree(listed), (Names{"Tile_+000_+000", "Tile_+000_+000/root.osgb",
                                   "brindle-overview-1", "brindle-overview-2",
                                   "brindle-overview-2/" + std::string(kOverviewMarkerName)}));
    EXPECT_FALSE(IsOverviewFolder(listed / "brindle-overview-1"));
}

// The scan's subfolders of `listed`, our folders dropped as the run drops them.
Names ScannedSubfolders(const fs::path& listed) {
    std::vector<fs::path> subfolders = ListSubfolders(listed);
    DropOverviewFolders(subfolders);
    Names names;
    for (const fs::path& subfolder : subfolders)
        names.push_back(subfolder.filename().string());
    return names;
}

// Only an empty folder of our temporary name, or one holding our marker alone, is ours; the
// scan passes over those and the removal takes them, and leaves any other.
TEST(UnfinishedOverviewFolder, IsOursOnlyEmptyOrWithOurMarkerAlone) {
    TempDir dir;
    const fs::path listed = dir / "block";
    test::WriteTile(listed / "Tile_+000_+000");
    fs::create_directories(listed / "brindle-overview-1.tmp");
    WriteText(listed / "brindle-overview-2.tmp" / std::string(kOverviewMarkerName), Marker());
    WriteText(listed / "brindle-overview-3.tmp" / std::string(kOverviewMarkerName), "other");
    WriteText(listed / "brindle-overview-4.tmp" / "notes.txt", "the user's");
    WriteText(listed / "brindle-overview-5.tmp" / std::string(kOverviewMarkerName), Marker());
    WriteText(listed / "brindle-overview-5.tmp" / "L0.osgb", "level");
    fs::create_directories(listed / "brindle-overview-01.tmp");
    fs::create_directories(listed / "brindle-overview-6.TMP");
    for (const char* name : {"brindle-overview-1.tmp", "brindle-overview-2.tmp"})
        EXPECT_TRUE(IsUnfinishedOverviewFolder(listed / name)) << name;
    for (const char* name :
         {"brindle-overview-3.tmp", "brindle-overview-4.tmp", "brindle-overview-5.tmp",
          "brindle-overview-01.tmp", "brindle-overview-6.TMP", "Tile_+000_+000"})
        EXPECT_FALSE(IsUnfinishedOverviewFolder(listed / name)) << name;
    const Names theUsers{"Tile_+000_+000",         "brindle-overview-01.tmp",
                         "brindle-overview-3.tmp", "brindle-overview-4.tmp",
                         "brindle-overview-5.tmp", "brindle-overview-6.TMP"};
    Names scanned = ScannedSubfolders(listed);
    std::sort(scanned.begin(), scanned.end());
    EXPECT_EQ(scanned, theUsers);

    const Names before = Tree(listed);
    ASSERT_TRUE(RemoveUnfinishedOverviewFolders(listed));
    Names left;
    for (const std::string& name : before)
        if (name.rfind("brindle-overview-1.tmp", 0) != 0 &&
            name.rfind("brindle-overview-2.tmp", 0) != 0)
            left.push_back(name);
    EXPECT_EQ(Tree(listed), left);

#ifdef _WIN32
    // Links to folders here may be shown as the folders themselves, and the test folder's own
    // removal then follows them without end.
    GTEST_SKIP() << "links to folders are taken on systems that show them as links";
#endif
    if (!MakeLink(listed / "brindle-overview-4.tmp", listed / "brindle-overview-7.tmp"))
        GTEST_SKIP() << "no links here";
    fs::create_directories(dir / "empty");
    ASSERT_TRUE(MakeLink(dir / "empty", listed / "brindle-overview-8.tmp"));
    EXPECT_FALSE(IsUnfinishedOverviewFolder(listed / "brindle-overview-8.tmp"))
        << "a link to an empty folder";
    ASSERT_TRUE(RemoveUnfinishedOverviewFolders(listed));
    // Still there: some systems show a link to a folder as the folder itself.
    EXPECT_TRUE(fs::exists(fs::symlink_status(listed / "brindle-overview-8.tmp")));
    EXPECT_TRUE(fs::is_directory(dir / "empty"));
}

#ifndef _WIN32
// The making is killed after each of its steps in turn (a child process that ends in the call
// after the step): whatever it leaves, the scan lists no tile of it, and the removal a run makes
// once its index is in place leaves the folder as it was before.
TEST(OverviewFolderCalls, AMakingKilledAtAnyStepLeavesNothingThatStays) {
    for (int step = 1; step <= 3; ++step) {
        TempDir dir;
        const fs::path listed = dir / "block";
        test::WriteTile(listed / "Tile_+000_+000");
        test::WriteTile(listed / "Tile_+000_+001");
        const Names before = Tree(listed);

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const OverviewFolderCalls calls = test::CallsEndingAfterStep(step);
            (void)MakeOverviewFolder(listed, calls);
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "step " << step;
        EXPECT_NE(Tree(listed), before) << "step " << step << " left nothing to see";

        EXPECT_EQ(ScannedSubfolders(listed), (Names{"Tile_+000_+000", "Tile_+000_+001"}))
            << "step " << step;
        ASSERT_TRUE(RemoveUnfinishedOverviewFolders(listed)) << "step " << step;
        for (const fs::path& folder : OverviewFolders(listed))
            ASSERT_TRUE(RemoveOverviewFolder(folder)) << "step " << step;
        EXPECT_EQ(Tree(listed), before) << "step " << step;
    }
}
#endif

} // namespace
} // namespace brindle
