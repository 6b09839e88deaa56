#include "export/tiles3d/meshopt_glb.h"

#include "export/tiles3d/glb_container.h"

#include <meshoptimizer.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brindle {
namespace {

using nlohmann::json;

constexpr char kExtension[] = "EXT_meshopt_compression";
// The extension's decoders read elements of at most this many bytes.
constexpr std::size_t kMaxVertexStride = 256;

// A property that must be a non-negative integer where present: `fallback` where it is
// absent, none where it is anything else.
std::optional<std::uint64_t> Count(const json& object, const char* key, std::uint64_t fallback) {
    const auto found = object.find(key);
    if (found == object.end())
        return fallback;
    // The parser gives every non-negative integer as unsigned.
    if (!found->is_number_unsigned())
        return std::nullopt;
    return found->get<std::uint64_t>();
}

const json* ArrayOf(const json& object, const char* key) {
    static const json empty = json::array();
    const auto found = object.find(key);
    if (found == object.end())
        return &empty;
    return found->is_array() ? &*found : nullptr;
}

std::size_t ComponentBytes(std::uint64_t componentType) {
    switch (componentType) {
    case 5120: // byte
    case 5121: // unsigned byte
        return 1;
    case 5122: // short
    case 5123: // unsigned short
        return 2;
    case 5125: // unsigned int
    case 5126: // float
        return 4;
    default:
        return 0;
    }
}

std::size_t Components(const json& type) {
    if (!type.is_string())
        return 0;
    const std::string& name = type.get_ref<const std::string&>();
    static const std::pair<const char*, std::size_t> kinds[] = {
        {"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4},
        {"MAT2", 4},   {"MAT3", 9}, {"MAT4", 16}};
    for (const auto& [kind, count] : kinds)
        if (name == kind)
            return count;
    return 0;
}

// What reads a buffer view, as far as its compression goes.
enum class ViewUse { Unread, Attributes, Indices, Other };

struct ViewPlan {
    ViewUse use = ViewUse::Unread;
    std::size_t stride = 0;     // the vertex stride, or the index size
    bool wholeTriangles = true; // every index accessor on it starts and ends on a triangle
    std::uint64_t offset = 0;   // in the file's buffer
    std::uint64_t length = 0;
    std::uint64_t declaredStride = 0;
};

void Mark(ViewPlan& view, ViewUse use, std::size_t stride) {
    if (view.use == ViewUse::Unread) {
        view.use = use;
        view.stride = stride;
    } else if (view.use != use || view.stride != stride) {
        view.use = ViewUse::Other;
    }
}

// How each accessor is read by the meshes' primitives.
struct AccessorUses {
    std::vector<bool> attribute;
    std::vector<bool> index;
    std::vector<bool> nonTriangleIndex; // indices of a primitive that is not a triangle list
    std::vector<bool> other;
};

bool NoteAccessor(const json& value, std::vector<bool>& uses) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() >= uses.size())
        return false;
    uses[value.get<std::size_t>()] = true;
    return true;
}

std::optional<AccessorUses> ReadAccessorUses(const json& gltf, std::size_t accessors) {
    AccessorUses uses{std::vector<bool>(accessors), std::vector<bool>(accessors),
                      std::vector<bool>(accessors), std::vector<bool>(accessors)};
    const json* meshes = ArrayOf(gltf, "meshes");
    if (!meshes)
        return std::nullopt;
    for (const json& mesh : *meshes) {
        if (!mesh.is_object())
            return std::nullopt;
        const json* primitives = ArrayOf(mesh, "primitives");
        if (!primitives)
            return std::nullopt;
        for (const json& primitive : *primitives) {
            if (!primitive.is_object())
                return std::nullopt;
            const auto attributes = primitive.find("attributes");
            if (attributes != primitive.end()) {
                if (!attributes->is_object())
                    return std::nullopt;
                for (const json& accessor : *attributes)
                    if (!NoteAccessor(accessor, uses.attribute))
                        return std::nullopt;
            }
            const auto indices = primitive.find("indices");
            if (indices != primitive.end()) {
                const std::optional<std::uint64_t> mode = Count(primitive, "mode", 4);
                if (!mode || !NoteAccessor(*indices, uses.index))
                    return std::nullopt;
                if (*mode != 4)
                    uses.nonTriangleIndex[indices->get<std::size_t>()] = true;
            }
            // Morph targets are kept as they are.
            const json* targets = ArrayOf(primitive, "targets");
            if (!targets)
                return std::nullopt;
            for (const json& target : *targets) {
                if (!target.is_object())
                    return std::nullopt;
                for (const json& accessor : target)
                    if (!NoteAccessor(accessor, uses.other))
                        return std::nullopt;
            }
        }
    }
    return uses;
}

