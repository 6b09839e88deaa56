#pragma once

#include <nlohmann/json.hpp>

#include "content_truth.h"

#include <optional>
#include <string>
#include <vector>

namespace brindle::test {

// A binary glTF file's JSON and binary chunk, as the tests read and write them.
struct GlbFile {
    nlohmann::json gltf;
    std::string bin;
};
std::optional<GlbFile> SplitGlbFile(const std::string& glb);
std::string JoinGlbFile(const GlbFile& file);

// A file with compressed views (EXT_meshopt_compression) turned back into a plain one by the
// codecs' own decoders: each compressed view decoded and put after the binary chunk's bytes,
// the fallback buffer and the extension's names gone. The views keep their indices. None
// when a view does not decode.
std::optional<std::string> DecodeMeshoptGlb(const std::string& glb);

// The triangles as numbers (corners, then normals and texture coordinates), each turned to
// start at its least corner, in sorted order: equal for two lists of the same triangles in
// any order, each starting at any corner, with the same winding.
std::vector<std::vector<double>> TrianglesInAnyOrder(const std::vector<WorldTriangle>& triangles);

} // namespace brindle::test
