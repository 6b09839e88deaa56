#include "export/origin/origin_report.h"

#include "export/fs/regular_file.h"
#include "export/fs/utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

namespace brindle {
namespace {

constexpr std::size_t kLabelWidth = 3;

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "0x" counts as a hexadecimal prefix only when hexadecimal digits follow; otherwise atof
// reads the "0" and stops at the "x".
bool StartsWithHexNumber(std::string_view text) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    return IsHexDigit(text[2]) || (text[2] == '.' && text.size() > 3 && IsHexDigit(text[3]));
}

// Whether a number that from_chars found out of range lies above the range (atof: infinity)
// rather than below it (atof: zero). Out of range is hundreds of decimal places either side
// of 1, so where the first significant digit stands, plus the exponent, tells which.
bool AboveRange(std::string_view number, bool hex) {
    const std::size_t mark = number.find_first_of(hex ? "pP" : "eE");
    long long exponent = 0;
    if (mark != std::string_view::npos) {
        std::string_view text = number.substr(mark + 1);
        bool negative = false;
        if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
            negative = text[0] == '-';
            text.remove_prefix(1);
        }
        constexpr long long kCap = 1'000'000'000'000;
        for (const char c : text) {
            if (!IsDigit(c))
                break;
            exponent = std::min(exponent * 10 + (c - '0'), kCap);
        }
        if (negative)
            exponent = -exponent;
    }
    // Digits from the first significant one to the point; negative for zeros after the point.
    long long places = 0;
    bool afterPoint = false;
    bool significant = false;
    for (const char c : number.substr(0, mark)) {
        if (c == '.') {
            afterPoint = true;
            continue;
        }
        significant = significant || c != '0';
        if (significant && !afterPoint)
            ++places;
        else if (!significant && afterPoint)
            --places;
    }
    return places * (hex ? 4 : 1) + exponent > 0;
}

// A UTF-8 text, or one that is not (then taken for GBK, as Chinese Windows writes text).
bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        else if (lead >= 0x80)
            return false;
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// The line with each full-width colon written ": ". Two bytes, as GBK writes the colon, so
// that the byte offsets put the value where a GBK file puts it: "X：512345.6" reads 512345.6
// whichever encoding typed it. GBK is walked a character at a time, so that the colon's bytes
// are never taken from the middle of two other characters.
std::string WithAsciiColons(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    const bool utf8 = IsUtf8(line);
    for (std::size_t i = 0; i < line.size();) {
        if (utf8 && line.compare(i, 3, "\xEF\xBC\x9A") == 0) {
            out += ": ";
            i += 3;
            continue;
        }
        const auto lead = static_cast<unsigned char>(line[i]);
        if (!utf8 && lead >= 0x81 && lead <= 0xFE && i + 1 < line.size()) {
            if (line.compare(i, 2, "\xA3\xBA") == 0)
                out += ": ";
            else
                out.append(line, i, 2);
            i += 2;
            continue;
        }
        out.push_back(line[i]);
        ++i;
    }
    return out;
}

// The value between a label and the next marker: `line` from the label's end up to `end`,
// or to the end of the line when the marker is missing or falls inside the label.
std::string_view ValueAfterLabel(std::string_view line, std::size_t end) {
    if (end == std::string_view::npos || end < kLabelWidth)
        return line.substr(kLabelWidth);
    return line.substr(kLabelWidth, end - kLabelWidth);
}

// Line 2 of a report is a few dozen bytes; a longer line is not an origin line, and reading
// on would only let a huge or endless file cost its size.
constexpr std::size_t kMaxLineLength = std::size_t{64} * 1024;

enum class LineRead { Found, TooShort, TooLong, NotRegular, Unreadable };

// Cuts a file's bytes into lines until the second is whole. A line ends at "\n", "\r\n" or a
// lone "\r" (old Mac editors). A UTF-8 byte-order mark is dropped; a UTF-16 file (Notepad's
// "Unicode", which starts with its byte-order mark) is read as the UTF-8 it spells.
class SecondLineSplitter {
public:
    enum class Step { More, Done, TooLong };

