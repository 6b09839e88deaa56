#include "export/subfolder_scan.h"

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
            *error = ec;
        return {};
    }
    std::sort(subfolders.begin(), subfolders.end(), [](const fs::path& a, const fs::path& b) {
        return SubfolderNameLess(a.filename().string(), b.filename().string());
    });
    return subfolders;
}

} // namespace brindle