std::optional<std::vector<ViewPlan>> ReadViews(const json& gltf, std::uint64_t bufferLength) {
    const json* views = ArrayOf(gltf, "bufferViews");
    if (!views)
        return std::nullopt;
    std::vector<ViewPlan> plans;
    for (const json& view : *views) {
        if (!view.is_object())
            return std::nullopt;
        const std::optional<std::uint64_t> buffer = Count(view, "buffer", 1);
        const std::optional<std::uint64_t> offset = Count(view, "byteOffset", 0);
        const std::optional<std::uint64_t> length = Count(view, "byteLength", 0);
        const std::optional<std::uint64_t> stride = Count(view, "byteStride", 0);
        if (!buffer || *buffer != 0 || !offset || !length || !stride || *offset > bufferLength ||
            *length > bufferLength - *offset)
            return std::nullopt;
        ViewPlan plan;
        plan.offset = *offset;
        plan.length = *length;
        plan.declaredStride = *stride;
        plans.push_back(plan);
    }
    return plans;
}

bool NoteOtherView(const json& object, const char* key, std::vector<ViewPlan>& views) {
    const auto found = object.find(key);
    if (found == object.end())
        return true;
    if (!found->is_number_unsigned() || found->get<std::uint64_t>() >= views.size())
        return false;
    views[found->get<std::size_t>()].use = ViewUse::Other;
    return true;
}

// Marks each view by what its accessors are to the primitives; a view read any other way, or
// two ways, or by accessors that disagree on its stride, is kept as it is.
bool PlanViews(const json& gltf, std::vector<ViewPlan>& views) {
    const json* accessors = ArrayOf(gltf, "accessors");
    if (!accessors)
        return false;
    const std::optional<AccessorUses> uses = ReadAccessorUses(gltf, accessors->size());
    if (!uses)
        return false;
    for (std::size_t i = 0; i < accessors->size(); ++i) {
        const json& accessor = (*accessors)[i];
        if (!accessor.is_object())
            return false;
        const auto sparse = accessor.find("sparse");
        if (sparse != accessor.end()) {
            if (!sparse->is_object())
                return false;
            for (const char* part : {"indices", "values"}) {
                const auto found = sparse->find(part);
                if (found != sparse->end() &&
                    (!found->is_object() || !NoteOtherView(*found, "bufferView", views)))
                    return false;
            }
        }
        const auto viewIndex = accessor.find("bufferView");
        if (viewIndex == accessor.end())
            continue;
        if (!viewIndex->is_number_unsigned() || viewIndex->get<std::uint64_t>() >= views.size())
            return false;
        ViewPlan& view = views[viewIndex->get<std::size_t>()];
        const std::optional<std::uint64_t> type = Count(accessor, "componentType", 0);
        const std::optional<std::uint64_t> count = Count(accessor, "count", 0);
        const std::optional<std::uint64_t> offset = Count(accessor, "byteOffset", 0);
        const auto typeName = accessor.find("type");
        if (!type || !count || !offset || typeName == accessor.end())
            return false;
        const std::size_t componentBytes = ComponentBytes(*type);
        const std::size_t elementBytes = componentBytes * Components(*typeName);
        const bool attribute = uses->attribute[i];
        const bool index = uses->index[i];
        if (elementBytes == 0 || sparse != accessor.end() || uses->other[i] || attribute == index) {
            view.use = ViewUse::Other;
        } else if (attribute) {
            Mark(view, ViewUse::Attributes,
                 view.declaredStride ? view.declaredStride : elementBytes);
        } else if (*type != 5123 && *type != 5125) {
            view.use = ViewUse::Other; // byte indices: the index codecs give 16 or 32 bits
        } else {
            Mark(view, ViewUse::Indices, componentBytes);
            view.wholeTriangles = view.wholeTriangles && !uses->nonTriangleIndex[i] &&
                                  *count % 3 == 0 && *offset % (3 * componentBytes) == 0;
        }
    }
    const json* images = ArrayOf(gltf, "images");
    if (!images)
        return false;
    for (const json& image : *images)
        if (!image.is_object() || !NoteOtherView(image, "bufferView", views))
            return false;
    return true;
}

bool Compressible(const ViewPlan& view) {
    if (view.length == 0 || view.stride == 0 || view.length % view.stride != 0)
        return false;
    if (view.use == ViewUse::Attributes)
        return view.stride % 4 == 0 && view.stride <= kMaxVertexStride;
    return view.use == ViewUse::Indices;
}

void AlignTo4(std::string& bytes, char fill) {
    bytes.resize((bytes.size() + 3) / 4 * 4, fill);
}

