#include "wording/text.h"

#include "export/fs/utf8.h"

#include <charconv>
#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace brindle::wording {
namespace {

#ifdef _WIN32
// UTF-16 as UTF-8; a lone surrogate, which NTFS names may hold, becomes U+FFFD rather than
// an exception in the middle of a report.
std::string Utf8FromUtf16(const std::wstring& wide) {
    std::string text;
    text.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const auto unit = static_cast<char32_t>(wide[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) +
                                 (static_cast<char32_t>(wide[i + 1]) - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(text, 0xFFFD);
        } else {
            AppendUtf8(text, unit);
        }
    }
    return text;
}
#endif

// True when each placeholder in `part` has an argument that is not empty.
bool EveryPlaceholderFilled(const std::string& part, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i + 1 < part.size(); ++i)
        if (part[i] == '%' && part[i + 1] >= '1' && part[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(part[i + 1] - '1');
            if (index >= args.size() || args[index].empty())
                return false;
        }
    return true;
}

} // namespace

std::string Phrase(const std::string& pattern, const std::vector<std::string>& args) {
    std::string result;
    std::size_t from = 0;
    while (from < pattern.size()) {
        const std::size_t open = pattern.find('[', from);
        const std::size_t close = open == std::string::npos ? open : pattern.find(']', open);
        if (close == std::string::npos)
            break;
        result += Fill(pattern.substr(from, open - from), args);
        const std::string part = pattern.substr(open + 1, close - open - 1);
        if (EveryPlaceholderFilled(part, args))
            result += Fill(part, args);
        from = close + 1;
    }
    return result + Fill(pattern.substr(from), args);
}

std::string Fill(const std::string& pattern, const std::vector<std::string>& args) {
    std::string result;
    result.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (index < args.size()) {
                result += args[index];
                ++i;
                continue;
            }
        }
        result += pattern[i];
    }
    return result;
}

std::string PathText(const std::filesystem::path& path) {
#ifdef _WIN32
    std::filesystem::path native = path;
    native.make_preferred();
    const std::string bytes = Utf8FromUtf16(native.native());
#else
    const std::string& bytes = path.native();
#endif
    std::string shown;
    shown.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string SystemText(const std::string& text) {
#ifdef _WIN32
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return Utf8FromUtf16(wide);
#else
    return text;
#endif
}

std::string ShortNumber(double value) {
    std::string text = FixedNumber(value, 1);
    if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0)
        text.resize(text.size() - 2);
    return text;
}

std::string ExactNumber(double value) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return std::string(text, result.ec == std::errc() ? result.ptr : text);
}

std::string FixedNumber(double value, int decimals) {
    char text[400];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, result.ec == std::errc() ? result.ptr : text);
}

} // namespace brindle::wording
