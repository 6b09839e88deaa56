#include "export/tiles3d/file_stamp.h"

#include "export/fs/regular_file.h"

#include <cstdio>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

PathKey ResolvedPathKey(const fs::path& file) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(file, error);
    return PathKey::Of((error ? file.lexically_normal() : canonical).generic_u8string());
}

std::optional<FileStamp> StampOfFacts(const Result<FileFacts>& facts) {
    if (!facts || facts->type != fs::file_type::regular)
        return std::nullopt;
    return FileStamp{facts->size, facts->modified};
}

} // namespace

std::optional<FileStamp> StampOf(const fs::path& file) {
    // The write time comes with the look for the file's identity on every system.
    return StampOfFacts(LookAt(file, Look::WithIdentity));
}

bool HoldsBytes(const fs::path& file, std::uint64_t bytes) {
    if (IsLink(file))
        return false;
    const Result<FileFacts> facts = LookAt(file, Look::TypeAndSize);
    return facts && facts->type == fs::file_type::regular && facts->size == bytes;
}

FileLook LookAtFile(const fs::path& file) {
    const Result<FileFacts> facts = LookAt(file, Look::WithIdentity);
    FileLook look;
    look.stamp = StampOfFacts(facts);
    if (!facts || facts->type == fs::file_type::not_found ||
        (facts->device == 0 && facts->inode == 0)) {
        look.identity = ResolvedPathKey(file);
        return look;
    }
    // No path's text begins with a control character and "inode".
    char text[64];
    std::snprintf(text, sizeof text, "\x01inode:%llx:%llx",
                  static_cast<unsigned long long>(facts->device),
                  static_cast<unsigned long long>(facts->inode));
    look.identity = PathKey::Of(text);
    return look;
}

} // namespace brindle
