#include "export/origin/origin_report.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>

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

// Number-ish texts: white space, signs, decimal and hexadecimal digits of any length, points,
// exponents from none to far out of range, infinities, NaNs and their near misses, and tails.
class NumberishText {
public:
    explicit NumberishText(std::uint32_t seed) : random_(seed) {}

    std::string next() {
        std::string text = pick({"", "", " ", "\t", "  \t", "\n ", "\v\f\r "});
        text += pick({"", "", "", "+", "-", "-", "+-", "-+", "--", "++", "- "});
        switch (below(6)) {
        case 0:
        case 1:
            text += decimal();
            break;
        case 2:
            text += hexadecimal();
            break;
        case 3:
            text += pick({"inf", "INF", "Infinity", "infinit", "in", "nan", "NaN", "nan(12ab)",
                          "nan(", "nan()", "na", ".", "e5", "0x", "0X.", "0xg", "0x.p1", "0x-1"});
            break;
        default:
            for (std::size_t n = below(12); n > 0; --n)
                text += "0123456789.eEpPxX+-abcdfFinatyINATY() \t"[below(40)];
            break;
        }
        text += pick({"", "", " ", "m", "Y", ",5", "e", "e+", "x", "p", ".5", "abc"});
        return text;
    }

private:
    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
    }

    const char* pick(std::initializer_list<const char*> choices) {
        return choices.begin()[below(choices.size())];
    }

    std::string digits(const char* alphabet, std::size_t base) {
        // Mostly short runs; now and then hundreds of digits, past any double's precision.
        const std::size_t length = below(10) == 0 ? below(800) : below(12);
        std::string run;
        for (std::size_t i = 0; i < length; ++i)
            run += below(4) == 0 ? '0' : alphabet[below(base)];
        return run;
    }

    std::string exponent(const char* marks) {
        if (below(3) == 0)
            return "";
        std::string text(1, marks[below(2)]);
        text += pick({"", "", "+", "-"});
        text += pick({"", "0", "1", "2", "7", "17", "38", "300", "308", "309", "320", "324", "330",
                      "1022", "1074", "1075", "5000", "99999999999999999999"});
        return text;
    }

    std::string decimal() {
        std::string text = digits("0123456789", 10);
        if (below(2) == 0)
            text += '.' + digits("0123456789", 10);
        return text + exponent("eE");
    }

    std::string hexadecimal() {
        std::string text = pick({"0x", "0X"});
        text += digits("0123456789abcdefABCDEF", 22);
        if (below(2) == 0)
            text += '.' + digits("0123456789abcdefABCDEF", 22);
        return text + exponent("pP");
    }

    std::mt19937 random_;
};

