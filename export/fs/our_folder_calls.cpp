#include "export/fs/our_folder_calls.h"

#include "export/fs/atomic_file.h"
#include "export/fs/folder_publish.h"
#include "export/fs/regular_file.h"

#include <string>
#include <system_error>

namespace brindle {
namespace fs = std::filesystem;

Status MakeOneFolder(const fs::path& folder) {
    std::error_code ec;
    if (fs::create_directory(folder, ec))
        return {};
    // A folder already there is no error to the standard library; to us it is a name taken.
    if (!ec || ec == std::errc::file_exists)
        return SystemError(std::errc::file_exists);
    return SystemError(ec);
}

Status WriteWholeFile(const fs::path& file, std::string_view bytes) {
    const Result<FileReplaced> replaced = ReplaceFileAtomically(file, bytes);
    if (!replaced)
        return replaced.error();
    return {};
}

Status RemoveOne(const fs::path& path) {
    std::error_code ec;
    // Gone already is gone: what the removal wanted.
    fs::remove(path, ec);
    if (ec)
        return SystemError(ec);
    return {};
}

bool HoldsMarker(const fs::path& file, std::string_view text) {
    if (IsLink(file))
        return false;
    RegularFile marker;
    const Result<RegularFile::Opened> opened = marker.open(file);
    if (!opened || *opened != RegularFile::Opened::Yes || marker.size() != text.size())
        return false;
    // One byte more than the text, so that a file grown since the open is seen.
    std::string bytes(text.size() + 1, '\0');
    const Result<std::size_t> read = marker.read(bytes.data(), bytes.size());
    return read && *read == text.size() && std::string_view(bytes.data(), *read) == text;
}

} // namespace brindle
