#include "export/tiles3d/glb_model.h"

#include <tiny_gltf.h>

#include <osg/BoundingBox>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>
#include <tuple>

namespace brindle {
namespace {

constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

// glTF's y is the scene's z: the scene's (x, y, z) is glTF's (x, z, -y).
osg::Vec3f YUp(const osg::Vec3d& v) {
    return osg::Vec3f(static_cast<float>(v.x()), static_cast<float>(v.z()),
                      static_cast<float>(-v.y()));
}

int WrapMode(osg::Texture::WrapMode mode) {
    switch (mode) {
    case osg::Texture::REPEAT:
        return TINYGLTF_TEXTURE_WRAP_REPEAT;
    case osg::Texture::MIRROR:
        return TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT;
    default:
        return TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    }
}

// The grid quantised positions are steps of: glTF (y up) position = low + step * q.
struct PositionGrid {
    osg::Vec3d low;
    osg::Vec3d step;
};

PositionGrid GridOver(const std::vector<MeshPart>& parts, const osg::Vec3d& centre) {
    osg::BoundingBoxd box;
    for (const MeshPart& part : parts)
        for (const osg::Vec3d& p : part.positions)
            box.expandBy(osg::Vec3d(YUp(p - centre)));
    PositionGrid grid{box._min, {}};
    for (int i = 0; i < 3; ++i) {
        const double extent = box._max[i] - box._min[i];
        grid.step[i] = extent > 0.0 ? extent / 65535.0 : 1.0;
    }
    return grid;
}

// A value in [-1, 1] as a normalised signed 16-bit integer, in [0, 1] as an unsigned one.
std::int16_t SignedNormalised(double value) {
    return static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767.0));
}
std::uint16_t UnsignedNormalised(double value) {
    return static_cast<std::uint16_t>(std::lround(std::clamp(value, 0.0, 1.0) * 65535.0));
}

class ModelBuilder {
public:
    ModelBuilder(const std::vector<EncodedImage>& images, std::optional<PositionGrid> grid)
        : images_(images), grid_(grid) {
        model_.asset.version = "2.0";
        model_.asset.generator = "Brindle";
        model_.buffers.emplace_back();
        for (const EncodedImage& image : images) {
            tinygltf::Image entry;
            entry.mimeType = image.mimeType;
            entry.bufferView = View(image.bytes.data(), image.bytes.size(), 0);
            model_.images.push_back(std::move(entry));
        }
    }

    void Add(const MeshPart& part, std::optional<std::size_t> image, const osg::Vec3d& centre) {
        tinygltf::Primitive primitive;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        primitive.attributes["POSITION"] =
            grid_ ? QuantisedPositions(part.positions, centre) : Positions(part.positions, centre);
        if (!part.normals.empty() && grid_) {
            std::vector<std::int16_t> normals;
            for (const osg::Vec3f& n : part.normals) {
                const osg::Vec3f up = YUp(osg::Vec3d(n));
                normals.insert(normals.end(), {SignedNormalised(up.x()), SignedNormalised(up.y()),
                                               SignedNormalised(up.z()), 0});
            }
            primitive.attributes["NORMAL"] =
                Shorts(normals.data(), normals.size(), TINYGLTF_COMPONENT_TYPE_SHORT,
                       TINYGLTF_TYPE_VEC3, 4, true);
        } else if (!part.normals.empty()) {
            std::vector<float> normals;
            for (const osg::Vec3f& n : part.normals) {
                const osg::Vec3f up = YUp(osg::Vec3d(n));
                normals.insert(normals.end(), {up.x(), up.y(), up.z()});
            }
            primitive.attributes["NORMAL"] = Floats(normals, TINYGLTF_TYPE_VEC3, 3);
        }
        if (image && !part.texCoords.empty()) {
            // OSG's t runs up the image, glTF's v down it.
            std::vector<float> uv;
            for (const osg::Vec2f& st : part.texCoords)
                uv.insert(uv.end(), {st.x(), 1.0f - st.y()});
            const bool withinImage =
                std::all_of(uv.begin(), uv.end(), [](float x) { return x >= 0.0f && x <= 1.0f; });
            if (grid_ && withinImage) {
                std::vector<std::uint16_t> shorts;
                for (const float x : uv)
                    shorts.push_back(UnsignedNormalised(x));
                primitive.attributes["TEXCOORD_0"] =
                    Shorts(shorts.data(), shorts.size(), TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                           TINYGLTF_TYPE_VEC2, 2, true);
            } else {
                primitive.attributes["TEXCOORD_0"] = Floats(uv, TINYGLTF_TYPE_VEC2, 2);
            }
        } else {
            image.reset();
        }
        if (!part.colours.empty()) {
            std::vector<float> colours;
            for (const osg::Vec4f& c : part.colours)
                colours.insert(colours.end(), {c.r(), c.g(), c.b(), c.a()});
            primitive.attributes["COLOR_0"] = Floats(colours, TINYGLTF_TYPE_VEC4, 4);
        }
        primitive.indices = Indices(part.triangles, part.positions.size());
        const bool vertexAlpha = std::any_of(part.colours.begin(), part.colours.end(),
                                             [](const osg::Vec4f& c) { return c.a() < 1.0f; });
        primitive.material = Material(part.look, image, vertexAlpha);
        mesh_.primitives.push_back(std::move(primitive));
    }

