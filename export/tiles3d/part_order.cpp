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
    std::vector<unsigned int> cached(triangles.size());
    meshopt_optimizeVertexCache(cached.data(), triangles.data(), triangles.size(), vertices);
    std::vector<unsigned int> remap(vertices);
    const std::size_t kept =
        meshopt_optimizeVertexFetchRemap(remap.data(), cached.data(), cached.size(), vertices);
    meshopt_remapIndexBuffer(triangles.data(), cached.data(), cached.size(), remap.data());
    Remap(part.positions, remap, kept);
    Remap(part.normals, remap, kept);
    Remap(part.texCoords, remap, kept);
    Remap(part.colours, remap, kept);
}

} // namespace brindle
