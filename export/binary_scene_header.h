#pragma once

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

} // namespace brindle
