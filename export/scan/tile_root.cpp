#include "export/scan/tile_root.h"

#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

namespace brindle {
namespace fs = std::filesystem;

fs::path NamedRootFile(const fs::path& tileFolder) {
    fs::path name = tileFolder.filename();
    name += ".osgb";
    return name;
}

fs::path FindTileRoot(const fs::path& tileFolder, std::error_code& ec, FileFacts* found, Look look,
                      const OpenFolder* parent) {
    ec.clear();
    // Anything by the name of root.osgb counts, even a folder or a FIFO: the tile check then
    // says what is wrong with it rather than passing it over for a file the user never meant.
    // The second name is made only when the first is missing: a block has thousands of tiles.
    const bool relative = parent && parent->isOpen();
    fs::path::string_type folderName, under;
    if (relative)
        folderName = tileFolder.filename().native();
    for (int candidate = 0; candidate < 2; ++candidate) {
        const fs::path name = candidate == 0 ? fs::path(kRootFileName) : NamedRootFile(tileFolder);
        std::optional<Result<FileFacts>> looked;
        if (relative) {
            under = folderName;
            under += fs::path::preferred_separator;
            under += name.native();
            looked = parent->lookAt(under.c_str());
        } else {
            looked = LookAt(JoinPath(tileFolder, name), look);
        }
        ec = looked->error();
        const FileFacts facts = looked->value_or({});
        if (found)
            *found = facts;
        if (ec || facts.type != fs::file_type::not_found)
            return JoinPath(tileFolder, name);
    }
    return {};
}

fs::path TileRootFileName(const fs::path& tileFolder, TileRootName name) {
    return name == TileRootName::Root ? fs::path(kRootFileName) : NamedRootFile(tileFolder);
}

fs::path TileRootPath(const fs::path& tileFolder, TileRootName name) {
    return JoinPath(tileFolder, TileRootFileName(tileFolder, name));
}

namespace {

// Where the last name of `path` begins, as path::filename() finds it.
std::size_t NameStart(const fs::path::string_type& path) {
#ifdef _WIN32
    const std::size_t separator = path.find_last_of(L"\\/");
#else
    const std::size_t separator = path.find_last_of('/');
#endif
    return separator == fs::path::string_type::npos ? 0 : separator + 1;
}

} // namespace

namespace {

// ASCII letters folded, as Windows' file systems fold the names users copy from them.
bool SameIgnoringCase(const fs::path::string_type& a, const fs::path::string_type& b) {
    if (a.size() != b.size())
        return false;
    const auto lower = [](auto c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

} // namespace

FoundTileRoot FindTileRootInAnyCase(const fs::path& tileFolder, Look look) {
    FoundTileRoot found;
    found.facts.type = fs::file_type::not_found;
    const fs::path::string_type root = fs::path(kRootFileName).native();
    const fs::path::string_type named = NamedRootFile(tileFolder).native();
    std::vector<fs::path> roots, nameds;
    std::error_code ec;
    for (fs::directory_iterator it(tileFolder, ec), end; !ec && it != end; it.increment(ec)) {
        fs::path name = it->path().filename();
        if (SameIgnoringCase(name.native(), root))
            roots.push_back(std::move(name));
        else if (SameIgnoringCase(name.native(), named))
            nameds.push_back(std::move(name));
    }
    std::vector<fs::path>& taken = roots.empty() ? nameds : roots;
    if (taken.empty())
        return found;
    std::sort(taken.begin(), taken.end());
    found.found = true;
    found.name = roots.empty() ? TileRootName::Named : TileRootName::Root;
    found.listedName = taken.front();
    found.caseTwins = taken.size() > 1;
    const Result<FileFacts> looked = LookAt(JoinPath(tileFolder, found.listedName), look);
    found.error = looked.error();
    found.facts = looked.value_or({});
    return found;
}

std::vector<FoundTileRoot> FindTileRoots(const std::vector<fs::path>& tileFolders, Look look,
                                         const OpenFolder* parent) {
    // Below this many a thread costs more than it saves.
    constexpr std::size_t kFoldersPerThread = 1024;
    constexpr std::size_t kMostThreads = 4;
    std::vector<FoundTileRoot> found(tileFolders.size());
    const bool relative = parent && parent->isOpen();
    const fs::path::string_type rootName = fs::path(kRootFileName).native();
    const fs::path::string_type extension = fs::path(".osgb").native();
    const auto findRange = [&](std::size_t begin, std::size_t end) {
        fs::path::string_type under;
        for (std::size_t i = begin; i < end; ++i) {
            if (!relative) {
                const fs::path root =
                    FindTileRoot(tileFolders[i], found[i].error, &found[i].facts, look, parent);
                found[i].found = !root.empty();
                found[i].name =
                    root.filename() == kRootFileName ? TileRootName::Root : TileRootName::Named;
                if (!found[i].found && !found[i].error)
                    found[i] = FindTileRootInAnyCase(tileFolders[i], look);
                continue;
            }
            const fs::path::string_type& folder = tileFolders[i].native();
            const std::size_t nameStart = NameStart(folder);
            for (char candidate = 0; candidate < 2; ++candidate) {
                under.assign(folder, nameStart);
                under += fs::path::preferred_separator;
                if (candidate == 0) {
                    under += rootName;
                } else {
                    under.append(folder, nameStart);
                    under += extension;
                }
                const Result<FileFacts> looked = parent->lookAt(under.c_str());
                found[i].error = looked.error();
                found[i].facts = looked.value_or({});
                if (found[i].error || found[i].facts.type != fs::file_type::not_found) {
                    found[i].found = true;
                    found[i].name = candidate == 0 ? TileRootName::Root : TileRootName::Named;
                    break;
                }
            }
            if (!found[i].found)
                found[i] = FindTileRootInAnyCase(tileFolders[i], look);
        }
    };
    const std::size_t threads =
        std::clamp<std::size_t>(std::min<std::size_t>(std::thread::hardware_concurrency(),
                                                      tileFolders.size() / kFoldersPerThread),
                                1, kMostThreads);
    const std::size_t share = (tileFolders.size() + threads - 1) / threads;
    std::vector<std::exception_ptr> failures(threads);
    const auto findShare = [&](std::size_t t) {
        try {
            findRange(std::min(tileFolders.size(), t * share),
                      std::min(tileFolders.size(), (t + 1) * share));
        } catch (...) {
            failures[t] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads);
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(findShare, t);
        } catch (const std::system_error&) {
            findShare(t); // no thread to be had: this one does the share
        }
    }
    findShare(0);
    for (std::thread& helper : helpers)
        helper.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    return found;
}

std::string TileEntryFor(const std::string& prefix, const std::string& subfolderName,
                         const std::string& rootFileName, IndexKind kind) {
    const char separator = kind == IndexKind::Paged ? '/' : '\\';
    std::string entry;
    if (!prefix.empty())
        entry = prefix + separator;
    return entry + subfolderName + separator + rootFileName;
}

} // namespace brindle
