#include "export/scan/subfolder_scan.h"

#include "export/fs/overview_folder.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"
#include "export/fs/utf8.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>

#ifndef _WIN32
#include "export/fs/file_descriptor.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

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

namespace {

// A subfolder as listed; its name's text, and that text in lower case, are made once, not at
// every comparison of the sort.
struct Listed {
    Listed(fs::path p, std::string n, bool l) : path(std::move(p)), name(std::move(n)), link(l) {
        lowered.reserve(name.size());
        for (const char c : name)
            lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }

    fs::path path;
    std::string name;
    bool link;
    std::string lowered;
};

// SubfolderNameLess, with each name lowered beforehand.
bool ListedLess(const Listed& a, const Listed& b) {
    if (a.lowered != b.lowered)
        return a.lowered < b.lowered;
    return a.name < b.name;
}

#ifdef _WIN32
void ListInto(const fs::path& folder, bool wantLinks, std::vector<Listed>& listed,
              std::error_code& ec, const FolderListingCalls&) {
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError))
            continue;
        // A junction is a link too, which the listing does not tell.
        const bool link = wantLinks && IsLink(it->path());
        listed.emplace_back(it->path(), NameText(it->path().filename()).value_or(std::string()),
                            link);
    }
}
#else
// The listing's own types tell folders and links without a look at each entry, where the
// file system gives them; a block has thousands of subfolders.
void ListInto(const fs::path& folder, bool, std::vector<Listed>& listed, std::error_code& ec,
              const FolderListingCalls& calls) {
    DIR* dir = calls.opendir(folder.c_str());
    if (!dir) {
        ec = LastPosixError();
        return;
    }
    const int dirFd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = calls.readdir(dir);
        if (!entry) {
            if (errno != 0)
                ec = LastPosixError();
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        bool directory = entry->d_type == DT_DIR;
        bool link = entry->d_type == DT_LNK;
        if (entry->d_type == DT_UNKNOWN || link) {
            struct stat info {};
            if (!link && calls.fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0)
                link = S_ISLNK(info.st_mode);
            directory = calls.fstatat(dirFd, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        if (directory)
            listed.emplace_back(JoinPath(folder, name), name, link);
    }
    // A listing read to its end has nothing left to lose when its close fails.
    calls.closedir(dir);
}
#endif

} // namespace

#ifdef _WIN32
FolderListingCalls SystemListingCalls() {
    return {};
}
#else
FolderListingCalls SystemListingCalls() {
    FolderListingCalls calls;
    calls.opendir = ::opendir;
    calls.readdir = ::readdir;
    calls.closedir = ::closedir;
    calls.fstatat = ::fstatat;
    return calls;
}
#endif

std::vector<fs::path> ListSubfolders(const fs::path& folder, std::error_code* error,
                                     std::vector<bool>* links, const FolderListingCalls& calls) {
    std::vector<Listed> listed;
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    ListInto(ec ? folder : absolute, links != nullptr, listed, ec, calls);
    if (ec) {
        if (error)
            *error = SystemError(ec);
        return {};
    }
    std::sort(listed.begin(), listed.end(), ListedLess);
    std::vector<fs::path> subfolders;
    subfolders.reserve(listed.size());
    if (links)
        links->clear();
    for (Listed& entry : listed) {
        subfolders.push_back(std::move(entry.path));
        if (links)
            links->push_back(entry.link);
    }
    return subfolders;
}

void DropOverviewFolders(std::vector<fs::path>& subfolders, std::vector<bool>* links) {
    // Ours, or left by a run killed before it was: neither is a tile of the user's.
    const auto ours = [](const fs::path& subfolder) {
        return IsOverviewFolder(subfolder) || IsUnfinishedOverviewFolder(subfolder);
    };
    // A block of 10^5 tiles rarely holds one: nothing is moved until one is found.
    std::size_t kept = 0;
    while (kept < subfolders.size() && !ours(subfolders[kept]))
        ++kept;
    for (std::size_t i = kept; i < subfolders.size(); ++i) {
        if (ours(subfolders[i]))
            continue;
        subfolders[kept] = std::move(subfolders[i]);
        if (links)
            (*links)[kept] = (*links)[i];
        ++kept;
    }
    subfolders.resize(kept);
    if (links)
        links->resize(kept);
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
