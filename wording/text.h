#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Text as the wording writes it: UTF-8 throughout, whatever the system's own encoding.
namespace brindle::wording {

// `pattern` with %1 to %9 replaced by `args` in one pass: a replacement is never scanned
// again, and a placeholder with no argument stays as it is.
std::string Fill(const std::string& pattern, const std::vector<std::string>& args);
// Fill, where a part of `pattern` in brackets is kept only when every placeholder in it has
// non-empty text, and the brackets go: "%1 failed[: %2]" says a cause only when there is one.
std::string Phrase(const std::string& pattern, const std::vector<std::string>& args);

// A path as the report shows it: UTF-8 with the system's separators (backslashes on
// Windows), control characters written as \xNN so that no name can split a line of text or
// drive a terminal. Bytes that are not UTF-8 (Linux names are bytes) are passed on as they are.
std::string PathText(const std::filesystem::path& path);

// Text in the system's encoding, as the C library's and the system's messages come (the ANSI
// code page on Windows, the locale's UTF-8 elsewhere), as UTF-8.
std::string SystemText(const std::string& text);

// A number with one decimal, the decimal dropped when it is 0: "20", "20.5". Independent of
// the C locale, which a Qt program sets from the user's.
std::string ShortNumber(double value);
// The shortest decimal text that reads back to the same double, never in exponent form:
// coordinates keep every digit they were read with.
std::string ExactNumber(double value);
// A number with a fixed count of decimals: "10.500".
std::string FixedNumber(double value, int decimals);

} // namespace brindle::wording
