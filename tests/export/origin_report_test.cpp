#include "export/origin_report.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace brindle {
namespace {
namespace fs = std::filesystem;

using test::TempDir;
using test::WriteText;

TEST(ParseLeadingNumber, ReadsAsAtofDoes) {
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("  \t512.5 rest"), 512.5);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("-12.25"), -12.25);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("+7"), 7.0);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("1e3m"), 1000.0);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("0x10"), 16.0);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("12,5"), 12.0);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("abc"), 0.0);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber(""), 0.0);
    EXPECT_DOUBLE_EQ(ParseLeadingNumber("- 5"), 0.0);
}

TEST(ParseOriginLine, TakesValuesAtTheirByteOffsets) {
    const auto origin = ParseOriginLine("X: 512.5 Y: 1024.25 Z: 33.1");
    ASSERT_TRUE(origin);
    EXPECT_DOUBLE_EQ(origin->x, 512.5);
    EXPECT_DOUBLE_EQ(origin->y, 1024.25);

    const auto spaced = ParseOriginLine("X = 100 Y = 200");
    ASSERT_TRUE(spaced);
    EXPECT_DOUBLE_EQ(spaced->x, 100.0);
    EXPECT_DOUBLE_EQ(spaced->y, 200.0);

    // A wider label moves the X text into the label itself.
    const auto wide = ParseOriginLine("Easting: 100 Y: 200");
    ASSERT_TRUE(wide);
    EXPECT_DOUBLE_EQ(wide->x, 0.0);
    EXPECT_DOUBLE_EQ(wide->y, 200.0);
}

TEST(ParseOriginLine, KeepsFullPrecision) {
    const auto origin = ParseOriginLine("X: 3400000.3 Y: 12345678.91 Z: 0");
    ASSERT_TRUE(origin);
    EXPECT_EQ(origin->x, 3400000.3);
    EXPECT_EQ(origin->y, 12345678.91);
}

TEST(ParseOriginLine, SearchesBytesNotCharacters) {
    // 0x8D 0x59 is one double-byte character whose second byte is a capital Y.
    const auto origin = ParseOriginLine("X: 7\x8DY: 9 Z");
    ASSERT_TRUE(origin);
    EXPECT_DOUBLE_EQ(origin->x, 7.0);
    EXPECT_DOUBLE_EQ(origin->y, 9.0);
}

TEST(ParseOriginLine, YInsideTheLabelLeavesXRunningToTheEnd) {
    const auto origin = ParseOriginLine("XY 5 Z 6");
    ASSERT_TRUE(origin);
    EXPECT_DOUBLE_EQ(origin->x, 5.0);
    EXPECT_DOUBLE_EQ(origin->y, 0.0); // "Y 5 Z 6" from offset 3: " Z 6" up to the Z: nothing
}

TEST(ParseOriginLine, RejectsLinesWithoutRoomForBothValues) {
    EXPECT_FALSE(ParseOriginLine(""));
    EXPECT_FALSE(ParseOriginLine("X:"));
    EXPECT_FALSE(ParseOriginLine("x: 1 y: 2 z: 3"));
    EXPECT_FALSE(ParseOriginLine("X: 1 Y:"));
    EXPECT_TRUE(ParseOriginLine("X: 1 Y: "));
}

TEST(ReadBlockOrigin, ReadsOnlyTheSecondLine) {
    TempDir dir;
    const auto report = dir / "report.txt";
    WriteText(report, "Block A\r\nX: 10 Y: 20 Z: 30\r\nX: 99 Y: 99 Z: 99\r\n");
    const OriginReading reading = ReadBlockOrigin(report);
    ASSERT_TRUE(reading.origin);
    EXPECT_DOUBLE_EQ(reading.origin->x, 10.0);
    EXPECT_DOUBLE_EQ(reading.origin->y, 20.0);
    EXPECT_FALSE(reading.problem);
}

TEST(ReadBlockOrigin, WarnsAndGivesNoOriginForUnusableReports) {
    TempDir dir;
    const auto oneLine = dir / "one.txt";
    WriteText(oneLine, "X: 10 Y: 20 Z: 30\n");
    const auto lowerCase = dir / "lower.txt";
    WriteText(lowerCase, "title\nx: 1 y: 2 z: 3\n");
    const auto longLine = dir / "long.txt";
    WriteText(longLine, "title\nX: 1 Y: 2 Z: 3" + std::string(100000, ' ') + "\n");
    std::vector<std::pair<fs::path, ProblemKind>> cases = {
        {oneLine, ProblemKind::ReportNoSecondLine},
        {lowerCase, ProblemKind::ReportNoOrigin},
        {longLine, ProblemKind::ReportNoOrigin},
        {dir / "missing.txt", ProblemKind::ReportUnreadable},
        {dir.path(), ProblemKind::ReportNotRegularFile},
    };
#ifndef _WIN32
    // A Windows file system holds no FIFOs, and its devices have no paths of this kind.
    const auto fifo = dir / "fifo.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cases.push_back({fifo, ProblemKind::ReportNotRegularFile}); // must not block for a writer
    cases.push_back({"/dev/zero", ProblemKind::ReportNotRegularFile});
#endif
    for (const auto& [file, kind] : cases) {
        const OriginReading reading = ReadBlockOrigin(file);
        EXPECT_FALSE(reading.origin) << file;
        ASSERT_TRUE(reading.problem) << file;
        EXPECT_EQ(reading.problem->kind, kind) << file;
        EXPECT_EQ(reading.problem->path, file);
    }
    EXPECT_EQ(ReadBlockOrigin(dir / "missing.txt").problem->cause,
              std::errc::no_such_file_or_directory);
}

TEST(ReadBlockOrigin, ReadsNoFurtherThanTheSecondLine) {
    TempDir dir;
    const auto report = dir / "report.txt";
    // A huge file whose first two lines are all that is read; its size costs nothing.
    WriteText(report, "title\nX: 5 Y: 6 Z: 7\n");
    fs::resize_file(report, std::uintmax_t{8} << 30);
    const OriginReading reading = ReadBlockOrigin(report);
    ASSERT_TRUE(reading.origin);
    EXPECT_DOUBLE_EQ(reading.origin->y, 6.0);
}

TEST(ReadBlockOrigin, NeverCreatesOrChangesTheFile) {
    TempDir dir;
    const auto report = dir / "report.txt";
    ReadBlockOrigin(report);
    EXPECT_FALSE(std::filesystem::exists(report));

    // Permission bits would stop nothing for root, so the proof that the file is opened for
    // reading only is a file no one may write: the running test program itself.
#ifdef _WIN32
    std::wstring name(32768, L'\0');
    name.resize(GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size())));
    const fs::path running = name;
#else
    const fs::path running = fs::read_symlink("/proc/self/exe");
#endif
    const OriginReading binary = ReadBlockOrigin(running);
    EXPECT_NE(binary.problem ? binary.problem->kind : ProblemKind::ReportUnreadable,
              ProblemKind::ReportUnreadable)
        << "a file that cannot be opened for writing must still be read";

    const std::string text = "title\nX: 1 Y: 2 Z: 3";
    WriteText(report, text);
    const auto written = fs::last_write_time(report);
    EXPECT_TRUE(ReadBlockOrigin(report).origin);
    EXPECT_EQ(test::ReadBytes(report), text);
    EXPECT_EQ(fs::last_write_time(report), written);
}

} // namespace
} // namespace brindle
