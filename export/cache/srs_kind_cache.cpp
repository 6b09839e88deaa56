#include "export/cache/srs_kind_cache.h"

#include "export/cache/cache_folder.h"
#include "export/cache/verdict_cache.h"
#include "export/fs/atomic_file.h"
#include "export/fs/byte_fields.h"
#include "export/fs/regular_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace brindle {
namespace fs = std::filesystem;
namespace {

constexpr char kMagic[8] = {'B', 'r', 'i', 'n', 'd', 'l', 'e', 'K'};
constexpr std::uint32_t kFormat = 1;
constexpr std::size_t kMaxText = 64 * 1024;
constexpr std::size_t kMaxLibraryName = 4096;
// Every kind at its longest, with room to spare: a larger file is no file of ours.
constexpr std::uint64_t kMaxFileSize =
    std::uint64_t{SrsKindCache::kMaxKinds} * (kMaxText + 8) + kMaxLibraryName + 64;
const char kFileName[] = "srs.kinds";

bool Kept(SrsKind kind) {
    return kind == SrsKind::Projected || kind == SrsKind::Geographic || kind == SrsKind::Unknown;
}

bool TakeText(std::string_view& in, std::size_t most, std::string& text) {
    std::uint32_t length = 0;
    if (!TakeField(in, length) || length > most || in.size() < length)
        return false;
    text.assign(in.data(), length);
    in.remove_prefix(length);
    return true;
}

std::uint64_t Checksum(std::string_view bytes) {
    return SettingHash().add(bytes).value();
}

// The kinds of a file's bytes, when they are a whole file written for `library`.
bool Decode(std::string_view bytes, const std::string& library, SrsKindCache::Kinds& kinds) {
    if (bytes.size() < sizeof kMagic + 8)
        return false;
    std::uint64_t checksum = 0;
    std::string_view tail = bytes.substr(bytes.size() - 8);
    if (!TakeField(tail, checksum) || Checksum(bytes.substr(0, bytes.size() - 8)) != checksum)
        return false;
    std::string_view in = bytes.substr(0, bytes.size() - 8);
    std::uint32_t format = 0;
    std::uint32_t count = 0;
    std::string writtenFor;
    if (in.compare(0, sizeof kMagic, std::string_view(kMagic, sizeof kMagic)) != 0)
        return false;
    in.remove_prefix(sizeof kMagic);
    if (!TakeField(in, format) || format != kFormat || !TakeText(in, kMaxLibraryName, writtenFor) ||
        writtenFor != library || !TakeField(in, count) || count > SrsKindCache::kMaxKinds)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string text;
        std::uint8_t kind = 0;
        if (!TakeText(in, kMaxText, text) || !TakeField(in, kind) ||
            !Kept(static_cast<SrsKind>(kind)))
            return false;
        kinds.emplace_back(std::move(text), static_cast<SrsKind>(kind));
    }
    return in.empty();
}

std::string Encode(const std::string& library, const SrsKindCache::Kinds& kinds) {
    std::string out(kMagic, sizeof kMagic);
    PutField(out, kFormat);
    PutField(out, static_cast<std::uint32_t>(library.size()));
    out += library;
    PutField(out, static_cast<std::uint32_t>(kinds.size()));
    for (const auto& [text, kind] : kinds) {
        PutField(out, static_cast<std::uint32_t>(text.size()));
        out += text;
        PutField(out, static_cast<std::uint8_t>(kind));
    }
    PutField(out, Checksum(out));
    return out;
}

} // namespace

fs::path SrsKindCacheFile(const fs::path& cacheFolder) {
    return cacheFolder / kFileName;
}

SrsKindCache SrsKindCache::Load(const fs::path& cacheFolder, std::string library) {
    SrsKindCache cache;
    if (cacheFolder.empty() || library.size() > kMaxLibraryName)
        return cache;
    cache.file_ = SrsKindCacheFile(cacheFolder);
    cache.library_ = std::move(library);
    RegularFile file;
    const Result<RegularFile::Opened> opened = file.open(cache.file_);
    if (!opened || *opened != RegularFile::Opened::Yes || file.size() > kMaxFileSize)
        return cache;
    std::string bytes(static_cast<std::size_t>(file.size()), '\0');
    if (const Result<std::size_t> read = file.read(bytes.data(), bytes.size());
        !read || *read != bytes.size())
        return cache;
    Kinds kinds;
    if (Decode(bytes, cache.library_, kinds))
        cache.kinds_ = std::move(kinds);
    return cache;
}

void SrsKindCache::keep(const Kinds& learnt) {
    if (file_.empty())
        return;
    for (const auto& [text, kind] : learnt) {
        if (!Kept(kind) || text.size() > kMaxText)
            continue;
        const auto same = [&](const auto& known) { return known.first == text; };
        kinds_.erase(std::remove_if(kinds_.begin(), kinds_.end(), same), kinds_.end());
        kinds_.insert(kinds_.begin(), {text, kind});
        changed_ = true;
    }
    if (kinds_.size() > kMaxKinds)
        kinds_.resize(kMaxKinds);
}

Status SrsKindCache::save(const CacheWriteCalls& calls) {
    if (file_.empty() || !changed_)
        return {};
    // Looked at again before the write: the folder may have been swapped since the run began.
    const Result<CacheFolderTrust> folder = PrepareVerdictCacheFolder(file_.parent_path(), calls);
    if (!folder)
        return folder.error();
    if (*folder != CacheFolderTrust::Usable)
        return std::make_error_code(std::errc::permission_denied);
    return ReplaceFileAtomically(file_, Encode(library_, kinds_), calls.file, FileAccess::OwnerOnly)
        .error();
}

} // namespace brindle
