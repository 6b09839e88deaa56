#include "export/tiles3d/tile_content.h"

#include "export/tiles3d/content_images.h"
#include "export/tiles3d/glb_model.h"
#include "export/tiles3d/meshopt_glb.h"
#include "export/tiles3d/part_order.h"
#include "export/tiles3d/scene_meshes.h"

#include <cstdint>
#include <utility>

namespace brindle {
namespace {

// A binary glTF file states its length in 32 bits; its content stays well below that.
constexpr std::size_t kMaxGlbBytes = std::size_t{1} << 31;

// The bytes the parts' vertices, indices and images take, roughly: enough to refuse what
// could not be written before writing it.
std::size_t PayloadBytes(const std::vector<MeshPart>& parts, const ContentImages& images) {
    std::size_t bytes = 0;
    for (const MeshPart& part : parts)
        bytes += part.positions.size() * (12 + 12 + 8 + 16) + part.triangles.size() * 4;
    for (const EncodedImage& image : images.images())
        bytes += image.bytes.size();
    return bytes;
}

std::array<double, 12> BoxOf(const osg::BoundingBoxd& bounds) {
    const osg::Vec3d centre = bounds.center();
    const osg::Vec3d half = (bounds._max - bounds._min) * 0.5;
    return {centre.x(), centre.y(), centre.z(), half.x(), 0.0, 0.0,
            0.0,        half.y(),   0.0,        0.0,      0.0, half.z()};
}

} // namespace

Result<TileContent> MakeTileContent(const osg::Node& scene, const ContentOptions& options) {
    SceneMeshesOptions meshOptions;
    meshOptions.maxTriangles = options.maxTriangles;
    SceneMeshes meshes = CollectSceneMeshes(scene, meshOptions);
    if (meshes.capped)
        return make_error_code(ContentError::Capped);
    if (meshes.parts.empty())
        return make_error_code(ContentError::NoTriangles);

    ContentImageOptions imageOptions;
    imageOptions.maxEdge = options.maxTextureEdge;
    imageOptions.jpegQuality = options.jpegQuality;
    ContentImages images(imageOptions);
    std::vector<PartImage> partImages;
    for (const MeshPart& part : meshes.parts)
        partImages.push_back({part.look.image ? images.Add(*part.look.image) : std::nullopt});
    if (PayloadBytes(meshes.parts, images) >= kMaxGlbBytes)
        return make_error_code(ContentError::TooLarge);

    if (options.meshopt)
        for (MeshPart& part : meshes.parts)
            OrderForCompression(part);
    TileContent content;
    content.bounds = meshes.bounds;
    content.centre = meshes.bounds.center();
    content.box = BoxOf(meshes.bounds);
    std::optional<std::string> glb =
        WriteGlb(meshes.parts, partImages, images.images(), content.centre, options.quantize);
    if (glb && options.meshopt)
        glb = CompressGlbBuffers(*glb);
    if (!glb)
        return make_error_code(ContentError::WriteFailed);
    if (glb->size() >= kMaxGlbBytes)
        return make_error_code(ContentError::TooLarge);
    content.glb = std::move(*glb);
    for (const MeshPart& part : meshes.parts) {
        content.vertices += part.positions.size();
        content.triangles += part.triangles.size() / 3;
    }
    content.skippedTriangles = meshes.skippedTriangles;
    content.images = images.images().size();
    content.keptImages = images.kept();
    content.droppedTextures = images.dropped();
    return content;
}

} // namespace brindle
