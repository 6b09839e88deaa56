#include "export/origin_report.h"

#include <charconv>
#include <fstream>
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

// Reads the file's second line, as text mode reads it: without its line end.
enum class LineRead { Found, TooShort, Unreadable };

LineRead ReadSecondLine(const std::filesystem::path& path, std::string& line) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return LineRead::Unreadable;
    std::string first;
    if (!std::getline(in, first) || !std::getline(in, line))
        return in.bad() ? LineRead::Unreadable : LineRead::TooShort;
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
    switch (ReadSecondLine(reportPath, line)) {
    case LineRead::Unreadable:
        reading.warning = reportPath.string() + ": cannot be read; translation left unchanged";
        return reading;
    case LineRead::TooShort:
        reading.warning = reportPath.string() +
                          ": has no second line with the origin; translation left unchanged";
        return reading;
    case LineRead::Found:
        break;
    }
    reading.origin = ParseOriginLine(line);
    if (!reading.origin)
        reading.warning = reportPath.string() +
                          ": line 2 holds no origin of the form \"X: <x> Y: <y> Z: <z>\"; "
                          "translation left unchanged";
    return reading;
}

} // namespace brindle
