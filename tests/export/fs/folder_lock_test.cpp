#include "export/fs/folder_lock.h"
#include "export/fs/regular_file.h"
#include "tests/export/fs/lock_holder.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::LockHolder;
using test::TempDir;

// One holder at a time, in this process or another, whichever path names the folder; the
// lock is free again once its holder lets it go, or is killed.
TEST(FolderLock, OneHolderAtATimeAndFreeOnceItsProcessEnds) {
    TempDir dir;
    const fs::path folder = dir / "block";
    fs::create_directories(folder / "sub");
    {
        Result<FolderLock> first = TakeFolderLock(folder);
        ASSERT_TRUE(first) << first.error().message();
        EXPECT_TRUE(first->held());
        const Result<FolderLock> second = TakeFolderLock(folder / "sub" / "..");
        ASSERT_FALSE(second);
        EXPECT_TRUE(IsFolderLockHeld(second.error()));
        EXPECT_TRUE(TakeFolderLock(folder / "sub")) << "another folder's lock is its own";
        LockHolder other(folder);
        EXPECT_EQ(other.reply(), "busy");
        FolderLock moved = std::move(*first);
        EXPECT_TRUE(moved.held());
        EXPECT_FALSE(TakeFolderLock(folder));
    }
    LockHolder holder(folder);
    ASSERT_EQ(holder.reply(), "held");
    const Result<FolderLock> whileHeld = TakeFolderLock(folder);
    ASSERT_FALSE(whileHeld);
    EXPECT_TRUE(IsFolderLockHeld(whileHeld.error()));
    holder.kill();
    EXPECT_TRUE(TakeFolderLock(folder)) << "a killed holder's lock is free";

    EXPECT_FALSE(TakeFolderLock(dir / "missing"));
    EXPECT_TRUE(fs::is_empty(folder / "sub")) << "the lock writes nothing";
}

int failWith = 0;
int FailingOpen(const char*, int) {
    errno = failWith;
    return -1;
}
int FailingFlock(int, int) {
    errno = failWith;
    return -1;
}
int RealOpen(const char* path, int flags) {
    return ::open(path, flags);
}

// A system that gives no lock on the folder's file system lets the run go on without one; a
// folder that cannot be opened says why; a lock held elsewhere says so.
TEST(FolderLock, EachFailureOfTheSystemsCallsIsTold) {
    TempDir dir;
    const fs::path folder = dir / "block";
    fs::create_directories(folder);
    FolderLockCalls calls = SystemFolderLockCalls();
    calls.flock = FailingFlock;
    for (const int cause : {ENOLCK, EOPNOTSUPP, EBADF}) {
        failWith = cause;
        const Result<FolderLock> none = TakeFolderLock(folder, calls);
        ASSERT_TRUE(none) << cause;
        EXPECT_FALSE(none->held()) << cause;
    }
    failWith = EWOULDBLOCK;
    const Result<FolderLock> busy = TakeFolderLock(folder, calls);
    ASSERT_FALSE(busy);
    EXPECT_TRUE(IsFolderLockHeld(busy.error()));
    failWith = EIO;
    const Result<FolderLock> broken = TakeFolderLock(folder, calls);
    ASSERT_FALSE(broken);
    EXPECT_EQ(broken.error(), SystemError(EIO));

    calls = SystemFolderLockCalls();
    calls.open = FailingOpen;
    failWith = EACCES;
    const Result<FolderLock> denied = TakeFolderLock(folder, calls);
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error(), SystemError(EACCES));
    EXPECT_FALSE(IsFolderLockHeld(denied.error()));
    calls.open = RealOpen;
    EXPECT_TRUE(TakeFolderLock(folder, calls)->held());
}

} // namespace
} // namespace brindle
