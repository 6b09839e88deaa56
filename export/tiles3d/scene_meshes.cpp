#include "export/tiles3d/scene_meshes.h"

#include "export/scene/coarsest_children.h"

#include <osg/Array>
#include <osg/Geometry>
#include <osg/LOD>
#include <osg/Material>
#include <osg/Matrixd>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/Switch>
#include <osg/Texture2D>
#include <osg/Transform>
#include <osg/TriangleIndexFunctor>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace brindle {
namespace {

// A tile's inline graph is a few levels deep and holds some thousands of nodes; these bounds
// keep a damaged one, or one whose shared children multiply its walk, from running away.
constexpr int kMaxDepth = 128;
constexpr std::size_t kMaxNodeVisits = std::size_t{1} << 20;

bool IsFinite(const osg::Vec3d& p) {
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}

// What the state sets above a geometry make of its look.
struct LookState {
    const osg::Texture2D* texture = nullptr;
    const osg::Material* material = nullptr;
    bool lit = true;
    bool lightingOverridden = false;

    LookState Under(const osg::StateSet* state) const {
        if (state == nullptr)
            return *this;
        LookState under = *this;
        if (const auto* texture = dynamic_cast<const osg::Texture2D*>(
                state->getTextureAttribute(0, osg::StateAttribute::TEXTURE)))
            under.texture = texture;
        if (const auto* material = dynamic_cast<const osg::Material*>(
                state->getAttribute(osg::StateAttribute::MATERIAL)))
            under.material = material;
        const osg::StateAttribute::GLModeValue mode = state->getMode(GL_LIGHTING);
        if ((mode & osg::StateAttribute::INHERIT) == 0 &&
            (!lightingOverridden || (mode & osg::StateAttribute::PROTECTED) != 0)) {
            under.lit = (mode & osg::StateAttribute::ON) != 0;
            under.lightingOverridden =
                lightingOverridden || (mode & osg::StateAttribute::OVERRIDE) != 0;
        }
        return under;
    }
};

template <typename ArrayT> const ArrayT* PerVertex(const osg::Array* array, std::size_t vertices) {
    const auto* typed = dynamic_cast<const ArrayT*>(array);
    if (typed == nullptr || typed->getBinding() != osg::Array::BIND_PER_VERTEX ||
        typed->size() < vertices)
        return nullptr;
    return typed;
}

std::size_t VertexCount(const osg::Array* vertices) {
    if (dynamic_cast<const osg::Vec3Array*>(vertices) != nullptr ||
        dynamic_cast<const osg::Vec3dArray*>(vertices) != nullptr)
        return vertices->getNumElements();
    return 0;
}

osg::Vec3d VertexAt(const osg::Array& vertices, unsigned i) {
    if (const auto* floats = dynamic_cast<const osg::Vec3Array*>(&vertices))
        return osg::Vec3d((*floats)[i]);
    return static_cast<const osg::Vec3dArray&>(vertices)[i];
}

// The geometry's one colour when it has one for all its vertices.
std::optional<osg::Vec4f> OverallColour(const osg::Array* colours) {
    const auto* typed = dynamic_cast<const osg::Vec4Array*>(colours);
    if (typed == nullptr || typed->empty() || typed->getBinding() != osg::Array::BIND_OVERALL)
        return std::nullopt;
    return (*typed)[0];
}

float Clamped(float value) {
    return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 1.0f;
}

osg::Vec4f Clamped(const osg::Vec4f& c) {
    return {Clamped(c.r()), Clamped(c.g()), Clamped(c.b()), Clamped(c.a())};
}

// Builds one part from a geometry's triangles, taking each vertex once.
class PartBuilder {
public:
    PartBuilder(const osg::Geometry& geometry, const osg::Matrixd& matrix, const LookState& state)
        : vertices_(geometry.getVertexArray()), vertexCount_(VertexCount(vertices_)),
          matrix_(matrix), normalMatrix_(osg::Matrixd::inverse(matrix)) {
        normals_ = PerVertex<osg::Vec3Array>(geometry.getNormalArray(), vertexCount_);
        texCoords_ = PerVertex<osg::Vec2Array>(geometry.getTexCoordArray(0), vertexCount_);
        colours_ = PerVertex<osg::Vec4Array>(geometry.getColorArray(), vertexCount_);
        byteColours_ = PerVertex<osg::Vec4ubArray>(geometry.getColorArray(), vertexCount_);
        // A texture without coordinates to place it is not drawn as one.
        part_.look = LookOf(geometry, state, texCoords_ != nullptr, normals_ != nullptr);
        if (!part_.look.image)
            texCoords_ = nullptr;
    }

