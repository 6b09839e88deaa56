#include "export/fs/atomic_file.h"

#include <chrono>
#include <cstddef>

namespace brindle {
namespace fs = std::filesystem;

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool AllHex(const std::string& text) {
    for (const char c : text)
        if (!IsHexDigit(c))
            return false;
    return !text.empty();
}

constexpr auto kStaleAfter = std::chrono::hours(1);

} // namespace

// ".b-" and six hex digits: as long as "root.osgb". Earlier versions named them
// ".root.osgb.tmp-" and hex digits; those are cleaned up too.
bool IsTemporaryFileName(const std::string& name) {
    const std::string current = ".b-";
    const std::string earlier = ".root.osgb.tmp-";
    if (name.size() == current.size() + 6 && name.compare(0, current.size(), current) == 0)
        return AllHex(name.substr(current.size()));
    if (name.size() > earlier.size() && name.compare(0, earlier.size(), earlier) == 0)
        return AllHex(name.substr(earlier.size()));
    return false;
}

void RemoveStaleTemporaryFiles(const fs::path& folder) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        if (!IsTemporaryFileName(it->path().filename().string()) ||
            !it->is_regular_file(entryError) || it->is_symlink(entryError))
            continue;
        const auto written = it->last_write_time(entryError);
        if (!entryError && now - written > kStaleAfter)
            fs::remove(it->path(), entryError);
    }
}

} // namespace brindle
