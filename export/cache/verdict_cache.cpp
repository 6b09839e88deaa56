#include "export/cache/verdict_cache.h"

#include "export/cache/cache_folder.h"
#include "export/fs/atomic_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>
#endif

namespace brindle {
namespace fs = std::filesystem;
namespace {

// The file's first bytes, and the version of the layout below. A file of another layout is
// ignored whole.
constexpr char kMagic[8] = {'B', 'r', 'i', 'n', 'd', 'l', 'e', 'V'};
constexpr std::uint32_t kFormat = 2;
// magic, format, key length, setting, entry count, body size, body checksum
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 8 + 8 + 8 + 8;
// device, inode, size, write time, change time; flags, load failure, existing verdict, bound
constexpr std::size_t kStampSize = 5 * 8;
constexpr std::size_t kFixedEntrySize = kStampSize + 4;
constexpr std::size_t kBoundSize = 4 * 8;
constexpr std::size_t kWrittenFromSize = 8;
constexpr std::size_t kMaxName = 0xffff;
constexpr std::size_t kMaxLevelsName = 255;
constexpr std::size_t kMaxText = kMaxReaderText;
const char kCacheExtension[] = ".verdicts";

enum EntryFlags : std::uint8_t {
    kHasTile = 1,
    kLoads = 2,
    kBoundAsked = 4,
    kWrittenFrom = 8,
    kLevels = 16,
};

template <typename T> void Put(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

template <typename T> T Get(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A checksum of the body, eight bytes a step, so that 10^5 entries take a millisecond.
std::uint64_t Checksum(std::string_view bytes) {
    constexpr std::uint64_t kMultiplier = 0xff51afd7ed558ccd;
    std::uint64_t hash = 0x9e3779b97f4a7c15 ^ bytes.size();
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        hash = (hash ^ Get<std::uint64_t>(bytes.data() + i)) * kMultiplier;
        hash ^= hash >> 32;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    hash = (hash ^ tail) * kMultiplier;
    return hash ^ (hash >> 29);
}

std::string FolderKey(const fs::path& folder) {
    return RequestPathText(folder.lexically_normal());
}

// The length of the entry at `at`, or 0 when it does not fit in `end` or is malformed.
std::size_t EntryLength(const char* at, const char* end) {
    const auto left = [&](const char* p) { return static_cast<std::size_t>(end - p); };
    if (left(at) < 2)
        return 0;
    const std::size_t nameLength = Get<std::uint16_t>(at);
    const char* p = at + 2 + nameLength;
    if (left(at) < 2 + nameLength || left(p) < kFixedEntrySize)
        return 0;
    const auto flags = static_cast<std::uint8_t>(p[kStampSize]);
    const auto failure = static_cast<std::uint8_t>(p[kStampSize + 1]);
    const auto existing = static_cast<std::uint8_t>(p[kStampSize + 2]);
    const auto boundKind = static_cast<std::uint8_t>(p[kStampSize + 3]);
    if (flags > (kHasTile | kLoads | kBoundAsked | kWrittenFrom | kLevels) ||
        failure > static_cast<std::uint8_t>(LoadFailure::ReaderError) ||
        existing > static_cast<std::uint8_t>(ExistingFileKind::DoesNotLoad) ||
        boundKind > static_cast<std::uint8_t>(TileBound::Kind::Unknown))
        return 0;
    p += kFixedEntrySize;
    if (flags & kBoundAsked) {
        if (left(p) < kBoundSize)
            return 0;
        p += kBoundSize;
    }
    if (flags & kWrittenFrom) {
        if (left(p) < kWrittenFromSize)
            return 0;
        p += kWrittenFromSize;
    }
    if (flags & kLevels) {
        if (left(p) < 1 || left(p + 1) < static_cast<std::uint8_t>(*p))
            return 0;
        p += 1 + static_cast<std::uint8_t>(*p);
    }
    if (failure == static_cast<std::uint8_t>(LoadFailure::ReaderError)) {
        if (left(p) < 2 || Get<std::uint16_t>(p) > kMaxText || left(p + 2) < Get<std::uint16_t>(p))
            return 0;
        p += 2 + Get<std::uint16_t>(p);
    }
    return static_cast<std::size_t>(p - at);
}

void EncodeInto(std::string& out, std::string_view name, const CacheEntry& verdicts) {
    Put(out, static_cast<std::uint16_t>(name.size()));
    out += name;
    Put(out, verdicts.file.device);
    Put(out, verdicts.file.inode);
    Put(out, verdicts.file.size);
    Put(out, verdicts.file.modified);
    Put(out, verdicts.file.changed);
    std::uint8_t flags = 0;
    LoadFailure failure = LoadFailure::None;
    TileBound bound;
    std::string_view text;
    if (const std::optional<KeptTileOutcome>& tile = verdicts.tile) {
        flags |= kHasTile;
        if (tile->loads)
            flags |= kLoads;
        else
            failure = tile->loadFailure;
        if (tile->bound.kind != TileBound::Kind::NotAsked)
            flags |= kBoundAsked;
        bound = tile->bound;
        if (failure == LoadFailure::ReaderError)
            text = std::string_view(tile->readerText).substr(0, kMaxText);
    }
    if (verdicts.writtenFrom != 0)
        flags |= kWrittenFrom;
    const std::string_view levels = verdicts.levels.size() <= kMaxLevelsName
                                        ? std::string_view(verdicts.levels)
                                        : std::string_view();
    if (!levels.empty())
        flags |= kLevels;
    Put(out, flags);
    Put(out, static_cast<std::uint8_t>(failure));
    Put(out, static_cast<std::uint8_t>(verdicts.existing));
    Put(out, static_cast<std::uint8_t>(bound.kind));
    if (flags & kBoundAsked) {
        for (const double c : bound.centre)
            Put(out, c);
        Put(out, bound.radius);
    }
    if (flags & kWrittenFrom)
        Put(out, verdicts.writtenFrom);
    if (flags & kLevels) {
        Put(out, static_cast<std::uint8_t>(levels.size()));
        out += levels;
    }
    if (failure == LoadFailure::ReaderError) {
        Put(out, static_cast<std::uint16_t>(text.size()));
        out += text;
    }
}

} // namespace

SettingHash& SettingHash::add(std::string_view bytes) {
    hash_.addBytes(bytes);
    // The length too, so that "ab" + "c" and "a" + "bc" differ.
    return add(static_cast<std::uint64_t>(bytes.size()));
}

SettingHash& SettingHash::add(std::uint64_t value) {
    hash_.addWord(value);
    return *this;
}

VerdictCache VerdictCache::Load(const fs::path& cacheFolder, const fs::path& folder,
                                std::uint64_t setting) {
    VerdictCache cache;
    cache.file_ = VerdictCacheFileFor(cacheFolder, folder);
    cache.folderKey_ = FolderKey(folder);
    cache.setting_ = setting;
    RegularFile file;
    const Result<RegularFile::Opened> opened = file.open(cache.file_);
    if (!opened || *opened != RegularFile::Opened::Yes || file.size() < kHeaderSize ||
        file.size() > kVerdictCacheBudget)
        return cache;
    std::string bytes(static_cast<std::size_t>(file.size()), '\0');
    if (const Result<std::size_t> read = file.read(bytes.data(), bytes.size());
        !read || *read != bytes.size())
        return cache;
    const char* at = bytes.data();
    const auto keyLength = Get<std::uint32_t>(at + 12);
    const auto count = Get<std::uint64_t>(at + 24);
    const auto bodySize = Get<std::uint64_t>(at + 32);
    if (std::memcmp(at, kMagic, sizeof kMagic) != 0 || Get<std::uint32_t>(at + 8) != kFormat ||
        Get<std::uint64_t>(at + 16) != setting || keyLength != cache.folderKey_.size() ||
        bodySize > bytes.size() || bytes.size() != kHeaderSize + keyLength + bodySize ||
        bytes.compare(kHeaderSize, keyLength, cache.folderKey_) != 0 ||
        count > bodySize / (2 + kFixedEntrySize))
        return cache;
    const std::string_view body(at + kHeaderSize + keyLength, bodySize);
    if (Checksum(body) != Get<std::uint64_t>(at + 40))
        return cache;
    std::vector<Read> names;
    names.reserve(static_cast<std::size_t>(count));
    const char* p = body.data();
    const char* end = body.data() + body.size();
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t length = EntryLength(p, end);
        if (length == 0)
            return cache;
        const std::size_t nameLength = Get<std::uint16_t>(p);
        names.push_back({std::string_view(p + 2, nameLength),
                         static_cast<std::size_t>(p + 2 + nameLength - at)});
        p += length;
    }
    if (p != end)
        return cache;
    // The views point into the string's own buffer, which a move keeps.
    cache.bytes_ = std::move(bytes);
    cache.names_ = std::move(names);
    return cache;
}

const VerdictCache::Read* VerdictCache::lookUp(std::string_view name) const {
    if (cursor_ < names_.size() && names_[cursor_].name == name)
        return &names_[cursor_++];
    if (byName_.empty()) {
        byName_.reserve(names_.size());
        for (std::size_t i = 0; i < names_.size(); ++i)
            byName_.emplace(names_[i].name, i);
    }
    const auto found = byName_.find(name);
    if (found == byName_.end())
        return nullptr;
    cursor_ = found->second + 1;
    return &names_[found->second];
}

std::optional<CacheEntry> VerdictCache::find(std::string_view name) const {
    const Read* read = lookUp(name);
    if (!read)
        return std::nullopt;
    return decode(read->offset);
}

std::optional<CacheEntry> VerdictCache::decode(std::size_t offset) const {
    const char* p = bytes_.data() + offset;
    CacheEntry verdicts;
    verdicts.file.type = fs::file_type::regular;
    verdicts.file.device = Get<std::uint64_t>(p);
    verdicts.file.inode = Get<std::uint64_t>(p + 8);
    verdicts.file.size = Get<std::uint64_t>(p + 16);
    verdicts.file.modified = Get<std::int64_t>(p + 24);
    verdicts.file.changed = Get<std::int64_t>(p + 32);
    p += kStampSize;
    const auto flags = static_cast<std::uint8_t>(p[0]);
    const auto failure = static_cast<LoadFailure>(p[1]);
    verdicts.existing = static_cast<ExistingFileKind>(p[2]);
    const auto boundKind = static_cast<TileBound::Kind>(p[3]);
    p += 4;
    TileBound bound;
    if (flags & kBoundAsked) {
        bound.kind = boundKind;
        for (double& c : bound.centre) {
            c = Get<double>(p);
            p += 8;
        }
        bound.radius = Get<double>(p);
        p += 8;
    }
    if (flags & kWrittenFrom) {
        verdicts.writtenFrom = Get<std::uint64_t>(p);
        p += kWrittenFromSize;
    }
    if (flags & kLevels) {
        verdicts.levels.assign(p + 1, static_cast<std::uint8_t>(*p));
        p += 1 + verdicts.levels.size();
    }
    if (flags & kHasTile) {
        KeptTileOutcome tile;
        tile.loads = (flags & kLoads) != 0;
        tile.loadFailure = failure;
        tile.bound = bound;
        if (failure == LoadFailure::ReaderError)
            tile.readerText.assign(p + 2, Get<std::uint16_t>(p));
        // A verdict that says neither is no verdict.
        if (tile.loads == (failure != LoadFailure::None))
            return std::nullopt;
        verdicts.tile = std::move(tile);
    }
    return verdicts;
}

void VerdictCache::keep(std::string_view name, const CacheEntry& verdicts) {
    if (file_.empty() || name.size() > kMaxName || verdicts.file.type != fs::file_type::regular ||
        verdicts.file.inode == 0 || verdicts.file.changed == 0 ||
        (!verdicts.tile && verdicts.existing == ExistingFileKind::None &&
         verdicts.writtenFrom == 0))
        return;
    if (verdicts.tile && verdicts.tile->loads == (verdicts.tile->loadFailure != LoadFailure::None))
        return;
    // A re-run keeps about what it read.
    if (kept_.empty())
        kept_.reserve(bytes_.size());
    EncodeInto(kept_, name, verdicts);
    ++keptCount_;
}

Status VerdictCache::save(const CacheWriteCalls& calls) {
    if (file_.empty())
        return {};
    std::string out;
    out.reserve(kHeaderSize + folderKey_.size() + kept_.size());
    out.append(kMagic, sizeof kMagic);
    Put(out, kFormat);
    Put(out, static_cast<std::uint32_t>(folderKey_.size()));
    Put(out, setting_);
    Put(out, static_cast<std::uint64_t>(keptCount_));
    Put(out, static_cast<std::uint64_t>(kept_.size()));
    Put(out, Checksum(kept_));
    out += folderKey_;
    out += kept_;
    if (out == bytes_)
        return renew(calls);
    // Looked at again before each write: the folder may have been swapped since the run began.
    const Result<CacheFolderTrust> folder = PrepareVerdictCacheFolder(file_.parent_path(), calls);
    if (!folder)
        return folder.error();
    switch (*folder) {
    case CacheFolderTrust::Usable:
        break;
    case CacheFolderTrust::IsLink:
        return std::make_error_code(std::errc::too_many_symbolic_link_levels);
    case CacheFolderTrust::NotOwned:
    case CacheFolderTrust::OpenToOthers:
        return std::make_error_code(std::errc::permission_denied);
    }
    // A folder entry not yet flushed costs at worst the next run's reuse of these verdicts.
    return ReplaceFileAtomically(file_, out, calls.file, FileAccess::OwnerOnly).error();
}

Status VerdictCache::renew(const CacheWriteCalls& calls) const {
#ifdef _WIN32
    (void)calls;
    std::error_code ec;
    fs::last_write_time(file_, fs::file_time_type::clock::now(), ec);
    return ec;
#else
    const struct timespec now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    if (calls.utimensat(AT_FDCWD, file_.c_str(), now, 0) != 0)
        return CacheCallError();
    // Earlier versions left their cache files readable by others.
    if (calls.chmod(file_.c_str(), 0600) != 0)
        return CacheCallError();
    return {};
#endif
}

fs::path DefaultVerdictCacheFolder() {
#ifdef _WIN32
    PWSTR known = nullptr;
    fs::path local;
    if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK && known)
        local = fs::path(known);
    CoTaskMemFree(known);
    if (local.empty())
        if (const wchar_t* variable = _wgetenv(L"LOCALAPPDATA"); variable && *variable)
            local = fs::path(variable);
    if (local.empty() || !local.is_absolute())
        return {};
    return local / "brindle" / "cache";
#else
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        return fs::path(xdg) / "brindle";
    if (const char* home = std::getenv("HOME"); home && *home && fs::path(home).is_absolute())
        return fs::path(home) / ".cache" / "brindle";
    return {};
#endif
}

fs::path VerdictCacheFileFor(const fs::path& cacheFolder, const fs::path& folder) {
    char name[24];
    std::snprintf(name, sizeof name, "%016llx",
                  static_cast<unsigned long long>(SettingHash().add(FolderKey(folder)).value()));
    return cacheFolder / (std::string(name) + kCacheExtension);
}

void TrimVerdictCache(const fs::path& cacheFolder, std::uint64_t budget) {
    RemoveStaleTemporaryFiles(cacheFolder);
    struct Cached {
        fs::path file;
        fs::file_time_type used;
        std::uint64_t size;
    };
    std::vector<Cached> files;
    std::uint64_t total = 0;
    std::error_code ec;
    for (fs::directory_iterator it(cacheFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        if (it->path().extension() != kCacheExtension || !it->is_regular_file(entryError))
            continue;
        const std::uint64_t size = it->file_size(entryError);
        const fs::file_time_type used = it->last_write_time(entryError);
        if (entryError)
            continue;
        files.push_back({it->path(), used, size});
        total += size;
    }
    if (total <= budget)
        return;
    std::sort(files.begin(), files.end(),
              [](const Cached& a, const Cached& b) { return a.used < b.used; });
    for (const Cached& cached : files) {
        if (total <= budget)
            break;
        if (fs::remove(cached.file, ec))
            total -= cached.size;
    }
}

} // namespace brindle
