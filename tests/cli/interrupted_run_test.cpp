// A run stopped mid-way: by a signal, a second interrupt, or the end of the pipe it writes to,
// while it certainly is still in its first folder.
#include "tests/cli/export_runner.h"
#include "tests/cli/report_fixtures.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <tuple>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::Contains;
using test::RunExport;
using test::TempDir;

// A pipe the program's output cannot fit into: the program blocks inside the first folder's
// report until the test reads it, which gives the tests below a point where the run is
// certainly still in its first folder, without any assumption about timing.
class BlockedOutputRun : public ::testing::Test {
protected:
    void SetUp() override {
        // The first folder: one tile, and enough left-out subfolders with long names that
        // their lines overflow the pipe (shrunk to one page) many times over.
        test::WriteTile(dir_ / "first" / "A");
        for (int i = 0; i < 300; ++i)
            fs::create_directories(dir_ / "first" / (std::string(200, 'x') + std::to_string(i)));
        test::WriteTile(dir_ / "second" / "A");
        test::WriteTile(dir_ / "second" / "B");
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (const int fd : {out_, err_})
            if (fd >= 0)
                close(fd);
    }

    void start(const std::vector<std::string>& options, const char* language = "") {
        int out[2], err[2];
        ASSERT_EQ(pipe(out), 0);
        ASSERT_EQ(pipe(err), 0);
        fcntl(out[0], F_SETPIPE_SZ, 4096);
        std::vector<std::string> arguments{BRINDLE_EXPORT_BIN};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back((dir_ / "first").string());
        arguments.push_back((dir_ / "second").string());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            for (const int fd : {out[0], out[1], err[0], err[1]})
                close(fd);
            setenv("LC_ALL", "C", 1);
            setenv("BRINDLE_LANG", language, 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    // Reads one line byte by byte, so that no more of the pipe is drained than the line.
    static std::string readLine(int fd) {
        std::string line;
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    static std::string readAll(int fd) {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

    // Reads stderr until `part` has appeared; what was read is kept for later checks.
    void awaitOnStderr(const std::string& part) {
        while (!Contains(errText_, part)) {
            char c;
            if (read(err_, &c, 1) != 1)
                break;
            errText_ += c;
        }
    }

    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

    bool tempFilesLeft() const {
        for (const auto& entry : fs::recursive_directory_iterator(dir_.path()))
            if (Contains(entry.path().filename().string(), ".tmp"))
                return true;
        return false;
    }

    TempDir dir_;
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string errText_;
};

TEST_F(BlockedOutputRun, EachFolderIsPrintedAsSoonAsItIsDone) {
    start({"--progress=none"});
    const std::string firstLine = readLine(out_);
    EXPECT_EQ(firstLine.rfind("wrote " + (dir_ / "first" / "root.osgb").string(), 0), 0u)
        << firstLine;
    EXPECT_TRUE(fs::exists(dir_ / "first" / "root.osgb"));
    EXPECT_FALSE(fs::exists(dir_ / "second" / "root.osgb"))
        << "the first folder's line came only after the second folder was written";

    const std::string rest = readAll(out_);
    EXPECT_TRUE(WIFEXITED(wait()));
    EXPECT_TRUE(Contains(rest, "wrote " + (dir_ / "second" / "root.osgb").string() + ": 2 entries"))
        << "lines in list order";
    EXPECT_LT(rest.find("  xxx"), rest.find("wrote "));
}

TEST_F(BlockedOutputRun, ASignalStopsTheRunAndKeepsTheUnfinishedFolderAsItWas) {
    for (const auto& [signal, status, word] :
         {std::tuple{SIGINT, 130, "interrupted"}, std::tuple{SIGTERM, 143, "terminated"}}) {
        SCOPED_TRACE(word);
        // The second folder holds an index from an earlier run, over one tile fewer.
        fs::remove_all(dir_ / "first" / "root.osgb");
        fs::remove_all(dir_ / "second" / "root.osgb");
        fs::rename(dir_ / "second" / "B", dir_ / "B");
        ASSERT_EQ(RunExport(dir_, {(dir_ / "second").string()}).status, 0);
        fs::rename(dir_ / "B", dir_ / "second" / "B");
        const std::string oldIndex = test::ReadBytes(dir_ / "second" / "root.osgb");
        errText_.clear();

        start({"--progress=none"});
        readLine(out_);
        kill(pid_, signal);
        awaitOnStderr("stopping");
        readAll(out_);
        const int exit = wait();
        ASSERT_TRUE(WIFEXITED(exit));
        EXPECT_EQ(WEXITSTATUS(exit), status);
        errText_ += readAll(err_);
        EXPECT_TRUE(Contains(errText_, std::string("brindle-export: ") + word +
                                           "; 1 folder written, the others keep their old index"))
            << errText_;
        EXPECT_TRUE(fs::exists(dir_ / "first" / "root.osgb"));
        EXPECT_EQ(test::ReadBytes(dir_ / "second" / "root.osgb"), oldIndex);
        EXPECT_FALSE(tempFilesLeft());
        close(out_);
        close(err_);
        out_ = err_ = -1;
    }
}

// What the first Ctrl-C says at once, and what the end of the run says, in the user's language.
TEST_F(BlockedOutputRun, AChineseUserIsToldOfTheStopInChinese) {
    start({"--progress=none"}, "zh");
    readLine(out_);
    kill(pid_, SIGINT);
    // The line comes whole, between two line ends, in whichever language.
    awaitOnStderr("\nbrindle-export: ");
    for (char c = 0; errText_.back() != '\n' && read(err_, &c, 1) == 1;)
        errText_ += c;
    readAll(out_);
    const int exit = wait();
    ASSERT_TRUE(WIFEXITED(exit));
    EXPECT_EQ(WEXITSTATUS(exit), 130);
    errText_ += readAll(err_);
    EXPECT_TRUE(Contains(errText_, "brindle-export: 处理完手头的瓦片后停止；再次中断即立刻停止\n"))
        << errText_;
    EXPECT_FALSE(Contains(errText_, "stopping")) << errText_;
    EXPECT_TRUE(Contains(errText_, "brindle-export: 已中断；已写入 1 个目录，其余目录保留原有索引"))
        << errText_;
}

TEST_F(BlockedOutputRun, ASecondInterruptEndsTheProgramAtOnce) {
    start({"--progress=none"});
    readLine(out_);
    kill(pid_, SIGINT);
    awaitOnStderr("stopping");
    kill(pid_, SIGINT); // while the program still waits on its output
    const int exit = wait();
    ASSERT_TRUE(WIFSIGNALED(exit));
    EXPECT_EQ(WTERMSIG(exit), SIGINT);
    EXPECT_FALSE(fs::exists(dir_ / "second" / "root.osgb"));
}

TEST_F(BlockedOutputRun, AClosedPipeEndsTheRunQuietly) {
    start({"--progress=none"});
    readLine(out_);
    close(out_); // as `| head -1` does
    out_ = -1;
    const int exit = wait();
    ASSERT_TRUE(WIFEXITED(exit));
    EXPECT_EQ(WEXITSTATUS(exit), 141);
    EXPECT_EQ(readAll(err_), "");
    EXPECT_FALSE(fs::exists(dir_ / "second" / "root.osgb")) << "the run stops with its output";
}

} // namespace
} // namespace brindle
