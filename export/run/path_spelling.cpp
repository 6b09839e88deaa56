#include "export/run/path_spelling.h"

#include <optional>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// `path` below `base`, component by component: what follows base, or nothing when `path` does
// not lie within it.
std::optional<fs::path> PathWithin(const fs::path& path, const fs::path& base) {
    auto p = path.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++p)
        if (p == path.end() || *p != *b)
            return std::nullopt;
    fs::path rest;
    for (; p != path.end(); ++p)
        rest /= *p;
    return rest;
}

// A spelling without trailing separators or "." components, which name the folder before them.
fs::path WithoutTrailingDots(fs::path path) {
    while (path.has_relative_path() && (path.filename().empty() || path.filename() == "."))
        path = path.parent_path();
    return path;
}

// The spelling a path lies within whose normal path is longest, and what follows it.
class LongestSpelling {
public:
    explicit LongestSpelling(const fs::path& path) : path_(path) {}

    void consider(const Spelling& s) {
        const std::optional<fs::path> within = PathWithin(path_, s.normal);
        const std::size_t length = s.normal.native().size();
        if (within && (!best_ || length > bestLength_)) {
            best_ = &s;
            rest_ = *within;
            bestLength_ = length;
        }
    }

    // The path as the best spelling has it; as it is, without one that differs.
    fs::path spelled() const {
        if (!best_ || best_->normal == best_->spelled)
            return path_;
        return rest_.empty() ? best_->spelled : best_->spelled / rest_;
    }

private:
    const fs::path& path_;
    const Spelling* best_ = nullptr;
    fs::path rest_;
    std::size_t bestLength_ = 0;
};

} // namespace

void ListedSpellings::addListing(const fs::path& spelled, const fs::path& normal) {
    listings_.push_back({normal, spelled});
    const fs::path trimmed = WithoutTrailingDots(spelled);
    const fs::path name = trimmed.filename();
    if (!trimmed.parent_path().empty() && !name.empty() && name != "." && name != "..")
        parents_.push_back({normal.parent_path(), trimmed.parent_path()});
}

const Spelling* ListedSpellings::listing(std::size_t i) const {
    return i < listings_.size() ? &listings_[i] : nullptr;
}

fs::path ListedSpellings::spelled(const fs::path& path, const Spelling* own) const {
    if (path.empty())
        return path;
    LongestSpelling longest(path);
    if (own)
        longest.consider(*own);
    for (const Spelling& s : listings_)
        longest.consider(s);
    for (const Spelling& s : parents_)
        longest.consider(s);
    return longest.spelled();
}

void ListedSpellings::respell(FolderReport& report, const Spelling* own) const {
    if (listings_.empty())
        return;
    report.folder = spelled(report.folder, own);
    report.indexFile = spelled(report.indexFile, own);
    report.originReport = spelled(report.originReport, own);
    report.master = spelled(report.master, own);
    for (fs::path& block : report.blocks)
        block = spelled(block, own);
    for (Problem& warning : report.warnings)
        warning.path = spelled(warning.path, own);
    if (report.error)
        report.error->path = spelled(report.error->path, own);
}

} // namespace brindle
