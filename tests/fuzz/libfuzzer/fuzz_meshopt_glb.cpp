// A binary glTF file the compressor is given comes from a worker's own writer, but it is read
// as any file is: its container's lengths, its JSON and the views it names are whatever the
// bytes say. What comes out is a whole file or nothing.
#include "export/tiles3d/meshopt_glb.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> out = brindle::CompressGlbBuffers(bytes);
    if (!out)
        return 0;
    std::uint32_t length = 0;
    if (out->size() < 20 || out->compare(0, 4, "glTF") != 0)
        std::abort();
    std::memcpy(&length, out->data() + 8, 4);
    if (length != out->size() || length % 4 != 0)
        std::abort();
    return 0;
}
