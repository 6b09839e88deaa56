#include "export/overview/inline_triangles.h"

#include "export/overview/tile_summary.h"
#include "export/scene/coarsest_children.h"

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
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace brindle::summary_detail {
namespace {

// A tile's inline graph is a few levels deep and holds some thousands of nodes; these bounds
// keep a damaged one, or one whose shared children multiply its walk, from running away (the
// depth also keeps the walk within the smallest thread stack it may run on).
constexpr int kMaxDepth = 128;
constexpr std::size_t kMaxNodeVisits = std::size_t{1} << 20;

// Whether the viewer's lighting is on where a walk is, as its state sets decide: on unless
// one turns it off, an override above winning over what is set below unless that is protected.
struct Lighting {
    bool on = true;
    bool overridden = false;

    Lighting Under(const osg::StateSet* state) const {
        if (state == nullptr)
            return *this;
        const osg::StateAttribute::GLModeValue mode = state->getMode(GL_LIGHTING);
        if ((mode & osg::StateAttribute::INHERIT) != 0 ||
            (overridden && (mode & osg::StateAttribute::PROTECTED) == 0))
            return *this;
        return Lighting{(mode & osg::StateAttribute::ON) != 0,
                        overridden || (mode & osg::StateAttribute::OVERRIDE) != 0};
    }
};

// The most triangles a primitive set may draw, as the index functor splits it.
std::size_t TrianglesDrawn(GLenum mode, std::size_t indices) {
    switch (mode) {
    case GL_POINTS:
    case GL_LINES:
    case GL_LINE_STRIP:
    case GL_LINE_LOOP:
        return 0;
    case GL_TRIANGLES:
        return indices / 3;
    case GL_TRIANGLE_STRIP:
    case GL_TRIANGLE_FAN:
    case GL_POLYGON:
        return indices >= 3 ? indices - 2 : 0;
    case GL_QUADS:
        return indices / 4 * 2;
    case GL_QUAD_STRIP:
        return indices >= 4 ? (indices - 2) / 2 * 2 : 0;
    default:
        return indices;
    }
}

std::size_t TrianglesDrawn(const osg::PrimitiveSet& primitives) {
    const GLenum mode = primitives.getMode();
    if (const auto* lengths = dynamic_cast<const osg::DrawArrayLengths*>(&primitives)) {
        std::size_t total = 0;
        for (const GLint length : *lengths)
            total += TrianglesDrawn(mode, length > 0 ? static_cast<std::size_t>(length) : 0);
        return total;
    }
    return TrianglesDrawn(mode, primitives.getNumIndices());
}

bool IsFinite(const osg::Vec3d& p) {
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}

// Walks the content a tile holds inline, at its coarsest level, and hands on its triangles.
class InlineTriangles : public osg::NodeVisitor {
public:
    InlineTriangles(std::size_t maxTriangles, TriangleSink sink)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), maxTriangles_(maxTriangles),
          sink_(std::move(sink)) {}

    std::size_t triangles() const { return triangles_; }
    std::size_t skipped() const { return skipped_; }
    bool capped() const { return capped_; }

    void apply(osg::Node& node) override {
        Within(node, [&] { traverse(node); });
    }
    void apply(osg::Transform& transform) override {
        Within(transform, [&] {
            const osg::Matrixd outer = matrix_, outerInverse = inverse_;
            transform.computeLocalToWorldMatrix(matrix_, this);
            inverse_ = osg::Matrixd::inverse(matrix_);
            traverse(transform);
            matrix_ = outer;
            inverse_ = outerInverse;
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
        if (capped_)
            return;
        if (depth_ >= kMaxDepth || ++visits_ > kMaxNodeVisits) {
            capped_ = true;
            return;
        }
        const std::size_t texturesBefore = textures_.size();
        const std::size_t materialsBefore = materials_.size();
        const Lighting outer = lighting_;
        PushTexture(node.getStateSet());
        lighting_ = lighting_.Under(node.getStateSet());
        ++depth_;
        visit();
        --depth_;
        lighting_ = outer;
        textures_.resize(texturesBefore);
        materials_.resize(materialsBefore);
    }

    void PushTexture(const osg::StateSet* state) {
        if (state == nullptr)
            return;
        const auto* texture = dynamic_cast<const osg::Texture2D*>(
            state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
        if (texture != nullptr)
            textures_.push_back(std::make_unique<TextureSampler>(*texture));
        const auto* material =
            dynamic_cast<const osg::Material*>(state->getAttribute(osg::StateAttribute::MATERIAL));
        if (material != nullptr)
            materials_.push_back(material);
    }

    // Receives each triangle's indices from osg::TriangleIndexFunctor.
    struct IndexSink {
        InlineTriangles* walk = nullptr;
        const osg::Geometry* geometry = nullptr;
        void operator()(unsigned a, unsigned b, unsigned c) const {
            walk->Take(*geometry, a, b, c);
        }
    };

    void Collect(const osg::Geometry& geometry) {
        for (unsigned p = 0; p < geometry.getNumPrimitiveSets(); ++p) {
            const osg::PrimitiveSet* primitives = geometry.getPrimitiveSet(p);
            if (primitives == nullptr)
                continue;
            if (TrianglesDrawn(*primitives) > maxTriangles_ - triangles_) {
                capped_ = true;
                return;
            }
            osg::TriangleIndexFunctor<IndexSink> functor;
            functor.walk = this;
            functor.geometry = &geometry;
            primitives->accept(functor);
        }
    }

    static std::optional<osg::Vec3d> Vertex(const osg::Array* vertices, unsigned i) {
        if (const auto* floats = dynamic_cast<const osg::Vec3Array*>(vertices)) {
            if (i < floats->size())
                return osg::Vec3d((*floats)[i]);
        } else if (const auto* doubles = dynamic_cast<const osg::Vec3dArray*>(vertices)) {
            if (i < doubles->size())
                return (*doubles)[i];
        }
        return std::nullopt;
    }

    void Take(const osg::Geometry& geometry, unsigned a, unsigned b, unsigned c) {
        if (triangles_ >= maxTriangles_) {
            capped_ = true;
            return;
        }
        ++triangles_;
        const std::array<unsigned, 3> indices{a, b, c};
        SceneTriangle triangle;
        triangle.lit = lighting_.on;
        for (int k = 0; k < 3; ++k) {
            const std::optional<osg::Vec3d> vertex = Vertex(geometry.getVertexArray(), indices[k]);
            if (!vertex) {
                ++skipped_;
                return;
            }
            triangle.corners[k] = *vertex * matrix_;
            if (!IsFinite(triangle.corners[k])) {
                ++skipped_;
                return;
            }
        }
        if (AreaFromAbove(triangle.corners) == 0) {
            ++skipped_;
            return;
        }
        TakeNormals(geometry, indices, triangle);
        TakeColours(geometry, indices, triangle);
        const auto* uvs = dynamic_cast<const osg::Vec2Array*>(geometry.getTexCoordArray(0));
        const bool textured =
            !textures_.empty() && uvs != nullptr && std::max({a, b, c}) < uvs->size();
        if (textured) {
            triangle.texture = textures_.back().get();
            for (int k = 0; k < 3; ++k)
                triangle.uvs[k] = osg::Vec2d((*uvs)[indices[k]]);
        }
        sink_(triangle);
    }

    // The per-vertex or overall entry of an array for a corner, as a viewer binds it; none for
    // other bindings or an index beyond the array.
    template <typename Array>
    static const typename Array::ElementDataType* Bound(const osg::Array* array, unsigned index) {
        const auto* typed = dynamic_cast<const Array*>(array);
        if (typed == nullptr || typed->empty())
            return nullptr;
        if (typed->getBinding() == osg::Array::BIND_OVERALL)
            return &(*typed)[0];
        if (typed->getBinding() == osg::Array::BIND_PER_VERTEX && index < typed->size())
            return &(*typed)[index];
        return nullptr;
    }

    // The normals the geometry gives its corners, turned as a viewer turns them (by the
    // inverse transpose), at the length they have: a viewer lights them so. Without them, a
    // viewer's default normal, straight up in the geometry's frame.
    void TakeNormals(const osg::Geometry& geometry, const std::array<unsigned, 3>& indices,
                     SceneTriangle& triangle) const {
        const osg::Array* normals = geometry.getNormalArray();
        triangle.withNormals = true;
        for (int k = 0; k < 3 && triangle.withNormals; ++k)
            triangle.withNormals = Bound<osg::Vec3Array>(normals, indices[k]) != nullptr;
        for (int k = 0; k < 3; ++k) {
            const osg::Vec3d normal = triangle.withNormals
                                          ? osg::Vec3d(*Bound<osg::Vec3Array>(normals, indices[k]))
                                          : osg::Vec3d(0, 0, 1);
            triangle.normals[k] = osg::Matrixd::transform3x3(inverse_, normal);
            if (!IsFinite(triangle.normals[k]))
                triangle.normals[k] = osg::Vec3d(0, 0, 1);
        }
    }

    // The colour a viewer draws each corner in before its texture: lit, its vertex colours
    // where its material follows them (the default one does), else its material's diffuse
    // colour; unlit, its vertex colours, else its material's (which a viewer makes current).
    // Without either, a viewer's default material's grey.
    void TakeColours(const osg::Geometry& geometry, const std::array<unsigned, 3>& indices,
                     SceneTriangle& triangle) const {
        const osg::Material* material = materials_.empty() ? nullptr : materials_.back();
        const bool followsColours =
            material == nullptr || !triangle.lit || material->getColorMode() != osg::Material::OFF;
        const osg::Array* colours = geometry.getColorArray();
        bool vertexColours = followsColours;
        for (int k = 0; k < 3 && vertexColours; ++k)
            vertexColours = Bound<osg::Vec4Array>(colours, indices[k]) != nullptr;
        for (int k = 0; k < 3; ++k) {
            osg::Vec4d colour(kDefaultMaterialGrey, kDefaultMaterialGrey, kDefaultMaterialGrey, 1);
            if (vertexColours)
                colour = osg::Vec4d(*Bound<osg::Vec4Array>(colours, indices[k]));
            else if (material != nullptr)
                colour = osg::Vec4d(material->getDiffuse(osg::Material::FRONT));
            for (int c = 0; c < 3; ++c)
                triangle.colours[k][c] = std::isfinite(colour[c]) ? std::clamp(colour[c], 0.0, 1.0)
                                                                  : kDefaultMaterialGrey;
        }
        // A material that follows the current colour is lit as vertex colours are, ambient and
        // diffuse alike; one that does not, with the default's dim ambient, as a mesh in the
        // default material is.
        triangle.ownColours = vertexColours || (material != nullptr &&
                                                material->getColorMode() != osg::Material::OFF);
    }

    std::size_t maxTriangles_;
    TriangleSink sink_;
    osg::Matrixd matrix_, inverse_;
    std::vector<std::unique_ptr<TextureSampler>> textures_;
    std::vector<const osg::Material*> materials_;
    Lighting lighting_;
    int depth_ = 0;
    std::size_t visits_ = 0;
    std::size_t triangles_ = 0, skipped_ = 0;
    bool capped_ = false;
};

} // namespace

WalkOutcome WalkInlineTriangles(const osg::Node& scene, std::size_t maxTriangles,
                                TriangleSink sink) {
    InlineTriangles walk(maxTriangles, std::move(sink));
    // The walk changes nothing; osg::NodeVisitor only takes nodes it may change.
    const_cast<osg::Node&>(scene).accept(walk);
    return WalkOutcome{walk.triangles(), walk.skipped(), walk.capped()};
}

} // namespace brindle::summary_detail
