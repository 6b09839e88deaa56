#include "export/fs/overview_folder.h"

#include "export/fs/atomic_file.h"
#include "export/fs/folder_publish.h"
#include "export/fs/our_folder_calls.h"
#include "export/fs/path_join.h"
#include "export/fs/regular_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kNamePrefix = "brindle-overview-";
constexpr std::size_t kMaxDigits = 9;
constexpr std::uint32_t kMaxNumber = 999999999;
// Names taken in the moment between the listing and the folder's making; more than this many
// means something keeps making them, and the making gives up.
constexpr int kMaxAttempts = 64;

// The number in a name of our pattern; nothing for any other name.
std::optional<std::uint32_t> OverviewFolderNumber(const fs::path& name) {
    const auto& text = name.native();
    if (text.size() <= kNamePrefix.size() || text.size() > kNamePrefix.size() + kMaxDigits)
        return std::nullopt;
    for (std::size_t i = 0; i < kNamePrefix.size(); ++i)
        if (text[i] != kNamePrefix[i])
            return std::nullopt;
    if (text[kNamePrefix.size()] == '0')
        return std::nullopt;
    std::uint32_t number = 0;
    for (std::size_t i = kNamePrefix.size(); i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        number = number * 10 + static_cast<std::uint32_t>(text[i] - '0');
    }
    return number;
}

constexpr std::string_view kUnfinishedSuffix = ".tmp";

// The number in a name of our temporary pattern; nothing for any other name.
std::optional<std::uint32_t> UnfinishedFolderNumber(const fs::path& name) {
    const auto& text = name.native();
    if (text.size() <= kUnfinishedSuffix.size())
        return std::nullopt;
    const std::size_t stem = text.size() - kUnfinishedSuffix.size();
    for (std::size_t i = 0; i < kUnfinishedSuffix.size(); ++i)
        if (text[stem + i] != kUnfinishedSuffix[i])
            return std::nullopt;
    return OverviewFolderNumber(fs::path(text.substr(0, stem)));
}

fs::path OverviewFolderName(std::uint32_t number) {
    return fs::path(std::string(kNamePrefix) + std::to_string(number));
}

fs::path UnfinishedFolderName(std::uint32_t number) {
    return fs::path(std::string(kNamePrefix) + std::to_string(number) +
                    std::string(kUnfinishedSuffix));
}

fs::path MarkerPath(const fs::path& folder) {
    return JoinPath(folder, fs::path(std::string(kOverviewMarkerName)));
}

// A file the levels' writing puts in an overview folder: a level, or a temporary file of the
// build or the atomic write that a killed run left.
bool IsFileOfOurs(const fs::path& name) {
    if (name.extension() == ".osgb" || name == fs::path(std::string(kOverviewManifestName)) ||
        name.extension() == fs::path(std::string(kKeptSummaryExtension)) ||
        name == fs::path(std::string(kHeldSummariesName)))
        return true;
    // The temporary names are plain ASCII; no other name is spelled out (which on Windows
    // could fail for a name no narrow string carries).
    const auto& text = name.native();
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](auto c) { return c > 0 && c < 0x80; });
    return ascii && IsTemporaryFileName(name.string());
}

// The system's own cause for a path that is not there, as IsMissing tells it: the standard
// library's listing gives another on Windows.
std::error_code MissingCause(const fs::path& path) {
    RegularFile probe;
    const Result<RegularFile::Opened> opened = probe.open(path);
    return opened ? SystemError(std::errc::no_such_file_or_directory) : opened.error();
}

Status ListNames(const fs::path& folder, std::vector<fs::path>& names) {
    const Result<FileFacts> looked = LookAt(folder);
    if (!looked)
        return looked.error();
    if (looked->type == fs::file_type::not_found)
        return MissingCause(folder);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename());
    if (ec)
        return SystemError(ec);
    return {};
}

// True when `folder` is a folder itself, not a link.
bool IsRealFolder(const fs::path& folder) {
    std::error_code ec;
    return !IsLink(folder) && fs::is_directory(fs::symlink_status(folder, ec)) && !ec;
}

// Takes the folder of ours that `made` is, under its temporary name, to its own name `named`.
Status GiveOwnName(const fs::path& made, const fs::path& named, const OverviewFolderCalls& calls) {
    if (const Status marked = calls.writeFile(MarkerPath(made), kOverviewMarkerText); !marked) {
        // A failed atomic write leaves nothing behind, so the folder is empty and goes again;
        // if it cannot, an empty folder of the temporary name is all that is left.
        (void)calls.remove(made);
        return marked;
    }
    const Status renamed = calls.renameFolder(made, named);
    if (!renamed) {
        (void)calls.remove(MarkerPath(made));
        (void)calls.remove(made);
    }
    return renamed;
}

} // namespace

OverviewFolderCalls SystemOverviewFolderCalls() {
    OverviewFolderCalls calls;
    calls.makeFolder = MakeOneFolder;
    calls.writeFile = WriteWholeFile;
    calls.listNames = ListNames;
    calls.remove = RemoveOne;
    calls.renameFolder = RenameFolderWithoutReplacing;
    calls.flushFolder = FlushFolder;
    return calls;
}

bool HasUnfinishedOverviewFolderName(const fs::path& name) {
    return UnfinishedFolderNumber(name).has_value();
}

