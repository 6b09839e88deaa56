#include "export/cache/cache_calls.h"
#include "export/cache/verdict_cache.h"
#include "tests/export/call_failure.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;

using test::FailAt;

// Which call of a write fails, with EIO.
test::CallFailure failing;

bool FailsNow(const char* name) {
    if (!failing.failsNow(name))
        return false;
    errno = EIO;
    return true;
}

int Mkdir(const char* path, mode_t mode) {
    return FailsNow("mkdir") ? -1 : ::mkdir(path, mode);
}
int Lstat(const char* path, struct stat* seen) {
    return FailsNow("lstat") ? -1 : ::lstat(path, seen);
}
int Chmod(const char* path, mode_t mode) {
    return FailsNow("chmod") ? -1 : ::chmod(path, mode);
}
int Access(const char* path, int how) {
    return FailsNow("access") ? -1 : ::access(path, how);
}
int Utimensat(int folder, const char* path, const struct timespec times[2], int flags) {
    return FailsNow("utimensat") ? -1 : ::utimensat(folder, path, times, flags);
}
int Fsync(int fd) {
    struct stat seen {};
    const bool folder = ::fstat(fd, &seen) == 0 && S_ISDIR(seen.st_mode);
    return FailsNow(folder ? "fsync of the folder" : "fsync of the file") ? -1 : ::fsync(fd);
}
int Rename(const char* from, const char* to) {
    return FailsNow("rename") ? -1 : ::rename(from, to);
}

CacheWriteCalls FailingCalls() {
    CacheWriteCalls calls;
    calls.mkdir = Mkdir;
    calls.lstat = Lstat;
    calls.chmod = Chmod;
    calls.access = Access;
    calls.utimensat = Utimensat;
    calls.file.fsync = Fsync;
    calls.file.rename = Rename;
    return calls;
}

CacheEntry Loads(std::uint64_t inode) {
    CacheEntry verdicts;
    verdicts.file.type = fs::file_type::regular;
    verdicts.file.device = 7;
    verdicts.file.inode = inode;
    verdicts.file.size = 100 + inode;
    verdicts.file.modified = 5;
    verdicts.file.changed = 10;
    verdicts.tile = KeptTileOutcome{};
    verdicts.tile->loads = true;
    return verdicts;
}

// The cache of `block` in `cacheFolder`, saved with the real calls, holding the verdicts of
// `tiles` tiles; its file's bytes.
std::string SavedCache(const fs::path& cacheFolder, const fs::path& block, int tiles) {
    VerdictCache cache = VerdictCache::Load(cacheFolder, block, 1);
    for (int i = 0; i < tiles; ++i)
        cache.keep("T" + std::to_string(i) + "/root.osgb",
                   Loads(static_cast<std::uint64_t>(i) + 1));
    EXPECT_TRUE(cache.save().ok());
    return ReadBytes(cache.file());
}

std::size_t EntriesIn(const fs::path& folder) {
    std::size_t count = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

// Each call of a save fails in turn: the save says so with the call's cause, and the cache file
// is the old one, whole, with nothing beside it; only once the new file is in place may a
// failure (of the folder's flush) pass, and then the file is the new one, whole.
TEST(VerdictCacheWrite, AFailedCallLeavesTheOldCacheWhole) {
    TempDir dir;
    const fs::path block = dir / "block";
    const std::string replacement = SavedCache(dir / "reference", block, 3);
    const fs::path cacheFolder = dir / "cache";
    const std::string old = SavedCache(cacheFolder, block, 2);
    const fs::path file = VerdictCacheFileFor(cacheFolder, block);
    ASSERT_NE(old, replacement);

    std::set<std::string> failed;
    for (failing = FailAt(1); failing.failAt < 64; failing = FailAt(failing.failAt + 1)) {
        // Open to reading by others, as earlier versions left it, so that the folder is made
        // private on the way.
        fs::permissions(cacheFolder, fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
        test::WriteText(file, old);
        VerdictCache cache = VerdictCache::Load(cacheFolder, block, 1);
        ASSERT_TRUE(cache.loaded());
        for (int i = 0; i < 3; ++i)
            cache.keep("T" + std::to_string(i) + "/root.osgb",
                       Loads(static_cast<std::uint64_t>(i) + 1));
        const Status saved = cache.save(FailingCalls());
        if (failing.failed.empty()) {
            // No call was left to fail: the sequence is done, and the save went through.
            EXPECT_TRUE(saved.ok()) << saved.error().message();
            EXPECT_EQ(ReadBytes(file), replacement);
            break;
        }
        SCOPED_TRACE(failing.failed);
        failed.insert(failing.failed);
        if (failing.failed == "fsync of the folder") {
            EXPECT_TRUE(saved.ok()) << "the new file is in place";
            EXPECT_EQ(ReadBytes(file), replacement);
        } else {
            ASSERT_FALSE(saved.ok());
            EXPECT_EQ(saved.error(), std::errc::io_error);
            EXPECT_EQ(ReadBytes(file), old);
        }
        EXPECT_EQ(EntriesIn(cacheFolder), 1u) << "nothing half-written is left beside it";
    }
    EXPECT_EQ(failed, (std::set<std::string>{"mkdir", "lstat", "chmod", "access",
                                             "fsync of the file", "rename", "fsync of the folder"}))
        << "every call of the write goes through the calls given";
}

// A save of what was read only renews the file's time and mode; when either call fails, the
// save says so and the file stays as it was.
TEST(VerdictCacheWrite, AFailedRenewalLeavesTheCacheAsItWas) {
    TempDir dir;
    const fs::path block = dir / "block";
    const fs::path cacheFolder = dir / "cache";
    const std::string old = SavedCache(cacheFolder, block, 2);
    const fs::path file = VerdictCacheFileFor(cacheFolder, block);

    std::set<std::string> failed;
    for (failing = FailAt(1); failing.failAt < 16; failing = FailAt(failing.failAt + 1)) {
        VerdictCache cache = VerdictCache::Load(cacheFolder, block, 1);
        ASSERT_TRUE(cache.loaded());
        for (int i = 0; i < 2; ++i)
            cache.keep("T" + std::to_string(i) + "/root.osgb",
                       Loads(static_cast<std::uint64_t>(i) + 1));
        const Status saved = cache.save(FailingCalls());
        EXPECT_EQ(ReadBytes(file), old);
        if (failing.failed.empty()) {
            EXPECT_TRUE(saved.ok()) << saved.error().message();
            break;
        }
        SCOPED_TRACE(failing.failed);
        failed.insert(failing.failed);
        ASSERT_FALSE(saved.ok());
        EXPECT_EQ(saved.error(), std::errc::io_error);
    }
    EXPECT_EQ(failed, (std::set<std::string>{"utimensat", "chmod"}));
}

} // namespace
} // namespace brindle