    // Takes the triangle unless a corner is missing or not finite or it has no area.
    bool Take(unsigned a, unsigned b, unsigned c) {
        const unsigned corners[3] = {a, b, c};
        osg::Vec3d world[3];
        for (int k = 0; k < 3; ++k) {
            if (corners[k] >= vertexCount_)
                return false;
            world[k] = VertexAt(*vertices_, corners[k]) * matrix_;
            if (!IsFinite(world[k]))
                return false;
        }
        if (((world[1] - world[0]) ^ (world[2] - world[0])).length2() <= 0.0)
            return false;
        for (int k = 0; k < 3; ++k)
            part_.triangles.push_back(Index(corners[k], world[k]));
        return true;
    }

    MeshPart Take() && { return std::move(part_); }

private:
    static MeshLook LookOf(const osg::Geometry& geometry, const LookState& state, bool hasTexCoords,
                           bool hasNormals) {
        MeshLook look;
        look.lit = state.lit && hasNormals;
        if (state.texture != nullptr && state.texture->getImage() != nullptr && hasTexCoords) {
            look.image = state.texture->getImage();
            look.wrapS = state.texture->getWrap(osg::Texture::WRAP_S);
            look.wrapT = state.texture->getWrap(osg::Texture::WRAP_T);
            return look;
        }
        if (const std::optional<osg::Vec4f> overall = OverallColour(geometry.getColorArray()))
            look.colour = Clamped(*overall);
        else if (state.material != nullptr && state.lit)
            look.colour = Clamped(state.material->getDiffuse(osg::Material::FRONT));
        return look;
    }

    std::uint32_t Index(unsigned vertex, const osg::Vec3d& world) {
        const auto [found, added] =
            indices_.try_emplace(vertex, static_cast<std::uint32_t>(part_.positions.size()));
        if (!added)
            return found->second;
        part_.positions.push_back(world);
        if (normals_ != nullptr)
            part_.normals.push_back(Normal((*normals_)[vertex]));
        if (texCoords_ != nullptr) {
            osg::Vec2f st = (*texCoords_)[vertex];
            if (!std::isfinite(st.x()) || !std::isfinite(st.y()))
                st.set(0.0f, 0.0f);
            part_.texCoords.push_back(st);
        }
        if (colours_ != nullptr)
            part_.colours.push_back(Clamped((*colours_)[vertex]));
        else if (byteColours_ != nullptr) {
            const osg::Vec4ub& c = (*byteColours_)[vertex];
            part_.colours.emplace_back(c.r() / 255.0f, c.g() / 255.0f, c.b() / 255.0f,
                                       c.a() / 255.0f);
        }
        return found->second;
    }

    // The normal in the scene's frame, of unit length; straight up when it has no direction.
    osg::Vec3f Normal(const osg::Vec3f& local) const {
        osg::Vec3d normal = osg::Matrixd::transform3x3(normalMatrix_, osg::Vec3d(local));
        const double length = normal.length();
        if (!std::isfinite(length) || length < 1e-12)
            return {0.0f, 0.0f, 1.0f};
        normal /= length;
        return osg::Vec3f(normal);
    }

    const osg::Array* vertices_;
    std::size_t vertexCount_;
    osg::Matrixd matrix_;
    osg::Matrixd normalMatrix_;
    const osg::Vec3Array* normals_ = nullptr;
    const osg::Vec2Array* texCoords_ = nullptr;
    const osg::Vec4Array* colours_ = nullptr;
    const osg::Vec4ubArray* byteColours_ = nullptr;
    std::unordered_map<unsigned, std::uint32_t> indices_;
    MeshPart part_;
};

// Walks the content a tile file holds inline and builds a part of each geometry.
class InlineMeshes : public osg::NodeVisitor {
public:
    explicit InlineMeshes(const SceneMeshesOptions& options)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), options_(options) {}

    SceneMeshes Take() && { return std::move(meshes_); }

