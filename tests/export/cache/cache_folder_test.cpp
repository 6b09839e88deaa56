#include "export/cache/cache_folder.h"
#include "export/cache/verdict_cache.h"
#include "export/export_run.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

mode_t ModeOf(const fs::path& path) {
    struct stat seen {};
    EXPECT_EQ(::lstat(path.c_str(), &seen), 0) << path;
    return seen.st_mode & 07777;
}

// Sets the process's umask for a test's length, and puts the old one back.
class Umask {
public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    ~Umask() { ::umask(old_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

private:
    mode_t old_;
};

CacheEntry LoadsVerdict(const fs::path& file) {
    CacheEntry verdicts;
    verdicts.file = LookAt(file, Look::WithIdentity).value_or({});
    verdicts.tile = KeptTileOutcome{};
    verdicts.tile->loads = true;
    return verdicts;
}

// The cache holds the user's paths and tile names: nobody else may read it, from its first
// moment on, however open the user's umask.
TEST(VerdictCacheFolder, IsTheUsersAloneFromItsCreation) {
    TempDir dir;
    const Umask open(0);
    const fs::path folder = dir / "xdg" / "brindle";
    const Result<CacheFolderTrust> made = PrepareVerdictCacheFolder(folder);
    ASSERT_TRUE(made) << made.error().message();
    ASSERT_EQ(*made, CacheFolderTrust::Usable);
    EXPECT_EQ(ModeOf(folder), 0700u);

    test::WriteText(dir / "tile.osgb", "bytes");
    VerdictCache cache = VerdictCache::Load(folder, dir / "block", 1);
    cache.keep("T/root.osgb", LoadsVerdict(dir / "tile.osgb"));
    ASSERT_TRUE(cache.save().ok());
    EXPECT_EQ(ModeOf(cache.file()), 0600u);

    // A cache folder and file an earlier version left readable by others are made private.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(cache.file(), fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(PrepareVerdictCacheFolder(folder).value_or({}), CacheFolderTrust::Usable);
    EXPECT_EQ(ModeOf(folder), 0700u);
    VerdictCache again = VerdictCache::Load(folder, dir / "block", 1);
    ASSERT_TRUE(again.loaded());
    again.keep("T/root.osgb", LoadsVerdict(dir / "tile.osgb"));
    ASSERT_TRUE(again.save().ok());
    EXPECT_EQ(ModeOf(again.file()), 0600u);
}

// A folder someone else could have prepared is never trusted, nor written into.
TEST(VerdictCacheFolder, OneOthersCouldHavePreparedIsNotUsed) {
    TempDir dir;
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "link");
    EXPECT_EQ(PrepareVerdictCacheFolder(dir / "link").value_or({}), CacheFolderTrust::IsLink);

    fs::create_directories(dir / "open");
    fs::permissions(dir / "open", fs::perms::all);
    EXPECT_EQ(PrepareVerdictCacheFolder(dir / "open").value_or({}), CacheFolderTrust::OpenToOthers);
    EXPECT_EQ(ModeOf(dir / "open"), 0777u) << "someone else's choice is not changed";

    test::WriteText(dir / "file", "x");
    const Result<CacheFolderTrust> underFile = PrepareVerdictCacheFolder(dir / "file" / "brindle");
    EXPECT_FALSE(underFile);
    EXPECT_TRUE(underFile.error());

    // Saving looks again: a cache whose folder became a link since it was loaded writes nothing.
    test::WriteText(dir / "tile.osgb", "bytes");
    VerdictCache cache = VerdictCache::Load(dir / "link", dir / "block", 1);
    cache.keep("T/root.osgb", LoadsVerdict(dir / "tile.osgb"));
    EXPECT_FALSE(cache.save());
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    fs::create_directories(dir / "theirs");
    fs::permissions(dir / "theirs", fs::perms::owner_all);
    ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
    EXPECT_EQ(PrepareVerdictCacheFolder(dir / "theirs").value_or({}), CacheFolderTrust::NotOwned);
}

// The run says once why its cache was not used or not written, and still exports.
TEST(VerdictCacheFolder, TheRunWarnsOnceWhenItCannotUseOrWriteTheCache) {
    TempDir dir;
    test::WriteTile(dir / "one" / "A");
    test::WriteTile(dir / "two" / "B");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "link");
    ExportOptions options;
    options.verdictCache = dir / "link";
    ExportReport report = ExportFolderIndexes({dir / "one", dir / "two"}, options);
    ASSERT_TRUE(report.succeeded());
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_EQ(report.warnings[0].kind, ProblemKind::CacheFolderIsLink);
    EXPECT_EQ(report.warnings[0].path, dir / "link");
    EXPECT_FALSE(report.spotless());
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));

    // A cache folder that turns into a link while the run goes on: its files are not written,
    // and the run says so, once, naming the file it could not write.
    const fs::path cacheFolder = dir / "cache";
    std::atomic<bool> swapped{false};
    options.verdictCache = cacheFolder;
    ExportCalls calls;
    calls.folderDone = [&](const FolderReport&) {
        if (swapped.exchange(true))
            return;
        fs::rename(cacheFolder, dir / "moved");
        fs::create_directory_symlink(dir / "elsewhere", cacheFolder);
    };
    test::WriteTile(dir / "three" / "C");
    report = ExportFolderIndexes({dir / "one", dir / "two", dir / "three"}, options, calls);
    ASSERT_TRUE(report.succeeded());
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_EQ(report.warnings[0].kind, ProblemKind::CacheNotWritten);
    EXPECT_EQ(report.warnings[0].path.parent_path(), cacheFolder);
    EXPECT_TRUE(report.warnings[0].cause);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

} // namespace
} // namespace brindle
