#include "export/tiles3d/part_order.h"

#include <meshoptimizer.h>

#include <algorithm>

namespace brindle {
namespace {

template <typename Vertex>
void Remap(std::vector<Vertex>& values, const std::vector<unsigned int>& remap, std::size_t kept) {
    if (values.empty())
        return;
    std::vector<Vertex> ordered(kept);
    meshopt_remapVertexBuffer(ordered.data(), values.data(), values.size(), sizeof(Vertex),
                              remap.data());
    values = std::move(ordered);
}

// The triangles over their vertices renumbered in the order they first use them.
struct Order {
    std::vector<unsigned int> triangles;
    std::vector<unsigned int> remap;
    std::size_t kept = 0;
};

Order FetchOrder(std::vector<unsigned int> triangles, std::size_t vertices) {
    Order order;
    order.remap.resize(vertices);
    order.kept = meshopt_optimizeVertexFetchRemap(order.remap.data(), triangles.data(),
                                                  triangles.size(), vertices);
    meshopt_remapIndexBuffer(triangles.data(), triangles.data(), triangles.size(),
                             order.remap.data());
    order.triangles = std::move(triangles);
    return order;
}

// The room the trials encode in, reused attribute after attribute.
struct Scratch {
    std::vector<float> floats;
    std::vector<unsigned char> bytes;
};

// What the vertex codec makes of one attribute in the order, as floats, in bytes.
template <typename Vertex>
std::size_t EncodedBytes(const Order& order, const std::vector<Vertex>& values,
                         const Vertex& origin, Scratch& scratch) {
    if (values.empty())
        return 0;
    constexpr std::size_t components = Vertex::num_components;
    scratch.floats.assign(order.kept * components, 0.0f);
    for (std::size_t v = 0; v < values.size(); ++v)
        if (order.remap[v] < order.kept)
            for (std::size_t i = 0; i < components; ++i)
                scratch.floats[order.remap[v] * components + i] =
                    static_cast<float>(values[v][i] - origin[i]);
    scratch.bytes.resize(meshopt_encodeVertexBufferBound(order.kept, 4 * components));
    return meshopt_encodeVertexBuffer(scratch.bytes.data(), scratch.bytes.size(),
                                      scratch.floats.data(), order.kept, 4 * components);
}

// What the codecs make of the order's indices and attributes (as the content's floats,
// positions relative to the first vertex), in bytes.
std::size_t EncodedBytes(const Order& order, const MeshPart& part, Scratch& scratch) {
    scratch.bytes.resize(meshopt_encodeIndexBufferBound(order.triangles.size(), order.kept));
    return meshopt_encodeIndexBuffer(scratch.bytes.data(), scratch.bytes.size(),
                                     order.triangles.data(), order.triangles.size()) +
           EncodedBytes(order, part.positions, part.positions.front(), scratch) +
           EncodedBytes(order, part.normals, osg::Vec3f(), scratch) +
           EncodedBytes(order, part.texCoords, osg::Vec2f(), scratch) +
           EncodedBytes(order, part.colours, osg::Vec4f(), scratch);
}

} // namespace

void OrderForCompression(MeshPart& part) {
    std::vector<std::uint32_t>& triangles = part.triangles;
    const std::size_t vertices = part.positions.size();
    const auto matches = [vertices](const auto& values) {
        return values.empty() || values.size() == vertices;
    };
    if (triangles.empty() || triangles.size() % 3 != 0 || !matches(part.normals) ||
        !matches(part.texCoords) || !matches(part.colours) ||
        *std::max_element(triangles.begin(), triangles.end()) >= vertices)
        return;
    static_assert(sizeof(std::uint32_t) == sizeof(unsigned int));
    // A mesh written in a scan order of its own (a grid's rows) often encodes smaller as it
    // is than in cache order: whichever of the two encodes smaller is taken.
    std::vector<unsigned int> cached(triangles.size());
    meshopt_optimizeVertexCache(cached.data(), triangles.data(), triangles.size(), vertices);
    Order order = FetchOrder(std::move(cached), vertices);
    Order asWritten = FetchOrder(triangles, vertices);
    Scratch scratch;
    if (EncodedBytes(asWritten, part, scratch) <= EncodedBytes(order, part, scratch))
        order = std::move(asWritten);
    triangles.assign(order.triangles.begin(), order.triangles.end());
    Remap(part.positions, order.remap, order.kept);
    Remap(part.normals, order.remap, order.kept);
    Remap(part.texCoords, order.remap, order.kept);
    Remap(part.colours, order.remap, order.kept);
}

} // namespace brindle
