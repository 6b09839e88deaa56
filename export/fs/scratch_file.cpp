#include "export/fs/scratch_file.h"

namespace brindle {

ScratchFileCalls SystemScratchFileCalls() {
    return ScratchFileCalls{
        [](const std::filesystem::path& folder) { return ScratchFile::Create(folder); },
        [](ScratchFile& file, std::string_view bytes) { return file.append(bytes); }};
}

} // namespace brindle
