#include "export/scan/subfolder_scan.h"
#include "tests/export/call_failure.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

#include <dirent.h>
#include <sys/stat.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;

// Which call of a listing fails, with EIO; and how many listings were opened and closed.
struct ListingFailure : test::CallFailure {
    int opened = 0;
    int closed = 0;
};
ListingFailure failing;
const auto FailAt = test::FailAt<ListingFailure>;

bool FailsNow(const char* name) {
    if (!failing.failsNow(name))
        return false;
    errno = EIO;
    return true;
}

DIR* Opendir(const char* folder) {
    if (FailsNow("opendir"))
        return nullptr;
    DIR* listing = ::opendir(folder);
    failing.opened += listing != nullptr;
    return listing;
}
dirent* Readdir(DIR* listing) {
    return FailsNow("readdir") ? nullptr : ::readdir(listing);
}
int Closedir(DIR* listing) {
    ++failing.closed;
    const int closed = ::closedir(listing);
    return FailsNow("closedir") ? -1 : closed;
}
int Fstatat(int folder, const char* name, struct stat* seen, int flags) {
    return FailsNow("fstatat") ? -1 : ::fstatat(folder, name, seen, flags);
}

FolderListingCalls FailingCalls() {
    FolderListingCalls calls;
    calls.opendir = Opendir;
    calls.readdir = Readdir;
    calls.closedir = Closedir;
    calls.fstatat = Fstatat;
    return calls;
}

// Each call of a listing fails in turn. A folder that cannot be opened or read to its end
// gives no subfolders and the system's cause, never a part of the list; a look at one entry
// that fails only leaves that entry out; the listing is closed whatever failed.
TEST(ListSubfolders, AFailedCallGivesTheFoldersCauseAndNoPartOfTheList) {
    test::TempDir dir;
    for (const char* name : {"A", "B", "C"})
        fs::create_directories(dir / name);
    test::WriteText(dir / "file.txt", "x");
    // A link's type needs a look at what it leads to.
    fs::create_directory_symlink(dir / "A", dir / "L");

    std::set<std::string> failed;
    for (failing = FailAt(1); failing.failAt < 64; failing = FailAt(failing.failAt + 1)) {
        std::error_code error;
        std::vector<bool> links;
        const std::vector<fs::path> listed =
            ListSubfolders(dir.path(), &error, &links, FailingCalls());
        EXPECT_EQ(failing.closed, failing.opened) << failing.failed << ": a listing left open";
        if (failing.failed.empty()) {
            EXPECT_FALSE(error);
            EXPECT_EQ(listed.size(), 4u);
            break;
        }
        SCOPED_TRACE(failing.failed);
        failed.insert(failing.failed);
        if (failing.failed == "opendir" || failing.failed == "readdir") {
            EXPECT_EQ(error, std::errc::io_error);
            EXPECT_TRUE(listed.empty());
        } else if (failing.failed == "fstatat") {
            EXPECT_FALSE(error);
            EXPECT_EQ(listed.size(), 3u)
                << "only the link is left out, as one whose type is unknown";
        } else {
            EXPECT_FALSE(error);
            EXPECT_EQ(listed.size(), 4u);
        }
    }
    EXPECT_EQ(failed, (std::set<std::string>{"opendir", "readdir", "fstatat", "closedir"}))
        << "every call of the listing goes through the calls given";
}

} // namespace
} // namespace brindle