    // The node puts the positions back where the scene has them, in glTF's y up: a translation
    // to the centre (and, quantised, from the grid's steps to lengths), in doubles, so a
    // content drawn with the identity lands in the scene's frame to the precision the scene
    // has.
    std::optional<std::string> Write(const osg::Vec3d& centre) && {
        model_.meshes.push_back(std::move(mesh_));
        tinygltf::Node node;
        node.mesh = 0;
        const osg::Vec3d up(centre.x(), centre.z(), -centre.y());
        node.translation = {up.x(), up.y(), up.z()};
        if (grid_) {
            node.translation = {up.x() + grid_->low.x(), up.y() + grid_->low.y(),
                                up.z() + grid_->low.z()};
            node.scale = {grid_->step.x(), grid_->step.y(), grid_->step.z()};
            model_.extensionsUsed.push_back("KHR_mesh_quantization");
            model_.extensionsRequired.push_back("KHR_mesh_quantization");
        }
        model_.nodes.push_back(std::move(node));
        tinygltf::Scene scene;
        scene.nodes.push_back(0);
        model_.scenes.push_back(std::move(scene));
        model_.defaultScene = 0;
        if (unlit_)
            model_.extensionsUsed.push_back("KHR_materials_unlit");
        std::ostringstream out;
        tinygltf::TinyGLTF writer;
        if (!writer.WriteGltfSceneToStream(&model_, out, false, true))
            return std::nullopt;
        return std::move(out).str();
    }

private:
    // Appends the bytes to the buffer, each view starting at a multiple of four.
    int View(const void* data, std::size_t size, int target) {
        std::vector<unsigned char>& buffer = model_.buffers[0].data;
        buffer.resize((buffer.size() + 3) / 4 * 4);
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = buffer.size();
        view.byteLength = size;
        view.target = target;
        const auto* bytes = static_cast<const unsigned char*>(data);
        buffer.insert(buffer.end(), bytes, bytes + size);
        model_.bufferViews.push_back(view);
        return static_cast<int>(model_.bufferViews.size() - 1);
    }

    int Accessor(int view, int componentType, int type, std::size_t count) {
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.componentType = componentType;
        accessor.type = type;
        accessor.count = count;
        model_.accessors.push_back(std::move(accessor));
        return static_cast<int>(model_.accessors.size() - 1);
    }

