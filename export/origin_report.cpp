#include "export/origin_report.h"

#include "export/regular_file.h"

#include <charconv>
#include <system_error>

namespace brindle {
namespace {

constexpr std::size_t kLabelWidth = 3;

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool StartsWithHexPrefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
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

// Reads the file's second line, as text mode reads it: without its line end. Reads no further
// than that line.
LineRead ReadSecondLine(const std::filesystem::path& path, std::string& line, std::error_code& ec) {
    RegularFile file;
    switch (file.open(path, ec)) {
    case RegularFile::Opened::Yes:
        break;
    case RegularFile::Opened::NotRegular:
        return LineRead::NotRegular;
    case RegularFile::Opened::Missing:
    case RegularFile::Opened::Failed:
        return LineRead::Unreadable;
    }
    std::string text;
    char chunk[4096];
    std::size_t lineEnds = 0;
    for (;;) {
        const std::size_t got = file.read(chunk, sizeof chunk, ec);
        if (ec)
            return LineRead::Unreadable;
        for (std::size_t i = 0; i < got; ++i) {
            if (chunk[i] != '\n') {
                text.push_back(chunk[i]);
                if (text.size() > kMaxLineLength)
                    return LineRead::TooLong;
                continue;
            }
            if (++lineEnds == 2) {
                line = text;
                break;
            }
            text.clear();
        }
        if (lineEnds == 2)
            break;
        if (got < sizeof chunk) {
            // The last line counts without a line end too, as getline reads it.
            if (lineEnds == 1 && !text.empty()) {
                line = text;
                break;
            }
            return LineRead::TooShort;
        }
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return LineRead::Found;
}

} // namespace

double ParseLeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::string_view digits = text.substr(i);
    auto format = std::chars_format::general;
    if (StartsWithHexPrefix(digits)) {
        digits.remove_prefix(2);
        format = std::chars_format::hex;
    }
    double value = 0.0;
    const auto result =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, format);
    if (result.ec == std::errc::invalid_argument)
        return 0.0;
    // Out of range: atof gives the overflowed or underflowed value, from_chars leaves it.
    if (result.ec == std::errc::result_out_of_range)
        return 0.0;
    return negative ? -value : value;
}

std::optional<BlockOrigin> ParseOriginLine(std::string_view line) {
    if (line.size() < kLabelWidth)
        return std::nullopt;
    const std::size_t y = line.find('Y');
    if (y == std::string_view::npos || line.size() - y < kLabelWidth)
        return std::nullopt;
    const std::string_view yPart = line.substr(y);
    BlockOrigin origin;
    origin.x = ParseLeadingNumber(ValueAfterLabel(line, y));
    origin.y = ParseLeadingNumber(ValueAfterLabel(yPart, yPart.find('Z')));
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
    reading.origin = ParseOriginLine(line);
    if (!reading.origin)
        return problem(ProblemKind::ReportNoOrigin);
    return reading;
}

} // namespace brindle