    Step feed(char byte) {
        ++offset_;
        if (offset_ <= 3 && sniff(byte))
            return Step::More;
        if (utf16_ == Utf16::No)
            return addChar(static_cast<unsigned char>(byte));
        unit_[units_++] = static_cast<unsigned char>(byte);
        if (units_ < 2)
            return Step::More;
        units_ = 0;
        const unsigned code =
            utf16_ == Utf16::Little ? unit_[0] | (unit_[1] << 8) : (unit_[0] << 8) | unit_[1];
        return addUtf16(code);
    }

    // At the end of the file: the last line counts without a line end too, as getline
    // reads it.
    bool finish() {
        if (lineEnds_ == 1 && !text_.empty()) {
            line_ = std::move(text_);
            lineEnds_ = 2;
        }
        return lineEnds_ == 2;
    }

    std::string& line() { return line_; }

private:
    enum class Utf16 { No, Little, Big };

    // Holds back the first bytes while they may be a byte-order mark; true while they are.
    bool sniff(char byte) {
        held_.push_back(byte);
        if (held_ == "\xEF\xBB\xBF") {
            held_.clear();
            return true;
        }
        if (held_ == "\xFF\xFE" || held_ == "\xFE\xFF") {
            utf16_ = held_[0] == '\xFF' ? Utf16::Little : Utf16::Big;
            held_.clear();
            offset_ = 3; // no more sniffing
            return true;
        }
        if (std::string_view("\xEF\xBB\xBF").substr(0, held_.size()) == held_ || held_ == "\xFF" ||
            held_ == "\xFE")
            return true;
        // Not a mark after all: the bytes held back are text.
        const std::string bytes = std::move(held_);
        held_.clear();
        offset_ = 3;
        for (const char c : bytes)
            if (addChar(static_cast<unsigned char>(c)) != Step::More)
                return true;
        return true;
    }

    Step addUtf16(unsigned code) {
        if (highSurrogate_ != 0) {
            const unsigned high = highSurrogate_;
            highSurrogate_ = 0;
            if (code >= 0xDC00 && code <= 0xDFFF)
                return addCodePoint(0x10000 + ((high - 0xD800) << 10) + (code - 0xDC00));
            if (Step step = addCodePoint(0xFFFD); step != Step::More)
                return step;
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            highSurrogate_ = code;
            return Step::More;
        }
        return addCodePoint(code >= 0xDC00 && code <= 0xDFFF ? 0xFFFD : code);
    }

    Step addCodePoint(unsigned code) {
        std::string bytes;
        AppendUtf8(bytes, code);
        for (const char byte : bytes)
            if (Step step = addChar(static_cast<unsigned char>(byte)); step != Step::More)
                return step;
        return Step::More;
    }

    Step addChar(unsigned char c) {
        if (lineEnds_ == 2)
            return Step::Done;
        const bool afterCr = afterCr_;
        afterCr_ = c == '\r';
        if (c == '\n' && afterCr)
            return Step::More; // the rest of a "\r\n" already counted
        if (c != '\n' && c != '\r') {
            text_.push_back(static_cast<char>(c));
            return text_.size() > kMaxLineLength ? Step::TooLong : Step::More;
        }
        if (++lineEnds_ == 2) {
            line_ = std::move(text_);
            return Step::Done;
        }
        text_.clear();
        return Step::More;
    }

    std::uint64_t offset_ = 0;
    std::string held_;
    Utf16 utf16_ = Utf16::No;
    unsigned char unit_[2] = {};
    std::size_t units_ = 0;
    unsigned highSurrogate_ = 0;
    bool afterCr_ = false;
    std::size_t lineEnds_ = 0;
    std::string text_;
    std::string line_;
};