// Appends the view's bytes encoded, and gives the extension's description of them. The codecs
// write straight into `out`, whose room is reused view after view.
std::optional<json> Encode(std::string_view bytes, const ViewPlan& view, std::string& out) {
    const std::size_t count = bytes.size() / view.stride;
    AlignTo4(out, '\0');
    const std::size_t offset = out.size();
    const auto room = [&](std::size_t bound) {
        out.resize(offset + bound);
        return reinterpret_cast<unsigned char*>(out.data() + offset);
    };
    const char* mode = "ATTRIBUTES";
    std::size_t size = 0;
    if (view.use == ViewUse::Attributes) {
        const std::size_t bound = meshopt_encodeVertexBufferBound(count, view.stride);
        size = meshopt_encodeVertexBuffer(room(bound), bound, bytes.data(), count, view.stride);
    } else {
        std::vector<unsigned int> indices(count);
        for (std::size_t i = 0; i < count; ++i)
            indices[i] = view.stride == 2 ? static_cast<unsigned char>(bytes[2 * i]) |
                                                static_cast<unsigned char>(bytes[2 * i + 1]) << 8
                                          : ReadUint32Le(bytes, 4 * i);
        const std::size_t vertices =
            std::size_t{*std::max_element(indices.begin(), indices.end())} + 1;
        const bool triangles = view.wholeTriangles && count % 3 == 0;
        mode = triangles ? "TRIANGLES" : "INDICES";
        const std::size_t bound = triangles ? meshopt_encodeIndexBufferBound(count, vertices)
                                            : meshopt_encodeIndexSequenceBound(count, vertices);
        size = triangles ? meshopt_encodeIndexBuffer(room(bound), bound, indices.data(), count)
                         : meshopt_encodeIndexSequence(room(bound), bound, indices.data(), count);
    }
    out.resize(offset + size);
    if (size == 0)
        return std::nullopt;
    return json{{"buffer", 0},        {"byteOffset", offset},
                {"byteLength", size}, {"byteStride", view.stride},
                {"count", count},     {"mode", mode}};
}

void NameExtension(json& gltf, const char* list) {
    json& names = gltf[list];
    if (!names.is_array())
        names = json::array();
    if (std::find(names.begin(), names.end(), kExtension) == names.end())
        names.push_back(kExtension);
}

} // namespace

std::optional<std::string> CompressGlbBuffers(std::string_view glb) {
    const std::optional<GlbChunks> chunks = SplitGlb(glb);
    if (!chunks)
        return std::nullopt;
    json gltf = json::parse(chunks->json.begin(), chunks->json.end(), nullptr, false);
    if (gltf.is_discarded() || !gltf.is_object())
        return std::nullopt;
    for (const char* list : {"extensionsUsed", "extensionsRequired"}) {
        const json* names = ArrayOf(gltf, list);
        if (!names || std::find(names->begin(), names->end(), kExtension) != names->end())
            return std::nullopt;
    }
    const json* buffers = ArrayOf(gltf, "buffers");
    if (!buffers || buffers->size() > 1)
        return std::nullopt;
    if (buffers->empty())
        return std::string(glb);
    const json& buffer = buffers->front();
    const std::optional<std::uint64_t> bufferLength =
        buffer.is_object() ? Count(buffer, "byteLength", 0) : std::nullopt;
    if (!bufferLength || buffer.contains("uri") || *bufferLength > chunks->bin.size())
        return std::nullopt;

    std::optional<std::vector<ViewPlan>> views = ReadViews(gltf, *bufferLength);
    if (!views || !PlanViews(gltf, *views))
        return std::nullopt;
    if (std::none_of(views->begin(), views->end(), Compressible))
        return std::string(glb);

    // The format versions every decoder of the extension reads.
    meshopt_encodeVertexVersion(0);
    meshopt_encodeIndexVersion(1);
    std::string bin;
    bin.reserve(chunks->bin.size());
    json& viewsJson = gltf["bufferViews"];
    for (std::size_t i = 0; i < views->size(); ++i) {
        const ViewPlan& view = (*views)[i];
        const std::string_view bytes = chunks->bin.substr(view.offset, view.length);
        json& entry = viewsJson[i];
        if (Compressible(view)) {
            const auto extensions = entry.find("extensions");
            if (extensions != entry.end() && !extensions->is_object())
                return std::nullopt;
            std::optional<json> description = Encode(bytes, view, bin);
            if (!description)
                return std::nullopt;
            entry["buffer"] = 1;
            entry["extensions"][kExtension] = std::move(*description);
        } else {
            AlignTo4(bin, '\0');
            entry["byteOffset"] = bin.size();
            bin.append(bytes);
        }
    }
    AlignTo4(bin, '\0');
    json fallback = {{"byteLength", *bufferLength}};
    fallback["extensions"][kExtension] = {{"fallback", true}};
    gltf["buffers"] = json::array({json{{"byteLength", bin.size()}}, std::move(fallback)});
    NameExtension(gltf, "extensionsUsed");
    NameExtension(gltf, "extensionsRequired");
    return JoinGlb(gltf.dump(-1, ' ', false, json::error_handler_t::replace), bin);
}

} // namespace brindle
