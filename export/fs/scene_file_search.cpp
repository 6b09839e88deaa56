#include "export/fs/scene_file_search.h"

#include "export/fs/path_text.h"

#include <algorithm>
#include <system_error>

namespace brindle {

std::filesystem::path ResolveSceneFileName(const std::filesystem::path& folder,
                                           const std::string& name) {
#ifdef _WIN32
    const std::filesystem::path path = std::filesystem::u8path(name);
#else
    std::string separated = name;
    std::replace(separated.begin(), separated.end(), '\\', '/');
    const std::filesystem::path path = separated;
#endif
    return path.is_absolute() ? path : folder / path;
}

namespace {

// The reader's own path arithmetic, on text: either slash ends a folder's name everywhere,
// but only the system's own is written.
#ifdef _WIN32
constexpr char kNativeSeparator = '\\';
constexpr char kForeignSeparator = '/';
#else
constexpr char kNativeSeparator = '/';
constexpr char kForeignSeparator = '\\';
#endif
constexpr const char* kEitherSeparator = "/\\";

std::string FolderOf(const std::string& name) {
    const std::size_t slash = name.find_last_of(kEitherSeparator);
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

std::string BareFileName(const std::string& name) {
    const std::size_t slash = name.find_last_of(kEitherSeparator);
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool IsAbsoluteName(const std::string& name) {
    if (name.empty())
        return false;
    if (name[0] == '/')
        return true;
    if (name.size() < 2)
        return false;
    return (name[0] == '\\' && name[1] == '\\') || name[1] == ':';
}

std::string JoinNames(const std::string& left, const std::string& right) {
    if (left.empty())
        return right;
    if (left.back() == kNativeSeparator)
        return left + right;
    if (left.back() == kForeignSeparator)
        return left.substr(0, left.size() - 1) + kNativeSeparator + right;
    return left + kNativeSeparator + right;
}

bool Exists(const std::string& name) {
    std::error_code ec;
    return std::filesystem::exists(PathOfText(name), ec);
}

// The path with its links and dots resolved, when it leads anywhere; as it is otherwise.
std::string RealPath(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(PathOfText(name), ec);
    return ec ? name : PathText(real);
}

bool NamesCurrentFolder(const std::string& folder) {
    return folder.empty() || folder == ".";
}

bool AnySamePath(const std::string& path, const std::vector<std::string>& paths) {
    return std::any_of(paths.begin(), paths.end(),
                       [&](const std::string& other) { return SameFilePath(path, other); });
}

std::optional<std::string> FindInFolders(std::string name, const SearchFolders& folders,
                                         const std::vector<std::string>& toBeWritten) {
    std::replace(name.begin(), name.end(), kForeignSeparator, kNativeSeparator);
    for (const std::string& folder : folders) {
        if (NamesCurrentFolder(folder))
            continue;
        const std::string joined = JoinNames(folder, name);
#ifdef _WIN32
        // The reader passes over a path longer than the system's classic limit.
        if (joined.size() > 260)
            continue;
#endif
        const std::string real = RealPath(joined);
        if (Exists(real) || AnySamePath(real, toBeWritten))
            return real;
    }
    return std::nullopt;
}

} // namespace

SearchFolders SearchFoldersOfFile(const std::string& file) {
    return {FolderOf(file)};
}

SearchFolders SearchFoldersForName(const SearchFolders& folders, const std::string& name) {
    SearchFolders searched;
    searched.reserve(folders.size() + 1);
    searched.push_back(folders.empty() ? FolderOf(name) : folders.front() + '/' + FolderOf(name));
    searched.insert(searched.end(), folders.begin(), folders.end());
    return searched;
}

SearchFolders SearchFoldersOfFound(const std::string& found, const SearchFolders& searched) {
    SearchFolders folders;
    folders.reserve(searched.size() + 1);
    folders.push_back(FolderOf(found));
    folders.insert(folders.end(), searched.begin(), searched.end());
    return folders;
}

bool SameFilePath(const std::string& a, const std::string& b) {
    const auto resolved = [](const std::string& text) {
        std::error_code ec;
        const std::filesystem::path path = PathOfText(text);
        const std::filesystem::path real = std::filesystem::weakly_canonical(path, ec);
        std::string normal = PathText((ec ? path : real).lexically_normal());
#ifdef _WIN32
        // The last part may not exist yet, so no look at the disk gives its case.
        std::transform(normal.begin(), normal.end(), normal.begin(), [](unsigned char c) {
            return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        });
#endif
        return normal;
    };
    return a == b || resolved(a) == resolved(b);
}

std::optional<std::string> FindSceneFile(const std::string& name, const SearchFolders& folders,
                                         const std::vector<std::string>& toBeWritten) {
    if (name.empty())
        return std::nullopt;
    if (IsAbsoluteName(name) && (Exists(name) || AnySamePath(name, toBeWritten)))
        return name;
    if (std::optional<std::string> found = FindInFolders(name, folders, toBeWritten))
        return found;
    const std::string bare = BareFileName(name);
    if (bare != name)
        return FindInFolders(bare, folders, toBeWritten);
    return std::nullopt;
}

} // namespace brindle
