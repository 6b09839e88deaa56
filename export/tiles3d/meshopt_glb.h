#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// The binary glTF file `glb` with its vertex and index data compressed (EXT_meshopt_compression,
// lossless): every buffer view that only primitives' attributes read is encoded as a vertex
// stream of its element stride, every one that only primitives' indices read as a triangle list
// (or, where its triangles do not line up with its accessors, as an index sequence); the rest
// (images' bytes) is kept as it is. The file's one buffer becomes the compressed bytes (the
// binary chunk), and a second buffer without data stands for the uncompressed views'
// offsets, marked as the extension's fallback. Every view keeps its index, so accessors,
// images and materials read as before.
//
// The file is read as untrusted: a damaged container, JSON that is not the shape glTF gives
// it, views beyond their buffer, external buffers, or a file already compressed give none.
// A file with nothing to compress is given back as it is.
std::optional<std::string> CompressGlbBuffers(std::string_view glb);

} // namespace brindle
