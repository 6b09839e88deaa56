#include "export/fs/atomic_file.h"
#include "export/index/index_writer.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <osg/Group>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
std::atomic<int> umaskCalls{0};
} // namespace

// Every umask call in this program, the writer's included, comes here and is counted: reading
// the umask means setting it for the whole process, so the writer must never call it.
extern "C" mode_t umask(mode_t mask) noexcept {
    ++umaskCalls;
    return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace brindle {
namespace {
namespace fs = std::filesystem;

using test::ReadBytes;
using test::TempDir;
using test::WriteText;

mode_t ModeOf(const fs::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
    return st.st_mode & 07777;
}

// Sets the umask for one test and puts the old one back.
class UmaskFor {
public:
    explicit UmaskFor(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskFor() { ::umask(old_); }
    UmaskFor(const UmaskFor&) = delete;
    UmaskFor& operator=(const UmaskFor&) = delete;

private:
    mode_t old_;
};

bool HoldsOnly(const fs::path& folder, const std::string& name) {
    int count = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        ++count;
        if (entry.path().filename() != name)
            return false;
    }
    return count == 1;
}

int FailOnFolders(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}

int FailOnFiles(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}

int FailToRename(const char*, const char*) {
    errno = EXDEV;
    return -1;
}

TEST(ReplaceFileAtomically, GivesPermissionBitsWithoutTouchingTheUmask) {
    TempDir dir;
    const UmaskFor mask(027);
    const int before = umaskCalls;
    ASSERT_TRUE(ReplaceFileAtomically(dir / "new.osgb", "new").ok());
    EXPECT_EQ(ModeOf(dir / "new.osgb"), 0640u) << "a new file gets 0666 less the umask";

    WriteText(dir / "old.osgb", "old");
    ASSERT_EQ(::chmod((dir / "old.osgb").c_str(), 0604), 0);
    ASSERT_TRUE(ReplaceFileAtomically(dir / "old.osgb", "replaced").ok());
    EXPECT_EQ(ModeOf(dir / "old.osgb"), 0604u) << "a replaced file keeps its bits";
    EXPECT_EQ(ReadBytes(dir / "old.osgb"), "replaced");

    EXPECT_EQ(umaskCalls - before, 0)
        << "the umask is the whole process's: setting it, even to read it, changes the bits "
           "of files other threads create meanwhile";
}

TEST(ReplaceFileAtomically, FailedFolderFlushLeavesTheNewFileInPlace) {
    TempDir dir;
    WriteText(dir / "root.osgb", "old");
    AtomicFileCalls calls = SystemFileCalls();
    calls.fsync = FailOnFolders;
    const Result<FileReplaced> replaced = ReplaceFileAtomically(dir / "root.osgb", "new", calls);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->notFlushed, std::errc::io_error);
    EXPECT_EQ(ReadBytes(dir / "root.osgb"), "new");
    EXPECT_TRUE(HoldsOnly(dir.path(), "root.osgb"));
}

TEST(ReplaceFileAtomically, FailureBeforeTheRenameKeepsTheOldFile) {
    struct Case {
        const char* name;
        int (*fsync)(int);
        int (*rename)(const char*, const char*);
        std::errc error;
    };
    const Case cases[] = {
        {"file flush", FailOnFiles, ::rename, std::errc::io_error},
        {"rename", ::fsync, FailToRename, std::errc::cross_device_link},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteText(dir / "root.osgb", "old");
        AtomicFileCalls calls = SystemFileCalls();
        calls.fsync = c.fsync;
        calls.rename = c.rename;
        const Result<FileReplaced> replaced =
            ReplaceFileAtomically(dir / "root.osgb", "new", calls);
        EXPECT_EQ(replaced.error(), c.error) << c.name;
        EXPECT_FALSE(replaced) << c.name;
        EXPECT_EQ(ReadBytes(dir / "root.osgb"), "old") << c.name;
        EXPECT_TRUE(HoldsOnly(dir.path(), "root.osgb")) << c.name << ": a temporary was left";
    }
}

TEST(WriteIndexFile, AnUnflushedFolderIsAWarningNotAFailure) {
    TempDir dir;
    const fs::path index = dir / "root.osgb";
    const osg::ref_ptr<osg::Group> node = new osg::Group;
    AtomicFileCalls calls = SystemFileCalls();
    calls.fsync = FailOnFolders;
    const IndexWrite write = WriteIndexFile(*node, index, calls);
    EXPECT_FALSE(write.error);
    ASSERT_TRUE(write.warning);
    EXPECT_EQ(write.warning->kind, ProblemKind::IndexNotFlushed);
    EXPECT_EQ(write.warning->path, index);
    EXPECT_EQ(write.warning->cause, std::errc::io_error);
    EXPECT_TRUE(test::ReadIndex(index).loaded);

    // Another index: the same bytes would be left in place without a rename.
    node->setName("another");
    calls.rename = FailToRename;
    const IndexWrite failed = WriteIndexFile(*node, index, calls);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->kind, ProblemKind::WriteFailed);
    EXPECT_FALSE(failed.warning);
}

int FailAlways(int) {
    errno = EIO;
    return -1;
}

struct stat StatOf(const fs::path& file) {
    struct stat st {};
    EXPECT_EQ(::lstat(file.c_str(), &st), 0) << file;
    return st;
}

bool SameStamps(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// An index that holds the bytes already is left untouched: no flush, no rename, the same
// file with the same times; any other file in its place is replaced as before.
TEST(WriteIndexFile, LeavesAnIdenticalIndexInPlace) {
    TempDir dir;
    const fs::path index = dir / "root.osgb";
    const osg::ref_ptr<osg::Group> node = new osg::Group;
    node->setName("block");
    ASSERT_FALSE(WriteIndexFile(*node, index).error);
    const struct stat before = StatOf(index);

    AtomicFileCalls failing = SystemFileCalls();
    failing.fsync = FailAlways;
    failing.rename = FailToRename;
    const IndexWrite again = WriteIndexFile(*node, index, failing);
    EXPECT_FALSE(again.error);
    EXPECT_FALSE(again.warning);
    EXPECT_TRUE(again.alreadyInPlace);
    EXPECT_TRUE(SameStamps(before, StatOf(index)));
    EXPECT_EQ(again.placed.inode, static_cast<std::uint64_t>(before.st_ino));
    EXPECT_EQ(again.placed.type, fs::file_type::regular);
    EXPECT_TRUE(HoldsOnly(dir.path(), "root.osgb"));

    // A different index, and one of the same size that differs in a byte, are written.
    const std::string bytes = ReadBytes(index);
    std::string flipped = bytes;
    flipped.back() = static_cast<char>(flipped.back() ^ 1);
    WriteText(index, flipped);
    const IndexWrite sameSize = WriteIndexFile(*node, index);
    EXPECT_FALSE(sameSize.alreadyInPlace);
    EXPECT_EQ(ReadBytes(index), bytes);
    node->setName("other block");
    const struct stat old = StatOf(index);
    const IndexWrite changed = WriteIndexFile(*node, index);
    EXPECT_FALSE(changed.error);
    EXPECT_FALSE(changed.alreadyInPlace);
    EXPECT_NE(StatOf(index).st_ino, old.st_ino);
    EXPECT_EQ(changed.placed.inode, static_cast<std::uint64_t>(StatOf(index).st_ino));
}

// A link to a file that holds the bytes is replaced by the index itself, as it always was.
TEST(WriteIndexFile, ReplacesALinkToAnIdenticalIndex) {
    TempDir dir;
    const osg::ref_ptr<osg::Group> node = new osg::Group;
    ASSERT_FALSE(WriteIndexFile(*node, dir / "elsewhere.osgb").error);
    const fs::path index = dir / "root.osgb";
    fs::create_symlink("elsewhere.osgb", index);
    const IndexWrite write = WriteIndexFile(*node, index);
    EXPECT_FALSE(write.error);
    EXPECT_FALSE(write.alreadyInPlace);
    EXPECT_FALSE(fs::is_symlink(index));
    EXPECT_EQ(ReadBytes(index), ReadBytes(dir / "elsewhere.osgb"));
}

} // namespace
} // namespace brindle
