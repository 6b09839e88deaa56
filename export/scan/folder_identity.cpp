#include "export/scan/folder_identity.h"

#include "export/fs/regular_file.h"

#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

fs::path NormalPath(const fs::path& folder) {
    std::error_code ec;
    fs::path normal = fs::absolute(folder, ec);
    if (ec)
        normal = folder;
    normal = normal.lexically_normal();
    // "A/" normalises to "A/"; a root ("/", "C:\") keeps its separator.
    if (!normal.has_filename() && normal.has_relative_path())
        normal = normal.parent_path();
    return normal;
}

bool SamePathText(const fs::path& a, const fs::path& b) {
#ifdef _WIN32
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    if (x.size() != y.size())
        return false;
    const auto fold = [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    };
    for (std::size_t i = 0; i < x.size(); ++i)
        if (fold(x[i]) != fold(y[i]))
            return false;
    return true;
#else
    return a.native() == b.native();
#endif
}

// `path` as the system resolves it, when it can say.
std::optional<fs::path> Resolved(const fs::path& path) {
    std::error_code ec;
    fs::path resolved = fs::canonical(path, ec);
    if (ec)
        return std::nullopt;
#ifdef _WIN32
    // A path in the extended form reads differently from every other path the run builds.
    if (resolved.native().rfind(L"\\\\?\\", 0) == 0)
        return std::nullopt;
#endif
    return resolved;
}

} // namespace

fs::path ListedFolderPath(const fs::path& folder) {
    std::error_code ec;
    fs::path path = fs::absolute(folder, ec);
    if (ec)
        return NormalPath(folder);
    // A trailing separator or "." names the folder before it.
    while (path.has_relative_path() && (path.filename().empty() || path.filename() == "."))
        path = path.parent_path();
    const fs::path name = path.filename();
    if (!path.has_relative_path() || name == "..") {
        const std::optional<fs::path> resolved = Resolved(path);
        return resolved ? *resolved : NormalPath(path);
    }
    const std::optional<fs::path> parent = Resolved(path.parent_path());
    return parent ? *parent / name : NormalPath(path);
}

FolderIdentity IdentifyFolder(const fs::path& folder) {
    FolderIdentity identity;
    if (const Result<FileFacts> facts = LookAt(folder); facts && facts->inode != 0) {
        identity.device = facts->device;
        identity.inode = facts->inode;
    }
    identity.normalPath = NormalPath(folder);
    return identity;
}

bool SameFolder(const FolderIdentity& a, const FolderIdentity& b) {
    if (a.inode != 0 && b.inode != 0)
        return a.device == b.device && a.inode == b.inode;
    return SamePathText(a.normalPath, b.normalPath);
}

std::vector<std::size_t> FirstListings(const std::vector<fs::path>& folders) {
    std::vector<FolderIdentity> identities;
    identities.reserve(folders.size());
    std::vector<std::size_t> first(folders.size());
    for (std::size_t i = 0; i < folders.size(); ++i) {
        identities.push_back(IdentifyFolder(folders[i]));
        first[i] = i;
        for (std::size_t j = 0; j < i; ++j)
            if (first[j] == j && SameFolder(identities[j], identities[i])) {
                first[i] = j;
                break;
            }
    }
    return first;
}

std::optional<std::size_t> FindSameFolder(const std::vector<fs::path>& listed,
                                          const fs::path& folder) {
    const FolderIdentity wanted = IdentifyFolder(folder);
    for (std::size_t i = 0; i < listed.size(); ++i)
        if (SameFolder(IdentifyFolder(listed[i]), wanted))
            return i;
    return std::nullopt;
}

std::optional<Problem> ProblemWithListedFolder(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (status.type() == fs::file_type::not_found)
        return Problem{ProblemKind::FolderMissing, folder, {}};
    if (ec)
        return Problem{ProblemKind::FolderUnreadable, folder, SystemError(ec)};
    if (!fs::is_directory(status))
        return Problem{ProblemKind::NotAFolder, folder, {}};
    return std::nullopt;
}

} // namespace brindle
