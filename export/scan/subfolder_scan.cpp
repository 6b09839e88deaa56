#include "export/scan/subfolder_scan.h"

#include "export/fs/regular_file.h"
#include "export/fs/utf8.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;

bool SubfolderNameLess(const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    const bool differsInCase = !std::equal(a.begin(), a.end(), b.begin(), b.end(),
                                           [&](char l, char r) { return lower(l) == lower(r); });
    if (differsInCase)
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [&](char l, char r) { return lower(l) < lower(r); });
    return a < b;
}

#ifdef _WIN32
std::optional<std::string> NameText(const fs::path& name) {
    const std::wstring& wide = name.native();
    std::string text;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF)
                return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return std::nullopt;
        }
        AppendUtf8(text, c);
    }
    return text;
}
#else
std::optional<std::string> NameText(const fs::path& name) {
    return name.string();
}
#endif

bool SubfolderPathNameLess(const fs::path& a, const fs::path& b) {
    return SubfolderNameLess(NameText(a).value_or(std::string()),
                             NameText(b).value_or(std::string()));
}

std::vector<fs::path> ListSubfolders(const fs::path& folder, std::error_code* error) {
    std::vector<fs::path> subfolders;
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    fs::directory_iterator it(ec ? folder : absolute, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError))
            subfolders.push_back(it->path());
    }
    if (ec) {
        if (error)
            *error = SystemError(ec);
        return {};
    }
    std::sort(subfolders.begin(), subfolders.end(), [](const fs::path& a, const fs::path& b) {
        return SubfolderPathNameLess(a.filename(), b.filename());
    });
    return subfolders;
}

std::size_t CountSubfolders(const fs::path& folder, std::size_t limit,
                            const std::atomic<bool>* stop, std::error_code* error) {
    std::size_t count = 0;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && count < limit && it != fs::directory_iterator(); it.increment(ec)) {
        if (stop && *stop)
            break;
        std::error_code typeError;
        if (it->is_directory(typeError))
            ++count;
    }
    if (ec) {
        if (error)
            *error = SystemError(ec);
        return 0;
    }
    return count;
}

} // namespace brindle
