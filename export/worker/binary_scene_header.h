#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// True when `bytes` start like a file of the scene-graph library's binary format, in this
// machine's byte order, whose header names no compressor it knows. The reader parses such a
// file straight from its bytes and never reads past their end unless the file is damaged;
// in a compressed file, reading to the end is the normal way in.
//
// A header too damaged to find a compressor name in counts as uncompressed: the reader cannot
// decompress it either.
bool IsUncompressedBinaryFile(std::string_view bytes);

// What the start of a file says about it as a scene file, the way the reader tells its
// formats apart.
struct SceneFileHeader {
    enum class Format { NotAScene, Binary, Text, Xml };
    Format format = Format::NotAScene;
    // Binary: the bytes end before the header's compressor name does.
    bool cut = false;
    std::uint32_t version = 0;
    std::string compressor; // Binary: "0" when the content is not compressed
    // Binary: a compressor other than the reader's own (zlib), whatever plugin may carry that name
    bool compressorUnknown = false;
};

SceneFileHeader ReadSceneFileHeader(std::string_view bytes);

} // namespace brindle
