#pragma once

#include "export/tiles3d/content_images.h"
#include "export/tiles3d/scene_meshes.h"

#include <osg/Vec3d>

#include <optional>
#include <string>
#include <vector>

namespace brindle {

// A part's texture as an index among the embedded images, none when it is untextured.
struct PartImage {
    std::optional<std::size_t> image;
};

// The binary glTF file of the parts: positions relative to `centre`, turned to glTF's y up,
// under one node whose translation is the centre (turned alike), one primitive a part, each
// material, sampler and texture once. `partImages` holds the
// embedded image of each part. With `quantize` (KHR_mesh_quantization), positions are 16-bit
// steps of a grid over the parts' bounds that the node's scale and translation undo as well,
// normals 16-bit and texture coordinates within the image 16-bit, normalised. None when the writer
// fails.
std::optional<std::string> WriteGlb(const std::vector<MeshPart>& parts,
                                    const std::vector<PartImage>& partImages,
                                    const std::vector<EncodedImage>& images,
                                    const osg::Vec3d& centre, bool quantize = false);

} // namespace brindle