// The same double, bit for bit; any NaN matches a NaN of the same sign.
bool SameDouble(double a, double b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What the C library reads at the start of `text`: the value, and whether it read anything.
std::pair<double, bool> CLibraryReads(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    EXPECT_TRUE(SameDouble(value, std::atof(text.c_str())));
    return {value, end != text.c_str()};
}

// The parser is the same code everywhere; the oracle is a C library that reads numbers as C99
// says. MinGW's does not (its atof and strtod disagree, and "-x" gives -0 where C99 gives 0).
#ifdef _WIN32
#define SKIP_WITHOUT_C99_ORACLE() GTEST_SKIP() << "this C library's strtod is not C99's"
#else
#define SKIP_WITHOUT_C99_ORACLE() static_cast<void>(0)
#endif

TEST(ParseLeadingNumber, ReadsGeneratedTextsAsAtofDoes) {
    SKIP_WITHOUT_C99_ORACLE();
    NumberishText texts(20240611);
    for (int i = 0; i < 20000; ++i) {
        const std::string text = texts.next();
        const auto [value, read] = CLibraryReads(text);
        const std::optional<double> ours = ReadLeadingNumber(text);
        EXPECT_EQ(ours.has_value(), read) << '"' << text << '"';
        EXPECT_TRUE(SameDouble(ParseLeadingNumber(text), value))
            << '"' << text << "\": " << ParseLeadingNumber(text) << " where atof gives " << value;
    }
}

TEST(ParseOriginLine, ReadsGeneratedLinesAsAtofReadsTheirFields) {
    SKIP_WITHOUT_C99_ORACLE();
    NumberishText texts(7);
    std::mt19937 random(11);
    const char* const labels[] = {"X: ", "X= ", "X:", "X", "Eas", "X :  "};
    for (int i = 0; i < 5000; ++i) {
        std::string x = texts.next(), y = texts.next();
        // The fields' own texts hold no capital Y or Z, so the markers are the ones placed.
        for (std::string* field : {&x, &y})
            for (char& c : *field)
                if (c == 'Y' || c == 'Z')
                    c = 'y';
        const std::string line = labels[random() % 6] + x + " Y" + labels[random() % 6] + y +
                                 (random() % 2 ? " Z: 12" : "");
        const std::size_t yAt = line.find('Y');
        const std::string xText = line.substr(3, yAt - 3);
        const std::string yPart = line.substr(yAt);
        const std::size_t zAt = yPart.find('Z');
        const std::string yText =
            zAt == std::string::npos ? yPart.substr(3) : yPart.substr(3, zAt - 3);
        const auto [xValue, xRead] = CLibraryReads(xText);
        const auto [yValue, yRead] = CLibraryReads(yText);

        const std::optional<BlockOrigin> origin = ParseOriginLine(line);
        ASSERT_EQ(origin.has_value(), xRead && yRead) << '"' << line << '"';
        if (origin) {
            EXPECT_TRUE(SameDouble(origin->x, xValue)) << '"' << line << '"';
            EXPECT_TRUE(SameDouble(origin->y, yValue)) << '"' << line << '"';
        }
    }
}

TEST(ParseLeadingNumber, GivesZeroWhereNoNumberStarts) {
    for (const char* text : {"", "abc", "- 5", "+-5", ".", "e5", "Y: 5"}) {
        EXPECT_FALSE(ReadLeadingNumber(text)) << text;
        EXPECT_EQ(ParseLeadingNumber(text), 0.0) << text;
    }
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

    // A wider label moves the X text into the label itself, where no number starts.
    EXPECT_FALSE(ParseOriginLine("Easting: 100 Y: 200"));
}

TEST(ParseOriginLine, ReadsFullWidthColonsAsAChineseInputMethodTypesThem) {
    const std::pair<const char*, const char*> lines[] = {
        {"UTF-8", "X\xEF\xBC\x9A"
                  "512345.6 Y\xEF\xBC\x9A"
                  "3400000.3 Z\xEF\xBC\x9A"
                  "0"},
        {"UTF-8, spaced", "X\xEF\xBC\x9A 512345.6 Y\xEF\xBC\x9A 3400000.3"},
        {"GBK", "X\xA3\xBA"
                "512345.6 Y\xA3\xBA"
                "3400000.3 Z\xA3\xBA"
                "0"},
        {"GBK, spaced", "X\xA3\xBA 512345.6 Y\xA3\xBA 3400000.3"},
    };
    for (const auto& [name, line] : lines) {
        const std::optional<BlockOrigin> origin = ParseOriginLine(line);
        ASSERT_TRUE(origin) << name;
        EXPECT_EQ(origin->x, 512345.6) << name;
        EXPECT_EQ(origin->y, 3400000.3) << name;
    }
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
    const auto origin = ParseOriginLine("XY: 5 Z 6");
    ASSERT_TRUE(origin);
    EXPECT_DOUBLE_EQ(origin->x, 5.0); // " 5 Z 6", read to the end of the line
    EXPECT_DOUBLE_EQ(origin->y, 5.0); // "Y: 5 Z 6" from offset 3 up to the Z: "5 "
}

TEST(ParseOriginLine, RejectsLinesWithoutBothValues) {
    EXPECT_FALSE(ParseOriginLine(""));
    EXPECT_FALSE(ParseOriginLine("X:"));
    EXPECT_FALSE(ParseOriginLine("x: 1 y: 2 z: 3"));
    EXPECT_FALSE(ParseOriginLine("X: 1 Y:"));
    EXPECT_FALSE(ParseOriginLine("X: 1 Y: "));
    EXPECT_FALSE(ParseOriginLine("X: abc Y: 2"));
    EXPECT_FALSE(ParseOriginLine("X: 1 Y: Z: 3"));
    // A line written as UTF-16 and read byte by byte: no number where the X text starts.
    EXPECT_FALSE(ParseOriginLine(std::string("X\0:\0 \0"
                                             "1\0 \0Y\0:\0 \0"
                                             "2\0",
                                             18)));
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

// The bytes of `text` (ASCII, or the full-width colon) as UTF-16 with its byte-order mark.
std::string Utf16(const std::string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned code = static_cast<unsigned char>(text[i]);
        if (text.compare(i, 3, "\xEF\xBC\x9A") == 0) {
            code = 0xFF1A;
            i += 2;
        }
        const char high = static_cast<char>(code >> 8), low = static_cast<char>(code & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST(ReadBlockOrigin, ReadsReportsAsWindowsEditorsSaveThem) {
    const std::string origin = "X: 512345.6 Y: 3400000.3 Z: 12";
    const std::string fullWidth = "X\xEF\xBC\x9A"
                                  "512345.6 Y\xEF\xBC\x9A"
                                  "3400000.3 Z\xEF\xBC\x9A"
                                  "12";
    const std::pair<const char*, std::string> files[] = {
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF"
                                         "\xE6\xB5\x8B\xE5\x8C\xBA\r\n" +
                                             origin + "\r\n"},
        {"byte-order mark, empty line 1", "\xEF\xBB\xBF\r\n" + origin},
        {"old Mac line ends", "title\r" + origin + "\r"},
        {"byte-order mark and old Mac line ends", "\xEF\xBB\xBFtitle\r" + origin + "\rmore\r"},
        {"first byte like a mark's", "\xEFtitle\n" + origin},
        {"full-width colons", "\xEF\xBB\xBFtitle\r\n" + fullWidth + "\r\n"},
        {"GBK full-width colons", "\xB2\xE2\xC7\xF8\r\nX\xA3\xBA"
                                  "512345.6 Y\xA3\xBA"
                                  "3400000.3\r\n"},
        {"UTF-16, little-endian", Utf16("title\r\n" + fullWidth + "\r\n", false)},
        {"UTF-16, big-endian", Utf16("title\r\n" + origin + "\r\n", true)},
    };
    TempDir dir;
    for (const auto& [name, bytes] : files) {
        const fs::path report = dir / "report.txt";
        WriteText(report, bytes);
        const OriginReading reading = ReadBlockOrigin(report);
        ASSERT_TRUE(reading.origin)
            << name << ": " << (reading.problem ? int(reading.problem->kind) : -1);
        EXPECT_EQ(reading.origin->x, 512345.6) << name;
        EXPECT_EQ(reading.origin->y, 3400000.3) << name;
        EXPECT_FALSE(reading.problem) << name;
    }
}

TEST(ReadBlockOrigin, WarnsWhereLineTwoGivesNoUsableNumber) {
    const std::pair<const char*, ProblemKind> lines[] = {
        {"X: abc Y: 2", ProblemKind::ReportNoOrigin},
        {"X: 1 Y: none", ProblemKind::ReportNoOrigin},
        {"Easting: 1 Y: 2", ProblemKind::ReportNoOrigin},
        {"X: 1e999 Y: 2", ProblemKind::ReportOriginNotFinite},
        {"X: 1 Y: -inf", ProblemKind::ReportOriginNotFinite},
        {"X: nan Y: 2", ProblemKind::ReportOriginNotFinite},
    };
    TempDir dir;
    for (const auto& [line, kind] : lines) {
        const fs::path report = dir / "report.txt";
        WriteText(report, std::string("title\n") + line + "\n");
        const OriginReading reading = ReadBlockOrigin(report);
        EXPECT_FALSE(reading.origin) << line;
        ASSERT_TRUE(reading.problem) << line;
        EXPECT_EQ(reading.problem->kind, kind) << line;
        EXPECT_EQ(reading.problem->path, report) << line;
    }
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
    // Whatever its bytes happen to hold (an origin, even), it must have been read.
    EXPECT_TRUE(binary.origin ||
                (binary.problem && binary.problem->kind != ProblemKind::ReportUnreadable))
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
