#include "meshopt_truth.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brindle::test {
namespace {

using nlohmann::json;

constexpr char kExtension[] = "EXT_meshopt_compression";

std::uint32_t U32(const std::string& bytes, std::size_t at) {
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value; // the tests run little-endian
}

void PutU32(std::string& out, std::uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), 4);
}

std::optional<std::string> DecodeView(const std::string& bin, const json& description) {
    const std::size_t offset = description.at("byteOffset");
    const std::size_t length = description.at("byteLength");
    const std::size_t stride = description.at("byteStride");
    const std::size_t count = description.at("count");
    const std::string mode = description.at("mode");
    if (offset + length > bin.size())
        return std::nullopt;
    const auto* source = reinterpret_cast<const unsigned char*>(bin.data() + offset);
    std::string decoded(count * stride, '\0');
    int failed = 1;
    if (mode == "ATTRIBUTES")
        failed = meshopt_decodeVertexBuffer(decoded.data(), count, stride, source, length);
    else if (mode == "TRIANGLES")
        failed = meshopt_decodeIndexBuffer(decoded.data(), count, stride, source, length);
    else if (mode == "INDICES")
        failed = meshopt_decodeIndexSequence(decoded.data(), count, stride, source, length);
    if (failed != 0)
        return std::nullopt;
    return decoded;
}

void DropExtensionName(json& gltf, const char* list) {
    if (!gltf.contains(list))
        return;
    json kept = json::array();
    for (const json& name : gltf[list])
        if (name != kExtension)
            kept.push_back(name);
    if (kept.empty())
        gltf.erase(list);
    else
        gltf[list] = kept;
}

} // namespace

std::optional<GlbFile> SplitGlbFile(const std::string& glb) {
    if (glb.size() < 20 || glb.compare(0, 4, "glTF") != 0 || U32(glb, 8) != glb.size())
        return std::nullopt;
    const std::size_t jsonLength = U32(glb, 12);
    if (U32(glb, 16) != 0x4E4F534A || 20 + jsonLength > glb.size())
        return std::nullopt;
    GlbFile file;
    file.gltf = json::parse(glb.substr(20, jsonLength), nullptr, false);
    if (file.gltf.is_discarded())
        return std::nullopt;
    const std::size_t binAt = 20 + jsonLength;
    if (binAt + 8 <= glb.size()) {
        const std::size_t binLength = U32(glb, binAt);
        if (U32(glb, binAt + 4) != 0x004E4942 || binAt + 8 + binLength != glb.size())
            return std::nullopt;
        file.bin = glb.substr(binAt + 8, binLength);
    } else if (binAt != glb.size()) {
        return std::nullopt;
    }
    return file;
}

std::string JoinGlbFile(const GlbFile& file) {
    std::string text = file.gltf.dump();
    text.resize((text.size() + 3) / 4 * 4, ' ');
    std::string bin = file.bin;
    bin.resize((bin.size() + 3) / 4 * 4, '\0');
    std::string glb = "glTF";
    PutU32(glb, 2);
    PutU32(glb,
           static_cast<std::uint32_t>(12 + 8 + text.size() + (bin.empty() ? 0 : 8 + bin.size())));
    PutU32(glb, static_cast<std::uint32_t>(text.size()));
    PutU32(glb, 0x4E4F534A);
    glb += text;
    if (!bin.empty()) {
        PutU32(glb, static_cast<std::uint32_t>(bin.size()));
        PutU32(glb, 0x004E4942);
        glb += bin;
    }
    return glb;
}

std::optional<std::string> DecodeMeshoptGlb(const std::string& glb) {
    std::optional<GlbFile> file = SplitGlbFile(glb);
    if (!file || !file->gltf.contains("bufferViews"))
        return std::nullopt;
    std::string bin = file->bin;
    for (json& view : file->gltf["bufferViews"]) {
        if (!view.contains("extensions") || !view["extensions"].contains(kExtension))
            continue;
        const std::optional<std::string> decoded =
            DecodeView(file->bin, view["extensions"][kExtension]);
        if (!decoded)
            return std::nullopt;
        bin.resize((bin.size() + 3) / 4 * 4, '\0');
        view["buffer"] = 0;
        view["byteOffset"] = bin.size();
        view["byteLength"] = decoded->size();
        view["extensions"].erase(kExtension);
        if (view["extensions"].empty())
            view.erase("extensions");
        bin += *decoded;
    }
    bin.resize((bin.size() + 3) / 4 * 4, '\0');
    file->gltf["buffers"] = json::array({json{{"byteLength", bin.size()}}});
    DropExtensionName(file->gltf, "extensionsUsed");
    DropExtensionName(file->gltf, "extensionsRequired");
    file->bin = std::move(bin);
    return JoinGlbFile(*file);
}

std::vector<std::vector<double>> TrianglesInAnyOrder(const std::vector<WorldTriangle>& triangles) {
    std::vector<std::vector<double>> numbers;
    for (const WorldTriangle& triangle : triangles) {
        const auto& c = triangle.corners;
        const int first = static_cast<int>(std::min_element(c.begin(), c.end()) - c.begin());
        std::vector<double> values;
        for (int k = 0; k < 3; ++k) {
            const int corner = (first + k) % 3;
            values.insert(values.end(), {c[corner].x(), c[corner].y(), c[corner].z()});
            if (triangle.normals.size() == 3)
                values.insert(values.end(),
                              {triangle.normals[corner].x(), triangle.normals[corner].y(),
                               triangle.normals[corner].z()});
            if (triangle.texCoords.size() == 3)
                values.insert(values.end(),
                              {triangle.texCoords[corner].x(), triangle.texCoords[corner].y()});
        }
        numbers.push_back(std::move(values));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace brindle::test