bool IsUnfinishedOverviewFolder(const fs::path& folder) {
    if (!HasUnfinishedOverviewFolderName(folder.filename()) || !IsRealFolder(folder))
        return false;
    // At most two entries are looked at: one more than ours could hold.
    std::error_code ec;
    int entries = 0;
    bool onlyMarker = true;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && entries < 2;
         it.increment(ec)) {
        ++entries;
        onlyMarker =
            onlyMarker && it->path().filename() == fs::path(std::string(kOverviewMarkerName));
    }
    if (ec || entries > 1)
        return false;
    return entries == 0 || (onlyMarker && HoldsMarker(MarkerPath(folder), kOverviewMarkerText));
}

bool HasOverviewFolderName(const fs::path& name) {
    return OverviewFolderNumber(name).has_value();
}

bool IsOverviewFolder(const fs::path& folder) {
    if (!HasOverviewFolderName(folder.filename()) || IsLink(folder))
        return false;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec)) || ec)
        return false;
    return HoldsMarker(MarkerPath(folder), kOverviewMarkerText);
}

Result<fs::path> MakeOverviewFolder(const fs::path& listed, const OverviewFolderCalls& calls) {
    std::vector<fs::path> names;
    if (const Status listing = calls.listNames(listed, names); !listing)
        return listing.error();
    std::uint32_t highest = 0;
    for (const fs::path& name : names)
        highest = std::max({highest, OverviewFolderNumber(name).value_or(0),
                            UnfinishedFolderNumber(name).value_or(0)});
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        if (highest >= kMaxNumber)
            break;
        ++highest;
        const fs::path made = JoinPath(listed, UnfinishedFolderName(highest));
        const Status making = calls.makeFolder(made);
        if (!making && making.error() != std::errc::file_exists)
            return making.error();
        if (!making)
            continue;
        fs::path named = JoinPath(listed, OverviewFolderName(highest));
        const Status given = GiveOwnName(made, named, calls);
        if (given)
            return named;
        if (given.error() != std::errc::file_exists)
            return given.error();
    }
    return SystemError(std::errc::file_exists);
}

std::vector<fs::path> OverviewFolders(const fs::path& listed, std::error_code* error,
                                      const OverviewFolderCalls& calls) {
    std::vector<fs::path> names;
    if (const Status listing = calls.listNames(listed, names); !listing) {
        if (error)
            *error = listing.error();
        return {};
    }
    std::vector<std::pair<std::uint32_t, fs::path>> ours;
    for (const fs::path& name : names) {
        const std::optional<std::uint32_t> number = OverviewFolderNumber(name);
        if (!number)
            continue;
        fs::path folder = JoinPath(listed, name);
        if (IsOverviewFolder(folder))
            ours.emplace_back(*number, std::move(folder));
    }
    std::sort(ours.begin(), ours.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<fs::path> folders;
    folders.reserve(ours.size());
    for (auto& entry : ours)
        folders.push_back(std::move(entry.second));
    return folders;
}

Status RemoveOverviewFolder(const fs::path& folder, const OverviewFolderCalls& calls) {
    if (!IsOverviewFolder(folder)) {
        std::error_code ec;
        if (fs::symlink_status(folder, ec).type() != fs::file_type::not_found)
            return SystemError(std::errc::operation_not_permitted);
        // A folder gone already: the cause the system gives for it, which IsMissing tells.
        return MissingCause(MarkerPath(folder));
    }
    std::vector<fs::path> names;
    if (const Status listing = calls.listNames(folder, names); !listing)
        return listing;
    bool othersInside = false;
    for (const fs::path& name : names) {
        if (name == fs::path(std::string(kOverviewMarkerName)))
            continue;
        const fs::path path = JoinPath(folder, name);
        std::error_code ec;
        // Looked at as itself: a link, whatever it leads to, is no file of ours.
        const bool regular =
            fs::symlink_status(path, ec).type() == fs::file_type::regular && !IsLink(path);
        if (!regular || ec || !IsFileOfOurs(name)) {
            othersInside = true;
            continue;
        }
        if (const Status removed = calls.remove(path); !removed)
            return removed;
    }
    if (othersInside)
        return SystemError(std::errc::directory_not_empty);
    if (const Status removed = calls.remove(MarkerPath(folder)); !removed)
        return removed;
    // The folder's own removal needs leave of the listed folder, which its files' did not: a
    // folder left behind empty is marked again, so that it stays ours, out of the scan's way,
    // for the next run to remove.
    const Status removed = calls.remove(folder);
    if (!removed)
        (void)calls.writeFile(MarkerPath(folder), kOverviewMarkerText);
    return removed;
}

Status RemoveUnfinishedOverviewFolders(const fs::path& listed, const OverviewFolderCalls& calls) {
    std::vector<fs::path> names;
    if (const Status listing = calls.listNames(listed, names); !listing)
        return listing;
    Status first;
    const auto note = [&first](const Status& status) {
        if (first && !status)
            first = status;
    };
    for (const fs::path& name : names) {
        const fs::path folder = JoinPath(listed, name);
        if (!IsUnfinishedOverviewFolder(folder))
            continue;
        std::error_code ec;
        if (fs::symlink_status(MarkerPath(folder), ec).type() == fs::file_type::regular) {
            const Status unmarked = calls.remove(MarkerPath(folder));
            note(unmarked);
            if (!unmarked)
                continue;
        }
        // Only an empty folder goes: whatever came into it since the look stays, with it.
        note(calls.remove(folder));
    }
    return first;
}

} // namespace brindle
