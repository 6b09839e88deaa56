#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Outcome RunExport(const TempDir& dir, const std::vector<std::string>& arguments) {
    std::string command = Quote(BRINDLE_EXPORT_BIN);
    for (const std::string& argument : arguments)
        command += " " + Quote(argument);
    const fs::path err = dir / "stderr.txt";
    command += " 2>" + Quote(err.string());
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        outcome.out.append(buffer, n);
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.err = test::ReadBytes(err);
    return outcome;
}

TEST(BrindleExport, ReportsEachFolderAndSucceeds) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    test::WriteTile(dir / "block" / "C");
    fs::create_directories(dir / "block" / "B");
    test::WriteText(dir / "block" / "report.txt", "t\nX: 10.5 Y: 20 Z: 1\n");

    const Outcome outcome = RunExport(dir, {"-j", "2", (dir / "block").string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("wrote " + (dir / "block" / "root.osgb").string()),
              std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.out.find("2 entries"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("(10.500, 20.000, 0.000)"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("B (no root.osgb)"), std::string::npos) << outcome.out;
    EXPECT_TRUE(outcome.err.empty()) << outcome.err;
    EXPECT_EQ(test::ReadIndex(dir / "block" / "root.osgb").entries.size(), 2u);
}

TEST(BrindleExport, AFailedFolderExitsOneAndTheOthersAreStillWritten) {
    TempDir dir;
    test::WriteTile(dir / "good" / "A");
    const Outcome outcome =
        RunExport(dir, {"-q", (dir / "absent").string(), (dir / "good").string()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find((dir / "absent").string()), std::string::npos) << outcome.err;
    EXPECT_TRUE(outcome.out.empty()) << "quiet prints errors only: " << outcome.out;
    EXPECT_TRUE(fs::exists(dir / "good" / "root.osgb"));
}

TEST(BrindleExport, DryRunWritesNothing) {
    TempDir dir;
    test::WriteTile(dir / "block" / "A");
    const Outcome outcome = RunExport(dir, {"--dry-run", (dir / "block").string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("would write"), std::string::npos) << outcome.out;
    EXPECT_FALSE(fs::exists(dir / "block" / "root.osgb"));
}

TEST(BrindleExport, UsageErrorsExitTwo) {
    TempDir dir;
    EXPECT_EQ(RunExport(dir, {}).status, 2);
    EXPECT_EQ(RunExport(dir, {"--jobs", "0", dir.path().string()}).status, 2);
    EXPECT_EQ(RunExport(dir, {"--no-such-option", dir.path().string()}).status, 2);
    EXPECT_FALSE(fs::exists(dir / "root.osgb"));
    const Outcome help = RunExport(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--dry-run"), std::string::npos);
    EXPECT_EQ(RunExport(dir, {"--version"}).status, 0);
}

} // namespace
} // namespace brindle
