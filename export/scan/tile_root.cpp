#include "export/scan/tile_root.h"

#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/scan/name_in_any_case.h"

#include <algorithm>
#include <exception>
#include <functional>
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

FoundTileRoot FindTileRootInAnyCase(const fs::path& tileFolder, Look look) {
    FoundTileRoot found;
    found.facts.type = fs::file_type::not_found;
    const fs::path::string_type root = fs::path(kRootFileName).native();
    const fs::path::string_type named = NamedRootFile(tileFolder).native();
    std::vector<fs::path> roots, nameds;
    std::error_code ec;
    for (fs::directory_iterator it(tileFolder, ec), end; !ec && it != end; it.increment(ec)) {
        fs::path name = it->path().filename();
        if (SameNameIgnoringCase(name.native(), root))
            roots.push_back(std::move(name));
        else if (SameNameIgnoringCase(name.native(), named))
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

namespace {

// Finds the root of the tile folder `folder` by its own path.
FoundTileRoot FindRootByPath(const fs::path& folder, Look look, const OpenFolder* parent) {
    FoundTileRoot found;
    const fs::path root = FindTileRoot(folder, found.error, &found.facts, look, parent);
    found.found = !root.empty();
    found.name = root.filename() == kRootFileName ? TileRootName::Root : TileRootName::Named;
    if (!found.found && !found.error)
        found = FindTileRootInAnyCase(folder, look);
    return found;
}

// The two names a tile's root file may have, in the system's own text.
struct RootNames {
    const fs::path::string_type root = fs::path(kRootFileName).native();
    const fs::path::string_type extension = fs::path(".osgb").native();
};

// Finds the root of the tile folder `folder` by its name in `parent`, the folder it lies in,
// open: one look per name. `under` holds the name looked at, kept from call to call so that
// a folder of many tiles spells them all in one buffer.
FoundTileRoot FindRootInOpenFolder(const fs::path& folder, const OpenFolder& parent, Look look,
                                   const RootNames& names, fs::path::string_type& under) {
    FoundTileRoot found;
    const fs::path::string_type& text = folder.native();
    const std::size_t nameStart = NameStart(text);
    for (char candidate = 0; candidate < 2; ++candidate) {
        under.assign(text, nameStart);
        under += fs::path::preferred_separator;
        if (candidate == 0) {
            under += names.root;
        } else {
            under.append(text, nameStart);
            under += names.extension;
        }
        const Result<FileFacts> looked = parent.lookAt(under.c_str());
        found.error = looked.error();
        found.facts = looked.value_or({});
        if (found.error || found.facts.type != fs::file_type::not_found) {
            found.found = true;
            found.name = candidate == 0 ? TileRootName::Root : TileRootName::Named;
            return found;
        }
    }
    return FindTileRootInAnyCase(folder, look);
}

// Calls `findRange` on `count` items in up to `mostThreads` shares of at least
// `itemsPerThread`, each on a thread of its own but the first, which this thread takes; a
// share no thread can be had for is taken here too. What a share throws is thrown here once
// all are done.
void InShares(std::size_t count, std::size_t itemsPerThread, std::size_t mostThreads,
              const std::function<void(std::size_t, std::size_t)>& findRange) {
    const std::size_t threads = std::clamp<std::size_t>(
        std::min<std::size_t>(std::thread::hardware_concurrency(), count / itemsPerThread), 1,
        mostThreads);
    const std::size_t share = (count + threads - 1) / threads;
    std::vector<std::exception_ptr> failures(threads);
    const auto findShare = [&](std::size_t t) {
        try {
            findRange(std::min(count, t * share), std::min(count, (t + 1) * share));
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
}

} // namespace

std::vector<FoundTileRoot> FindTileRoots(const std::vector<fs::path>& tileFolders, Look look,
                                         const OpenFolder* parent) {
    // Below this many a thread costs more than it saves.
    constexpr std::size_t kFoldersPerThread = 1024;
    constexpr std::size_t kMostThreads = 4;
    std::vector<FoundTileRoot> found(tileFolders.size());
    const bool relative = parent && parent->isOpen();
    const RootNames names;
    InShares(tileFolders.size(), kFoldersPerThread, kMostThreads,
             [&](std::size_t begin, std::size_t end) {
                 fs::path::string_type under;
                 for (std::size_t i = begin; i < end; ++i)
                     found[i] = relative ? FindRootInOpenFolder(tileFolders[i], *parent, look,
                                                                names, under)
                                         : FindRootByPath(tileFolders[i], look, parent);
             });
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
