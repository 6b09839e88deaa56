#include "export/tiles3d/tileset_folder.h"

#include "export/fs/atomic_file.h"
#include "export/fs/folder_publish.h"
#include "export/fs/our_folder_calls.h"
#include "export/fs/regular_file.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <system_error>
#include <utility>

#if defined(__linux__)
#include "export/fs/file_descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace brindle {
namespace fs = std::filesystem;
namespace {

const fs::path& MarkerName() {
    static const fs::path name{std::string(kTilesetMarkerName)};
    return name;
}

fs::path WithSuffix(const fs::path& target, const char* suffix) {
    fs::path named = target;
    named += suffix;
    return named;
}

enum class Found { Nothing, Ours, EmptyFolder, Other };

// What is at `path`, as far as a tileset's folder is concerned.
Found LookAtFolder(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (status.type() == fs::file_type::not_found)
        return Found::Nothing;
    if (ec || status.type() != fs::file_type::directory)
        return Found::Other;
    if (IsTilesetFolderOfOurs(path))
        return Found::Ours;
    const bool empty = fs::is_empty(path, ec);
    return empty && !ec ? Found::EmptyFolder : Found::Other;
}

// Removes a folder of ours: its marker last, so that a removal cut short leaves a folder
// still known as ours, for the next run to finish.
Status RemoveOurFolder(const fs::path& folder, const TilesetFolderCalls& calls) {
    std::vector<fs::path> inside;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() != MarkerName())
            inside.push_back(it->path());
    if (ec)
        return SystemError(ec);
    for (const fs::path& path : inside)
        if (const Status removed = calls.removeAll(path); !removed)
            return removed;
    if (const Status removed = calls.remove(folder / MarkerName()); !removed)
        return removed;
    return calls.remove(folder);
}

TilesetFolderError NotWritten(fs::path path, std::error_code cause) {
    return {TilesetFolderFailure::NotWritten, std::move(path), cause};
}

TilesetFolderError NotOurs(fs::path path) {
    return {TilesetFolderFailure::NotOurs, std::move(path), {}};
}

// Clears the way at `path` for a folder of ours: a folder of ours there is removed, an empty
// one too; anything else is refused.
std::optional<TilesetFolderError> ClearLeftover(const fs::path& path,
                                                const TilesetFolderCalls& calls) {
    switch (LookAtFolder(path)) {
    case Found::Nothing:
        return std::nullopt;
    case Found::Ours:
        if (const Status removed = RemoveOurFolder(path, calls); !removed)
            return NotWritten(path, removed.error());
        return std::nullopt;
    case Found::EmptyFolder:
        if (const Status removed = calls.remove(path); !removed)
            return NotWritten(path, removed.error());
        return std::nullopt;
    case Found::Other:
        break;
    }
    return NotOurs(path);
}

Status MakeFolders(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return SystemError(ec);
    if (!fs::is_directory(folder, ec))
        return SystemError(std::errc::not_a_directory);
    return {};
}

Status RemoveAll(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec)
        return SystemError(ec);
    return {};
}

Status ExchangeFolders(const fs::path& a, const fs::path& b) {
#if defined(__linux__) && defined(SYS_renameat2)
    constexpr unsigned kExchange = 2; // RENAME_EXCHANGE
    if (::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), kExchange) == 0)
        return {};
    // File systems without it say EINVAL; kernels without it ENOSYS.
    if (errno != EINVAL && errno != ENOSYS)
        return LastPosixError();
#else
    (void)a;
    (void)b;
#endif
    return SystemError(std::errc::function_not_supported);
}

} // namespace

TilesetFolderCalls SystemTilesetFolderCalls() {
    TilesetFolderCalls calls;
    calls.makeFolders = MakeFolders;
    calls.makeFolder = MakeOneFolder;
    calls.writeFile = WriteWholeFile;
    calls.remove = RemoveOne;
    calls.removeAll = RemoveAll;
    calls.renameFolder = RenameFolderWithoutReplacing;
    calls.exchangeFolders = ExchangeFolders;
    calls.flushFolder = FlushFolder;
    return calls;
}

bool IsTilesetFolderOfOurs(const fs::path& folder) {
    std::error_code ec;
    if (IsLink(folder) || !fs::is_directory(fs::symlink_status(folder, ec)) || ec)
        return false;
    return HoldsMarker(folder / MarkerName(), kTilesetMarkerText);
}

