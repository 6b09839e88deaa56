// A binary scene's header is read from the tile itself, before the scene-graph reader sees
// it: counts and lengths in it are whatever the file says.
#include "export/worker/binary_scene_header.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const bool uncompressed = brindle::IsUncompressedBinaryFile(bytes);
    // Two magic words, the type and the version come before anything else.
    if (uncompressed && size < 16)
        std::abort();
    return 0;
}