// Reads the file's second line, without its line end. Reads no further than that line.
LineRead ReadSecondLine(const std::filesystem::path& path, std::string& line, std::error_code& ec) {
    RegularFile file;
    const Result<RegularFile::Opened> how = file.open(path);
    ec = how.error();
    if (!how)
        return LineRead::Unreadable;
    if (*how == RegularFile::Opened::NotRegular)
        return LineRead::NotRegular;
    SecondLineSplitter splitter;
    char chunk[4096];
    for (;;) {
        const Result<std::size_t> read = file.read(chunk, sizeof chunk);
        if (!read) {
            ec = read.error();
            return LineRead::Unreadable;
        }
        const std::size_t got = *read;
        for (std::size_t i = 0; i < got; ++i) {
            switch (splitter.feed(chunk[i])) {
            case SecondLineSplitter::Step::More:
                continue;
            case SecondLineSplitter::Step::TooLong:
                return LineRead::TooLong;
            case SecondLineSplitter::Step::Done:
                line = std::move(splitter.line());
                return LineRead::Found;
            }
        }
        if (got < sizeof chunk)
            break;
    }
    if (!splitter.finish())
        return LineRead::TooShort;
    line = std::move(splitter.line());
    return LineRead::Found;
}

} // namespace

std::optional<double> ReadLeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::string_view number = text.substr(i);
    // atof takes one sign; from_chars would take a minus of its own after it.
    if (!number.empty() && (number[0] == '+' || number[0] == '-'))
        return std::nullopt;
    const bool hex = StartsWithHexNumber(number);
    if (hex)
        number.remove_prefix(2);
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                        hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::invalid_argument)
        return std::nullopt;
    // Out of range: from_chars leaves the value; atof gives infinity, or zero on underflow.
    if (result.ec == std::errc::result_out_of_range)
        value =
            AboveRange(number.substr(0, static_cast<std::size_t>(result.ptr - number.data())), hex)
                ? std::numeric_limits<double>::infinity()
                : 0.0;
    return negative ? -value : value;
}

double ParseLeadingNumber(std::string_view text) {
    return ReadLeadingNumber(text).value_or(0.0);
}

std::optional<BlockOrigin> ParseOriginLine(std::string_view rawLine) {
    const std::string normalised = WithAsciiColons(rawLine);
    const std::string_view line = normalised;
    if (line.size() < kLabelWidth)
        return std::nullopt;
    const std::size_t y = line.find('Y');
    if (y == std::string_view::npos || line.size() - y < kLabelWidth)
        return std::nullopt;
    const std::string_view yPart = line.substr(y);
    const std::optional<double> x = ReadLeadingNumber(ValueAfterLabel(line, y));
    const std::optional<double> yValue = ReadLeadingNumber(ValueAfterLabel(yPart, yPart.find('Z')));
    if (!x || !yValue)
        return std::nullopt;
    BlockOrigin origin;
    origin.x = *x;
    origin.y = *yValue;
    return origin;
}

OriginReading ReadBlockOrigin(const std::filesystem::path& reportPath) {
    OriginReading reading;
    std::string line;
    std::error_code ec;
    const auto problem = [&](ProblemKind kind) {
        reading.problem = Problem{kind, reportPath, ec};
        return reading;
    };
    switch (ReadSecondLine(reportPath, line, ec)) {
    case LineRead::Unreadable:
        return problem(ProblemKind::ReportUnreadable);
    case LineRead::NotRegular:
        return problem(ProblemKind::ReportNotRegularFile);
    case LineRead::TooShort:
        return problem(ProblemKind::ReportNoSecondLine);
    case LineRead::TooLong:
        return problem(ProblemKind::ReportNoOrigin);
    case LineRead::Found:
        break;
    }
    const std::optional<BlockOrigin> origin = ParseOriginLine(line);
    if (!origin)
        return problem(ProblemKind::ReportNoOrigin);
    // atof reads "1e999" as infinity and "nan" as NaN; either as a translation would put the
    // whole scene out of sight.
    if (!std::isfinite(origin->x) || !std::isfinite(origin->y))
        return problem(ProblemKind::ReportOriginNotFinite);
    reading.origin = origin;
    return reading;
}

} // namespace brindle
