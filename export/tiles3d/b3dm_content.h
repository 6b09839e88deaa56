#pragma once

#include <string>
#include <string_view>

namespace brindle {

// A binary glTF file as a Batched 3D Model, the content a tileset of version 1.0 has: the
// 28-byte header ("b3dm", version 1, the lengths), a feature table of no features
// ({"BATCH_LENGTH":0}, padded with spaces so that the glb starts on 8 bytes), no batch table,
// then the glb, which ends on 8 bytes too: as it is, or with 4 spaces more at the end of its
// JSON chunk (its binary chunk, and what the JSON says, unchanged). The glb is under 2 GB (a
// content's limit), so every length fits.
std::string B3dmAround(std::string_view glb);

} // namespace brindle
