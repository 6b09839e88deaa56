#pragma once

#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>

namespace brindle {

// `text` without the white space around it.
inline std::string_view TrimmedSpace(std::string_view text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// A finite number in the "C" locale's form, white space around it allowed, whatever the
// user's locale: one sign, plus or minus, as survey software writes them now and then.
// Nothing for anything else, a sign after a sign included.
inline std::optional<double> PlainFiniteNumber(std::string_view text) {
    text = TrimmedSpace(text);
    // from_chars takes no plus sign of its own.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    double value = 0;
    const char* end = text.data() + text.size();
    const std::from_chars_result parsed = std::from_chars(text.data(), end, value);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace brindle
