#include "export/scan/name_in_any_case.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace brindle {
namespace fs = std::filesystem;

bool SameNameIgnoringCase(const fs::path::string_type& a, const fs::path::string_type& b) {
    if (a.size() != b.size())
        return false;
    const auto lower = [](auto c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

NameInAnyCase FindNameInAnyCase(const fs::path& folder, const fs::path& wanted,
                                const EntryWanted& accept) {
    NameInAnyCase found;
    std::error_code ec;
    const fs::path spelled = folder / wanted;
    const bool there = fs::symlink_status(spelled, ec).type() != fs::file_type::not_found && !ec;
    if (there && (!accept || accept(spelled))) {
        found.name = wanted;
        return found;
    }
    std::vector<fs::path> others;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        fs::path name = it->path().filename();
        if (name != wanted && SameNameIgnoringCase(name.native(), wanted.native()) &&
            (!accept || accept(it->path())))
            others.push_back(std::move(name));
    }
    if (others.empty())
        return found;
    std::sort(others.begin(), others.end());
    found.name = others.front();
    found.caseTwins = others.size() > 1;
    return found;
}

} // namespace brindle
