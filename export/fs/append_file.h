#pragma once

#include "export/error/result.h"

#include <filesystem>
#include <functional>
#include <string_view>

namespace brindle {

// How a file of ours that grows as it is written is put on disk, one record after another;
// tests make it fail. Both calls take only a regular file itself: a link put in its place is
// refused, not followed.
struct AppendFileCalls {
    // Creates `file` empty; it must not exist yet.
    std::function<Status(const std::filesystem::path& file)> create;
    // Writes `bytes` whole at the end of `file`, a file this create() made. A failure may leave
    // part of them there.
    std::function<Status(const std::filesystem::path& file, std::string_view bytes)> append;
};
// Not flushed to disk: such a file is the run's scratch, gone before the run ends.
AppendFileCalls SystemAppendFileCalls();

} // namespace brindle
