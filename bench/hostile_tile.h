#pragma once

#include <filesystem>

namespace brindle::bench {

// Writes a small tile whose vertex array claims 0x7fffffff elements (24 GiB of vertices)
// while holding a few hundred: a reader that believes the count asks for all of it at once.
// Its folder must exist. Throws std::runtime_error when the tile cannot be written or the
// count cannot be found in it.
void WriteHostileTile(const std::filesystem::path& file);

} // namespace brindle::bench
