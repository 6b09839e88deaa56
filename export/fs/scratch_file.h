#pragma once

#include "export/error/result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

namespace brindle {

// A file of the run's own scratch that nothing outlives: it has no name from the start (Linux's
// O_TMPFILE), or loses it as soon as it is made (elsewhere on POSIX), or the system deletes it
// when its one handle closes (Windows' delete-on-close), so the system takes it back when the
// run ends, however it ends: done, failed, cancelled or killed. Nobody else can open it.
class ScratchFile {
public:
    // A new, empty scratch file on the disk of `folder`, which exists.
    static Result<std::unique_ptr<ScratchFile>> Create(const std::filesystem::path& folder);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Writes `bytes` whole at the end. A failure may leave part of them there.
    Status append(std::string_view bytes);
    // Exactly `size` bytes from `offset` into `into`; fewer there is an I/O error.
    Status readAt(std::uint64_t offset, char* into, std::size_t size) const;

    struct Handle;

private:
    explicit ScratchFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

// How scratch files are made and written; tests make them fail.
struct ScratchFileCalls {
    std::function<Result<std::unique_ptr<ScratchFile>>(const std::filesystem::path& folder)> create;
    std::function<Status(ScratchFile& file, std::string_view bytes)> append;
};
ScratchFileCalls SystemScratchFileCalls();

} // namespace brindle