std::optional<TilesetFolderError> TilesetStaging::Begin(const fs::path& dir, const fs::path& name,
                                                        TilesetStaging& staging,
                                                        const TilesetFolderCalls& calls,
                                                        const Updatable& updatable) {
    staging = TilesetStaging();
    staging.calls_ = calls;
    staging.dir_ = dir;
    staging.target_ = dir / name;
    staging.staging_ = WithSuffix(staging.target_, ".brindle-new");
    staging.old_ = WithSuffix(staging.target_, ".brindle-old");
    if (const Status made = calls.makeFolders(dir); !made)
        return NotWritten(dir, made.error());
    // A run killed between its two renames left the old tileset under the old name: it was
    // the one in place, and is again.
    if (LookAtFolder(staging.old_) == Found::Ours &&
        LookAtFolder(staging.target_) == Found::Nothing)
        if (const Status back = calls.renameFolder(staging.old_, staging.target_); !back)
            return NotWritten(staging.target_, back.error());
    for (const fs::path* leftover : {&staging.staging_, &staging.old_})
        if (std::optional<TilesetFolderError> refused = ClearLeftover(*leftover, calls))
            return refused;
    switch (LookAtFolder(staging.target_)) {
    case Found::Other:
        return NotOurs(staging.target_);
    case Found::Ours:
        staging.previous_ = staging.target_;
        if (updatable && updatable(staging.target_)) {
            staging.staging_ = staging.target_;
            staging.inPlace_ = true;
            return std::nullopt;
        }
        break;
    case Found::Nothing:
    case Found::EmptyFolder:
        break;
    }
    if (const Status made = calls.makeFolder(staging.staging_); !made)
        return NotWritten(staging.staging_, made.error());
    if (const Status marked = calls.writeFile(staging.staging_ / MarkerName(), kTilesetMarkerText);
        !marked) {
        (void)calls.remove(staging.staging_);
        return NotWritten(staging.staging_, marked.error());
    }
    staging.live_ = true;
    return std::nullopt;
}

TilesetStaging::~TilesetStaging() {
    abandon();
}

TilesetStaging::TilesetStaging(TilesetStaging&& other) noexcept {
    *this = std::move(other);
}

TilesetStaging& TilesetStaging::operator=(TilesetStaging&& other) noexcept {
    if (this == &other)
        return *this;
    abandon();
    calls_ = other.calls_;
    dir_ = std::move(other.dir_);
    target_ = std::move(other.target_);
    staging_ = std::move(other.staging_);
    old_ = std::move(other.old_);
    previous_ = std::move(other.previous_);
    live_ = std::exchange(other.live_, false);
    inPlace_ = std::exchange(other.inPlace_, false);
    return *this;
}

void TilesetStaging::abandon() {
    if (!live_)
        return;
    live_ = false;
    // What cannot go now is ours by its marker, and the next run removes it.
    (void)RemoveOurFolder(staging_, calls_);
}

std::optional<TilesetFolderError> TilesetStaging::publish() {
    if (inPlace_)
        return std::nullopt;
    if (!live_)
        return NotWritten(target_, SystemError(std::errc::invalid_argument));
    if (const Status flushed = calls_.flushFolder(staging_); !flushed) {
        abandon();
        return NotWritten(target_, flushed.error());
    }
    const Found found = LookAtFolder(target_);
    if (found == Found::Other) {
        abandon();
        return NotOurs(target_);
    }
    if (found == Found::EmptyFolder)
        if (const Status removed = calls_.remove(target_); !removed) {
            abandon();
            return NotWritten(target_, removed.error());
        }
    if (found != Found::Ours) {
        if (const Status renamed = calls_.renameFolder(staging_, target_); !renamed) {
            abandon();
            return NotWritten(target_, renamed.error());
        }
        live_ = false;
        (void)calls_.flushFolder(dir_);
        return std::nullopt;
    }
    // The old tileset goes under the staging folder's name, to be removed as ours.
    const Status exchanged = calls_.exchangeFolders(staging_, target_);
    if (exchanged) {
        (void)calls_.flushFolder(dir_);
        abandon();
        return std::nullopt;
    }
    if (exchanged.error() != std::errc::function_not_supported) {
        abandon();
        return NotWritten(target_, exchanged.error());
    }
    if (const Status aside = calls_.renameFolder(target_, old_); !aside) {
        abandon();
        return NotWritten(target_, aside.error());
    }
    if (const Status renamed = calls_.renameFolder(staging_, target_); !renamed) {
        // Where the old one cannot go back now, the next run puts it back.
        (void)calls_.renameFolder(old_, target_);
        abandon();
        return NotWritten(target_, renamed.error());
    }
    live_ = false;
    (void)calls_.flushFolder(dir_);
    (void)RemoveOurFolder(old_, calls_);
    return std::nullopt;
}

bool FoldersOverlap(const fs::path& a, const fs::path& b) {
    const auto components = [](const fs::path& path) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(path, ec);
        const fs::path resolved = fs::weakly_canonical(ec ? path : absolute, ec);
        std::vector<fs::path> parts;
        for (const fs::path& part : (ec ? absolute : resolved).lexically_normal())
            if (!part.empty())
                parts.push_back(part);
        return parts;
    };
    const std::vector<fs::path> first = components(a), second = components(b);
    const auto shared = static_cast<std::ptrdiff_t>(std::min(first.size(), second.size()));
    return std::equal(first.begin(), first.begin() + shared, second.begin());
}

} // namespace brindle