    int Floats(const std::vector<float>& values, int type, int components) {
        const int view = View(values.data(), values.size() * sizeof(float), kArrayBuffer);
        return Accessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, type, values.size() / components);
    }

    int Positions(const std::vector<osg::Vec3d>& positions, const osg::Vec3d& centre) {
        std::vector<float> values;
        values.reserve(positions.size() * 3);
        std::vector<double> low(3, std::numeric_limits<double>::infinity());
        std::vector<double> high(3, -std::numeric_limits<double>::infinity());
        for (const osg::Vec3d& p : positions) {
            const osg::Vec3f up = YUp(p - centre);
            for (int i = 0; i < 3; ++i) {
                low[i] = std::min(low[i], double{up[i]});
                high[i] = std::max(high[i], double{up[i]});
                values.push_back(up[i]);
            }
        }
        const int accessor = Floats(values, TINYGLTF_TYPE_VEC3, 3);
        model_.accessors[accessor].minValues = low;
        model_.accessors[accessor].maxValues = high;
        return accessor;
    }

    // Each vertex's 16-bit components, `stride` of them (its components padded to four bytes).
    template <typename Short>
    int Shorts(const Short* values, std::size_t count, int componentType, int type, int stride,
               bool normalised) {
        const int view = View(values, count * sizeof(Short), kArrayBuffer);
        model_.bufferViews[view].byteStride = stride * sizeof(Short);
        const int accessor = Accessor(view, componentType, type, count / stride);
        model_.accessors[accessor].normalized = normalised;
        return accessor;
    }

    int QuantisedPositions(const std::vector<osg::Vec3d>& positions, const osg::Vec3d& centre) {
        std::vector<std::uint16_t> values;
        values.reserve(positions.size() * 4);
        std::vector<double> low(3, 65535.0), high(3, 0.0);
        for (const osg::Vec3d& p : positions) {
            const osg::Vec3f up = YUp(p - centre);
            for (int i = 0; i < 3; ++i) {
                const double steps = std::clamp(
                    std::round((double{up[i]} - grid_->low[i]) / grid_->step[i]), 0.0, 65535.0);
                low[i] = std::min(low[i], steps);
                high[i] = std::max(high[i], steps);
                values.push_back(static_cast<std::uint16_t>(steps));
            }
            values.push_back(0);
        }
        const int accessor =
            Shorts(values.data(), values.size(), TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                   TINYGLTF_TYPE_VEC3, 4, false);
        model_.accessors[accessor].minValues = low;
        model_.accessors[accessor].maxValues = high;
        return accessor;
    }

    // Short indices where every index fits below the largest, which restarts a strip.
    int Indices(const std::vector<std::uint32_t>& triangles, std::size_t vertices) {
        if (vertices < 0xFFFF) {
            const std::vector<std::uint16_t> shorts(triangles.begin(), triangles.end());
            const int view = View(shorts.data(), shorts.size() * 2, kElementArrayBuffer);
            return Accessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_SCALAR,
                            shorts.size());
        }
        const int view = View(triangles.data(), triangles.size() * 4, kElementArrayBuffer);
        return Accessor(view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR,
                        triangles.size());
    }

    int Texture(std::size_t image, const MeshLook& look) {
        const std::pair<int, int> wrap{WrapMode(look.wrapS), WrapMode(look.wrapT)};
        auto sampler = samplers_.find(wrap);
        if (sampler == samplers_.end()) {
            tinygltf::Sampler entry;
            entry.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
            entry.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
            entry.wrapS = wrap.first;
            entry.wrapT = wrap.second;
            model_.samplers.push_back(entry);
            sampler = samplers_.emplace(wrap, static_cast<int>(model_.samplers.size() - 1)).first;
        }
        const std::pair<int, int> key{static_cast<int>(image), sampler->second};
        auto texture = textures_.find(key);
        if (texture == textures_.end()) {
            tinygltf::Texture entry;
            entry.source = key.first;
            entry.sampler = key.second;
            model_.textures.push_back(entry);
            texture = textures_.emplace(key, static_cast<int>(model_.textures.size() - 1)).first;
        }
        return texture->second;
    }

    int Material(const MeshLook& look, std::optional<std::size_t> image, bool vertexAlpha) {
        const int texture = image ? Texture(*image, look) : -1;
        const bool blend =
            look.colour.a() < 1.0f || vertexAlpha || (image && images_[*image].alpha);
        const auto key = std::make_tuple(texture, look.colour.r(), look.colour.g(), look.colour.b(),
                                         look.colour.a(), look.lit, blend);
        const auto known = materials_.find(key);
        if (known != materials_.end())
            return known->second;
        tinygltf::Material material;
        auto& pbr = material.pbrMetallicRoughness;
        pbr.baseColorFactor = {look.colour.r(), look.colour.g(), look.colour.b(), look.colour.a()};
        pbr.baseColorTexture.index = texture;
        pbr.metallicFactor = 0.0;
        pbr.roughnessFactor = 1.0;
        // Nothing culls a tile's back faces in the viewer either.
        material.doubleSided = true;
        material.alphaMode = blend ? "BLEND" : "OPAQUE";
        if (!look.lit) {
            material.extensions["KHR_materials_unlit"] = tinygltf::Value(tinygltf::Value::Object());
            unlit_ = true;
        }
        model_.materials.push_back(std::move(material));
        const int index = static_cast<int>(model_.materials.size() - 1);
        materials_.emplace(key, index);
        return index;
    }

    const std::vector<EncodedImage>& images_;
    std::optional<PositionGrid> grid_;
    tinygltf::Model model_;
    tinygltf::Mesh mesh_;
    std::map<std::pair<int, int>, int> samplers_;
    std::map<std::pair<int, int>, int> textures_;
    std::map<std::tuple<int, float, float, float, float, bool, bool>, int> materials_;
    bool unlit_ = false;
};

} // namespace

std::optional<std::string> WriteGlb(const std::vector<MeshPart>& parts,
                                    const std::vector<PartImage>& partImages,
                                    const std::vector<EncodedImage>& images,
                                    const osg::Vec3d& centre, bool quantize) {
    ModelBuilder builder(images, quantize ? std::optional<PositionGrid>(GridOver(parts, centre))
                                          : std::nullopt);
    for (std::size_t i = 0; i < parts.size(); ++i)
        builder.Add(parts[i], i < partImages.size() ? partImages[i].image : std::nullopt, centre);
    return std::move(builder).Write(centre);
}

} // namespace brindle
