// The run's scratch files: read back as written, and gone with the process, however it ends.
#include "export/fs/scratch_file.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

std::size_t EntriesIn(const fs::path& folder) {
    std::size_t count = 0;
    for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it)
        ++count;
    return count;
}

// What is appended reads back at its offsets, a read past the end is an error, and the folder
// never shows the file to anyone (on Windows it holds it only while it is open).
TEST(ScratchFile, ReadsBackWhatWasAppendedAndLeavesNothingBehind) {
    TempDir dir;
    {
        Result<std::unique_ptr<ScratchFile>> made = ScratchFile::Create(dir.path());
        ASSERT_TRUE(made);
        ScratchFile& file = **made;
        const std::string first(100'000, 'a'), second = "the second record";
        ASSERT_TRUE(file.append(first));
        ASSERT_TRUE(file.append(second));
        std::string back(second.size(), '\0');
        ASSERT_TRUE(file.readAt(first.size(), back.data(), back.size()));
        EXPECT_EQ(back, second);
        back.assign(10, '\0');
        ASSERT_TRUE(file.readAt(99'995, back.data(), back.size()));
        EXPECT_EQ(back, "aaaaathe s");
        EXPECT_FALSE(file.readAt(first.size() + 1, back.data(), second.size()));
#ifndef _WIN32
        EXPECT_EQ(EntriesIn(dir.path()), 0u);
#endif
    }
    EXPECT_EQ(EntriesIn(dir.path()), 0u);
    EXPECT_FALSE(ScratchFile::Create(dir / "missing"));
}

#ifndef _WIN32
// A process killed while it writes its scratch leaves nothing for a later run to clear.
TEST(ScratchFile, AKilledProcessLeavesNothing) {
    TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Result<std::unique_ptr<ScratchFile>> made = ScratchFile::Create(dir.path());
        if (made && (*made)->append(std::string(1 << 20, 'x')))
            ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(EntriesIn(dir.path()), 0u);
}
#endif

} // namespace
} // namespace brindle
