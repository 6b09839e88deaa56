#include "export/overview/grid_name.h"

namespace brindle {
namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads "_", an optional sign and at least one digit from the front of text, and drops them.
std::optional<std::int64_t> TakeIndex(std::string_view& text) {
    if (text.empty() || text.front() != '_')
        return std::nullopt;
    text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !IsDigit(text.front()))
        return std::nullopt;
    std::int64_t value = 0;
    while (!text.empty() && IsDigit(text.front())) {
        // Leading zeros are as many as the producer liked; only the value is bounded.
        value = value * 10 + (text.front() - '0');
        if (value > kMaxGridIndex)
            return std::nullopt;
        text.remove_prefix(1);
    }
    return negative ? -value : value;
}

} // namespace

std::optional<GridCell> ParseGridName(std::string_view name) {
    std::size_t letters = 0;
    while (letters < name.size() && IsAsciiLetter(name[letters]))
        ++letters;
    if (letters == 0)
        return std::nullopt;
    name.remove_prefix(letters);
    const std::optional<std::int64_t> x = TakeIndex(name);
    if (!x)
        return std::nullopt;
    const std::optional<std::int64_t> y = TakeIndex(name);
    if (!y || !name.empty())
        return std::nullopt;
    return GridCell{*x, *y};
}

} // namespace brindle
