#pragma once

#include "export/tiles3d/scene_meshes.h"

namespace brindle {

// The part's triangles in the order a vertex cache reuses most of, and its vertices in the
// order those triangles first use them (every attribute alike): the same triangles over the
// same vertices, but neighbours next to each other, which the compressed contents' codecs
// encode in fewer bytes. Vertices no triangle uses are dropped.
void OrderForCompression(MeshPart& part);

} // namespace brindle