    void apply(osg::Node& node) override {
        Within(node, [&] { traverse(node); });
    }
    void apply(osg::Transform& transform) override {
        Within(transform, [&] {
            const osg::Matrixd outer = matrix_;
            transform.computeLocalToWorldMatrix(matrix_, this);
            traverse(transform);
            matrix_ = outer;
        });
    }
    // The children it holds; the files its ranges name are finer levels, never read here.
    void apply(osg::PagedLOD& paged) override {
        Within(paged, [&] {
            for (unsigned i = 0; i < paged.getNumChildren(); ++i)
                paged.getChild(i)->accept(*this);
        });
    }
    void apply(osg::LOD& lod) override {
        Within(lod, [&] {
            for (const unsigned i : CoarsestChildren(lod))
                lod.getChild(i)->accept(*this);
        });
    }
    void apply(osg::Switch& node) override {
        Within(node, [&] {
            for (unsigned i = 0; i < node.getNumChildren(); ++i)
                if (node.getValue(i))
                    node.getChild(i)->accept(*this);
        });
    }
    void apply(osg::Geometry& geometry) override {
        Within(geometry, [&] { Collect(geometry); });
    }

private:
    template <typename Visit> void Within(osg::Node& node, Visit visit) {
        if (meshes_.capped)
            return;
        if (depth_ >= kMaxDepth || ++visits_ > kMaxNodeVisits) {
            meshes_.capped = true;
            return;
        }
        const LookState outer = state_;
        state_ = state_.Under(node.getStateSet());
        ++depth_;
        visit();
        --depth_;
        state_ = outer;
    }

    struct IndexSink {
        PartBuilder* builder = nullptr;
        SceneMeshes* meshes = nullptr;
        void operator()(unsigned a, unsigned b, unsigned c) const {
            ++meshes->drawnTriangles;
            if (!builder->Take(a, b, c))
                ++meshes->skippedTriangles;
        }
    };

    void Collect(const osg::Geometry& geometry) {
        PartBuilder builder(geometry, matrix_, state_);
        for (unsigned p = 0; p < geometry.getNumPrimitiveSets(); ++p) {
            const osg::PrimitiveSet* primitives = geometry.getPrimitiveSet(p);
            if (primitives == nullptr)
                continue;
            // Counted before it is walked: a damaged count cannot make the walk run away.
            if (TrianglesDrawn(*primitives) > options_.maxTriangles - meshes_.drawnTriangles) {
                meshes_.capped = true;
                return;
            }
            osg::TriangleIndexFunctor<IndexSink> functor;
            functor.builder = &builder;
            functor.meshes = &meshes_;
            primitives->accept(functor);
        }
        MeshPart part = std::move(builder).Take();
        if (part.triangles.empty())
            return;
        for (const osg::Vec3d& p : part.positions)
            meshes_.bounds.expandBy(p);
        meshes_.parts.push_back(std::move(part));
    }

    // The triangles a primitive set draws, at most, from its count of indices alone.
    static std::size_t TrianglesDrawn(const osg::PrimitiveSet& primitives) {
        const std::size_t indices = primitives.getNumIndices();
        const std::size_t instances = std::max(1, primitives.getNumInstances());
        switch (primitives.getMode()) {
        case osg::PrimitiveSet::TRIANGLES:
            return indices / 3 * instances;
        case osg::PrimitiveSet::QUADS:
            return indices / 2 * instances;
        case osg::PrimitiveSet::TRIANGLE_STRIP:
        case osg::PrimitiveSet::TRIANGLE_FAN:
        case osg::PrimitiveSet::QUAD_STRIP:
        case osg::PrimitiveSet::POLYGON:
            return indices * instances;
        default:
            return 0;
        }
    }

    const SceneMeshesOptions& options_;
    SceneMeshes meshes_;
    osg::Matrixd matrix_;
    LookState state_;
    int depth_ = 0;
    std::size_t visits_ = 0;
};

} // namespace

SceneMeshes CollectSceneMeshes(const osg::Node& scene, const SceneMeshesOptions& options) {
    InlineMeshes walk(options);
    // The walk changes nothing; osg::NodeVisitor only takes nodes it may change.
    const_cast<osg::Node&>(scene).accept(walk);
    return std::move(walk).Take();
}

} // namespace brindle
