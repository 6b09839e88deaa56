#include "content_truth.h"

#include <osg/Geometry>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/Transform>
#include <osg/TriangleFunctor>
#include <tiny_gltf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

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

template <typename T> double Component(const unsigned char* at, bool normalised) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    if (!normalised || std::is_floating_point_v<T>)
        return static_cast<double>(value);
    // glTF's normalised integers: unsigned over [0, 1], signed over [-1, 1].
    return std::max(static_cast<double>(value) / std::numeric_limits<T>::max(), -1.0);
}

// The accessor's values as doubles, normalised integers taken to their range; none when it
// reaches past its buffer.
std::vector<double> AccessorValues(const tinygltf::Model& model, int index) {
    const tinygltf::Accessor& accessor = model.accessors.at(index);
    const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
    const tinygltf::Buffer& buffer = model.buffers.at(view.buffer);
    const int components = tinygltf::GetNumComponentsInType(accessor.type);
    const int size = tinygltf::GetComponentSizeInBytes(accessor.componentType);
    const std::size_t stride = view.byteStride != 0 ? view.byteStride : components * size;
    const std::size_t offset = view.byteOffset + accessor.byteOffset;
    if (accessor.count != 0 &&
        offset + (accessor.count - 1) * stride + components * size > buffer.data.size())
        return {};
    std::vector<double> values;
    for (std::size_t e = 0; e < accessor.count; ++e)
        for (int k = 0; k < components; ++k) {
            const unsigned char* at = buffer.data.data() + offset + e * stride + k * size;
            const bool n = accessor.normalized;
            switch (accessor.componentType) {
            case TINYGLTF_COMPONENT_TYPE_FLOAT:
                values.push_back(Component<float>(at, n));
                break;
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
                values.push_back(Component<std::uint32_t>(at, n));
                break;
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
                values.push_back(Component<std::uint16_t>(at, n));
                break;
            case TINYGLTF_COMPONENT_TYPE_SHORT:
                values.push_back(Component<std::int16_t>(at, n));
                break;
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
                values.push_back(Component<std::uint8_t>(at, n));
                break;
            case TINYGLTF_COMPONENT_TYPE_BYTE:
                values.push_back(Component<std::int8_t>(at, n));
                break;
            default:
                return {};
            }
        }
    return values;
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

ReadGlb ReadBack(const std::string& glb) {
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
            read.primitiveBaseColour.push_back(material.pbrMetallicRoughness.baseColorFactor);
            std::vector<double> positions = AccessorValues(model, attribute("POSITION"));
            // The node's scale (quantised positions have one), then its translation.
            const tinygltf::Node& node = model.nodes.at(0);
            for (std::size_t i = 0; i < positions.size(); ++i) {
                if (node.scale.size() == 3)
                    positions[i] *= node.scale[i % 3];
                if (node.translation.size() == 3)
                    positions[i] += node.translation[i % 3];
            }
            std::vector<double> normals, uvs;
            if (attribute("NORMAL") >= 0)
                normals = AccessorValues(model, attribute("NORMAL"));
            if (attribute("TEXCOORD_0") >= 0)
                uvs = AccessorValues(model, attribute("TEXCOORD_0"));
            const std::vector<double> indices = AccessorValues(model, primitive.indices);
            for (std::size_t t = 0; t + 2 < indices.size(); t += 3) {
                WorldTriangle triangle;
                for (int k = 0; k < 3; ++k) {
                    const auto i = static_cast<std::size_t>(indices[t + k]);
                    // glTF's (x, y, z) is the scene's (x, -z, y).
                    triangle.corners[k] = osg::Vec3d(positions.at(3 * i), -positions.at(3 * i + 2),
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
