#include "content_truth.h"

#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/Transform>
#include <osg/TriangleFunctor>
#include <tiny_gltf.h>

#include <cstring>

namespace brindle::test {
namespace {

struct Corners {
    std::vector<std::array<osg::Vec3, 3>>* out = nullptr;
    void operator()(const osg::Vec3& a, const osg::Vec3& b, const osg::Vec3& c) const {
        out->push_back({a, b, c});
    }
};

class TriangleWalk : public osg::NodeVisitor {
public:
    TriangleWalk() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    std::vector<WorldTriangle> triangles;

    void apply(osg::Transform& transform) override {
        const osg::Matrixd outer = matrix_;
        transform.computeLocalToWorldMatrix(matrix_, this);
        traverse(transform);
        matrix_ = outer;
    }
    void apply(osg::Geometry& geometry) override {
        osg::TriangleFunctor<Corners> functor;
        std::vector<std::array<osg::Vec3, 3>> local;
        functor.out = &local;
        geometry.accept(functor);
        for (const auto& corners : local) {
            WorldTriangle triangle;
            for (int k = 0; k < 3; ++k)
                triangle.corners[k] = osg::Vec3d(corners[k]) * matrix_;
            triangles.push_back(triangle);
        }
    }

private:
    osg::Matrixd matrix_;
};

template <typename T>
std::vector<T> AccessorValues(const tinygltf::Model& model, int index, int components) {
    const tinygltf::Accessor& accessor = model.accessors.at(index);
    const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
    const tinygltf::Buffer& buffer = model.buffers.at(view.buffer);
    std::vector<T> values(accessor.count * components);
    const std::size_t offset = view.byteOffset + accessor.byteOffset;
    if (offset + values.size() * sizeof(T) > buffer.data.size())
        return {};
    std::memcpy(values.data(), buffer.data.data() + offset, values.size() * sizeof(T));
    return values;
}

std::vector<std::uint32_t> Indices(const tinygltf::Model& model, int index) {
    const int type = model.accessors.at(index).componentType;
    if (type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT) {
        const std::vector<std::uint16_t> shorts = AccessorValues<std::uint16_t>(model, index, 1);
        return {shorts.begin(), shorts.end()};
    }
    return AccessorValues<std::uint32_t>(model, index, 1);
}

// Keeps an image's bytes as they are.
bool KeepImageBytes(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                    const unsigned char* bytes, int size, void*) {
    image->image.assign(bytes, bytes + size);
    image->as_is = true;
    return true;
}

} // namespace

std::vector<WorldTriangle> SceneTriangles(const osg::Node& scene) {
    TriangleWalk walk;
    const_cast<osg::Node&>(scene).accept(walk);
    return walk.triangles;
}

ReadGlb ReadBack(const std::string& glb, const osg::Vec3d& centre) {
    ReadGlb read;
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(KeepImageBytes, nullptr);
    std::string warnings;
    read.loaded = loader.LoadBinaryFromMemory(&model, &read.error, &warnings,
                                              reinterpret_cast<const unsigned char*>(glb.data()),
                                              static_cast<unsigned>(glb.size()));
    if (!read.loaded)
        return read;
    read.extensionsUsed.insert(model.extensionsUsed.begin(), model.extensionsUsed.end());
    for (const tinygltf::Image& image : model.images) {
        read.images.emplace_back(image.image.begin(), image.image.end());
        read.mimeTypes.push_back(image.mimeType);
    }
    for (const tinygltf::Mesh& mesh : model.meshes) {
        for (const tinygltf::Primitive& primitive : mesh.primitives) {
            const auto attribute = [&](const char* name) {
                const auto found = primitive.attributes.find(name);
                return found == primitive.attributes.end() ? -1 : found->second;
            };
            const tinygltf::Material& material = model.materials.at(primitive.material);
            read.primitiveUnlit.push_back(material.extensions.count("KHR_materials_unlit") > 0);
            read.primitiveTextured.push_back(material.pbrMetallicRoughness.baseColorTexture.index >=
                                             0);
            read.primitiveColoured.push_back(attribute("COLOR_0") >= 0);
            const std::vector<float> positions =
                AccessorValues<float>(model, attribute("POSITION"), 3);
            std::vector<float> normals, uvs;
            if (attribute("NORMAL") >= 0)
                normals = AccessorValues<float>(model, attribute("NORMAL"), 3);
            if (attribute("TEXCOORD_0") >= 0)
                uvs = AccessorValues<float>(model, attribute("TEXCOORD_0"), 2);
            const std::vector<std::uint32_t> indices = Indices(model, primitive.indices);
            for (std::size_t t = 0; t + 2 < indices.size(); t += 3) {
                WorldTriangle triangle;
                for (int k = 0; k < 3; ++k) {
                    const std::size_t i = indices[t + k];
                    // glTF's (x, y, z) is the scene's (x, -z, y).
                    triangle.corners[k] =
                        centre + osg::Vec3d(positions.at(3 * i), -positions.at(3 * i + 2),
                                            positions.at(3 * i + 1));
                    if (!normals.empty())
                        triangle.normals.emplace_back(normals.at(3 * i), -normals.at(3 * i + 2),
                                                      normals.at(3 * i + 1));
                    if (!uvs.empty())
                        triangle.texCoords.emplace_back(uvs.at(2 * i), 1.0 - uvs.at(2 * i + 1));
                }
                read.triangles.push_back(triangle);
            }
        }
    }
    return read;
}

} // namespace brindle::test
