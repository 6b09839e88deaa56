#include "export/overview/scene_summary.h"

#include "export/overview/corner_spread.h"

#include <osg/Geometry>
#include <osg/Image>
#include <osg/LOD>
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
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace brindle {
namespace {

// A tile's inline graph is a few levels deep and holds some thousands of nodes; these bounds
// keep a damaged one, or one whose shared children multiply its walk, from running away (the
// depth also keeps the walk within the smallest thread stack it may run on).
constexpr int kMaxDepth = 128;
constexpr std::size_t kMaxNodeVisits = std::size_t{1} << 20;
// How many times over, on average, the triangles may cover each height sample and colour
// pixel: a real surface covers most of its extent once and some of it a few times.
constexpr std::size_t kMaxCoverDepth = 512;
constexpr std::uint8_t kGrey = 128;

// Reads the colours of a texture's image, by nearest texel; a flat grey where the image is
// missing or not of unsigned bytes in RGB or RGBA.
class TextureSampler {
public:
    TextureSampler() = default;
    explicit TextureSampler(const osg::Texture2D& texture) {
        repeatS_ = texture.getWrap(osg::Texture::WRAP_S) == osg::Texture::REPEAT ||
                   texture.getWrap(osg::Texture::WRAP_S) == osg::Texture::MIRROR;
        repeatT_ = texture.getWrap(osg::Texture::WRAP_T) == osg::Texture::REPEAT ||
                   texture.getWrap(osg::Texture::WRAP_T) == osg::Texture::MIRROR;
        const osg::Image* image = texture.getImage();
        if (image == nullptr || image->data() == nullptr || image->isCompressed() ||
            image->getDataType() != GL_UNSIGNED_BYTE || image->s() <= 0 || image->t() <= 0)
            return;
        switch (image->getPixelFormat()) {
        case GL_RGB:
            pixelBytes_ = 3;
            break;
        case GL_RGBA:
            pixelBytes_ = 4;
            break;
        case GL_BGR:
            pixelBytes_ = 3, swapped_ = true;
            break;
        case GL_BGRA:
            pixelBytes_ = 4, swapped_ = true;
            break;
        default:
            return;
        }
        s_ = image->s();
        t_ = image->t();
        rowStep_ = image->getRowStepInBytes();
        const std::size_t rowBytes = static_cast<std::size_t>(s_) * pixelBytes_;
        if (rowStep_ < rowBytes ||
            rowStep_ * static_cast<std::size_t>(t_) > image->getTotalSizeInBytes())
            return;
        topDown_ = image->getOrigin() == osg::Image::TOP_LEFT;
        data_ = image->data();
    }

    void Sample(const osg::Vec2d& uv, std::uint8_t* rgb) const {
        if (data_ == nullptr) {
            rgb[0] = rgb[1] = rgb[2] = kGrey;
            return;
        }
        const int column = Texel(uv.x(), s_, repeatS_);
        int row = Texel(uv.y(), t_, repeatT_);
        if (topDown_)
            row = t_ - 1 - row;
        const std::uint8_t* texel = data_ + static_cast<std::size_t>(row) * rowStep_ +
                                    static_cast<std::size_t>(column) * pixelBytes_;
        rgb[0] = texel[swapped_ ? 2 : 0];
        rgb[1] = texel[1];
        rgb[2] = texel[swapped_ ? 0 : 2];
    }

private:
    static int Texel(double coordinate, int size, bool repeat) {
        if (!std::isfinite(coordinate))
            return 0;
        const double unit =
            repeat ? coordinate - std::floor(coordinate) : std::clamp(coordinate, 0.0, 1.0);
        return std::clamp(static_cast<int>(unit * size), 0, size - 1);
    }

    const std::uint8_t* data_ = nullptr;
    int s_ = 0, t_ = 0;
    std::size_t rowStep_ = 0;
    int pixelBytes_ = 0;
    bool swapped_ = false, topDown_ = false, repeatS_ = false, repeatT_ = false;
};

const TextureSampler kFlatGrey;

// A triangle in the frame of the scene's root, with finite corners and an area seen from above.
struct SceneTriangle {
    std::array<osg::Vec3d, 3> corners;
    std::array<osg::Vec2d, 3> uvs;
    const TextureSampler* texture = &kFlatGrey;
    bool lit = true; // the viewer's lighting is on where it falls
    // At each corner, the upward part of the normal it is drawn with: what a light from
    // straight above gives it.
    std::array<double, 3> upness{1, 1, 1};
};

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

using TriangleSink = std::function<void(const SceneTriangle&)>;

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

// Twice the triangle's area seen from above, signed; zero where it stands on edge.
double AreaFromAbove(const std::array<osg::Vec3d, 3>& c) {
    const double det = (c[1].x() - c[0].x()) * (c[2].y() - c[0].y()) -
                       (c[2].x() - c[0].x()) * (c[1].y() - c[0].y());
    const osg::Vec2d ab(c[1].x() - c[0].x(), c[1].y() - c[0].y());
    const osg::Vec2d ac(c[2].x() - c[0].x(), c[2].y() - c[0].y());
    // Rounding leaves a wall a sliver of area; relative to its sides it has none.
    return std::abs(det) > 1e-12 * (ab.length2() + ac.length2()) ? det : 0.0;
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
    // The children drawn from farthest away, all of those that share that range; every child
    // when none has a range.
    static std::vector<unsigned> CoarsestChildren(const osg::LOD& lod) {
        const unsigned ranged = std::min(lod.getNumChildren(), lod.getNumRanges());
        std::vector<unsigned> children;
        if (ranged == 0) {
            for (unsigned i = 0; i < lod.getNumChildren(); ++i)
                children.push_back(i);
            return children;
        }
        // Seen by distance, the coarsest level reaches farthest; by size on screen, it is the
        // one drawn when smallest.
        const bool bySize = lod.getRangeMode() == osg::LOD::PIXEL_SIZE_ON_SCREEN;
        const auto farness = [&](unsigned i) {
            return bySize ? -lod.getMinRange(i) : lod.getMaxRange(i);
        };
        float farthest = -std::numeric_limits<float>::infinity();
        for (unsigned i = 0; i < ranged; ++i)
            if (farness(i) > farthest)
                farthest = farness(i);
        for (unsigned i = 0; i < ranged; ++i)
            if (farness(i) == farthest)
                children.push_back(i);
        return children;
    }

    template <typename Visit> void Within(osg::Node& node, Visit visit) {
        if (capped_)
            return;
        if (depth_ >= kMaxDepth || ++visits_ > kMaxNodeVisits) {
            capped_ = true;
            return;
        }
        const std::size_t texturesBefore = textures_.size();
        const Lighting outer = lighting_;
        PushTexture(node.getStateSet());
        lighting_ = lighting_.Under(node.getStateSet());
        ++depth_;
        visit();
        --depth_;
        lighting_ = outer;
        textures_.resize(texturesBefore);
    }

    void PushTexture(const osg::StateSet* state) {
        if (state == nullptr)
            return;
        const auto* texture = dynamic_cast<const osg::Texture2D*>(
            state->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
        if (texture != nullptr)
            textures_.push_back(std::make_unique<TextureSampler>(*texture));
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
        TakeUpness(geometry, indices, triangle);
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

    // The normals the geometry gives its corners, turned as the corners are; without them, the
    // face's, taken as facing up, as ground does.
    void TakeUpness(const osg::Geometry& geometry, const std::array<unsigned, 3>& indices,
                    SceneTriangle& triangle) const {
        const auto* normals = dynamic_cast<const osg::Vec3Array*>(geometry.getNormalArray());
        const bool perVertex = normals != nullptr &&
                               geometry.getNormalBinding() == osg::Geometry::BIND_PER_VERTEX &&
                               std::max({indices[0], indices[1], indices[2]}) < normals->size();
        if (perVertex) {
            for (int k = 0; k < 3; ++k) {
                osg::Vec3d normal =
                    osg::Matrixd::transform3x3(osg::Vec3d((*normals)[indices[k]]), matrix_);
                const double length = normal.length();
                triangle.upness[k] = std::isfinite(length) && length > 0
                                         ? std::clamp(normal.z() / length, 0.0, 1.0)
                                         : 1.0;
            }
            return;
        }
        const std::array<osg::Vec3d, 3>& c = triangle.corners;
        const osg::Vec3d face = (c[1] - c[0]) ^ (c[2] - c[0]);
        const double length = face.length();
        const double up = length > 0 ? std::abs(face.z()) / length : 1.0;
        triangle.upness = {up, up, up};
    }

    std::size_t maxTriangles_;
    TriangleSink sink_;
    osg::Matrixd matrix_;
    std::vector<std::unique_ptr<TextureSampler>> textures_;
    Lighting lighting_;
    int depth_ = 0;
    std::size_t visits_ = 0;
    std::size_t triangles_ = 0, skipped_ = 0;
    bool capped_ = false;
};

// The cells of a regular grid that a span may hold: points first + i * step, i in [0, count).
struct Span {
    int first = 0, last = -1; // inclusive
};

Span CellsWithin(double low, double high, double origin, double step, double offset, int count) {
    const double from = std::ceil((low - origin) / step - offset - 1e-9);
    const double to = std::floor((high - origin) / step - offset + 1e-9);
    Span span;
    span.first = static_cast<int>(std::max(from, 0.0));
    span.last = static_cast<int>(std::min(to, static_cast<double>(count - 1)));
    return span;
}

// A grid index as an int within [low, high]; one that is not a number is `otherwise`.
int IndexWithin(double index, int low, int high, int otherwise) {
    if (std::isnan(index))
        return otherwise;
    return static_cast<int>(std::clamp(index, static_cast<double>(low), static_cast<double>(high)));
}

// Where a triangle covers a point seen from above: the point's barycentric weights. Each is a
// linear function of the point's offset from the first corner, worked out once: a triangle is
// tested at many points.
class CoverTest {
public:
    explicit CoverTest(const SceneTriangle& triangle) : c_(triangle.corners) {
        const double det = AreaFromAbove(c_);
        alongX_[1] = (c_[2].y() - c_[0].y()) / det;
        alongY_[1] = -(c_[2].x() - c_[0].x()) / det;
        alongX_[2] = -(c_[1].y() - c_[0].y()) / det;
        alongY_[2] = (c_[1].x() - c_[0].x()) / det;
        alongX_[0] = -alongX_[1] - alongX_[2];
        alongY_[0] = -alongY_[1] - alongY_[2];
    }

    // False where the point lies outside; edges count as inside, so that the triangles of a
    // surface leave no sample between them.
    bool Weights(double x, double y, std::array<double, 3>& w) const {
        const double dx = x - c_[0].x(), dy = y - c_[0].y();
        w[1] = alongX_[1] * dx + alongY_[1] * dy;
        w[2] = alongX_[2] * dx + alongY_[2] * dy;
        w[0] = 1 - w[1] - w[2];
        return w[0] >= kOnEdge && w[1] >= kOnEdge && w[2] >= kOnEdge;
    }

    double Height(const std::array<double, 3>& w) const {
        return w[0] * c_[0].z() + w[1] * c_[1].z() + w[2] * c_[2].z();
    }

    // The part of `row`, a span of a grid's points at x = origin + (i + offset) * step, all at
    // this y, that may lie inside: between the edges' crossings of the row, with one point
    // more on either side against rounding. Those points still need their test.
    Span Narrowed(Span row, double y, double origin, double step, double offset) const {
        if (row.first > row.last)
            return row;
        const double dy = y - c_[0].y();
        // In offsets along x from the first corner.
        double from = -HUGE_VAL, to = HUGE_VAL;
        for (int k = 0; k < 3; ++k) {
            // Weight k is `at` + alongX_[k] * dx at offset dx.
            const double at = (k == 0 ? 1.0 : 0.0) + alongY_[k] * dy;
            if (alongX_[k] > 0)
                from = std::max(from, (kOnEdge - at) / alongX_[k]);
            else if (alongX_[k] < 0)
                to = std::min(to, (kOnEdge - at) / alongX_[k]);
            else if (!(at >= kOnEdge))
                return Span{};
        }
        const double base = (c_[0].x() - origin) / step - offset;
        const int low = row.first - 1, high = row.last + 1;
        Span narrowed;
        narrowed.first = std::max(
            row.first, IndexWithin(std::floor(base + from / step) - 1, low, high, row.first));
        narrowed.last =
            std::min(row.last, IndexWithin(std::ceil(base + to / step) + 1, low, high, row.last));
        return narrowed;
    }

private:
    static constexpr double kOnEdge = -1e-9;

    const std::array<osg::Vec3d, 3>& c_;
    // How each weight changes with a point's x, and with its y.
    double alongX_[3] = {}, alongY_[3] = {};
};

// Draws triangles into a summary from above: the highest at each height sample, the topmost
// at each colour pixel's centre.
class TopDownRaster {
public:
    explicit TopDownRaster(const Extent& extent)
        : extent_(extent), sampleX_(extent.Width() / (kSummaryHeightSamples - 1)),
          sampleY_(extent.Height() / (kSummaryHeightSamples - 1)),
          pixelX_(extent.Width() / kSummaryColourPixels),
          pixelY_(extent.Height() / kSummaryColourPixels),
          top_(std::size_t{kSummaryColourPixels} * kSummaryColourPixels,
               -std::numeric_limits<double>::infinity()),
          highest_(std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples,
                   -std::numeric_limits<double>::infinity()) {
        summary_.extent = extent;
    }

    bool overworked() const { return work_ > kMaxWork; }

    void Draw(const SceneTriangle& triangle) {
        if (overworked())
            return;
        ++drawn_;
        lit_ += triangle.lit ? 1 : 0;
        const CoverTest cover(triangle);
        const double x = triangle.corners[0].x(), y = triangle.corners[0].y();
        Extent box{x, y, x, y};
        for (const osg::Vec3d& c : triangle.corners) {
            box.minX = std::min(box.minX, c.x()), box.maxX = std::max(box.maxX, c.x());
            box.minY = std::min(box.minY, c.y()), box.maxY = std::max(box.maxY, c.y());
        }
        ForEachCovered(cover, box, sampleX_, sampleY_, 0, kSummaryHeightSamples,
                       [&](int i, int j, const std::array<double, 3>& w) {
                           double& highest = highest_[TileSummary::HeightIndex(i, j)];
                           highest = std::max(highest, cover.Height(w));
                       });
        ForEachCovered(cover, box, pixelX_, pixelY_, 0.5, kSummaryColourPixels,
                       [&](int i, int j, const std::array<double, 3>& w) {
                           const double z = cover.Height(w);
                           double& top = top_[TileSummary::PixelIndex(i, j)];
                           if (!(z > top))
                               return;
                           top = z;
                           const osg::Vec2d uv = triangle.uvs[0] * w[0] + triangle.uvs[1] * w[1] +
                                                 triangle.uvs[2] * w[2];
                           triangle.texture->Sample(uv, summary_.Colour(i, j));
                           summary_.Coverage(i, j) = 255;
                           upness_[TileSummary::PixelIndex(i, j)] =
                               std::clamp(w[0] * triangle.upness[0] + w[1] * triangle.upness[1] +
                                              w[2] * triangle.upness[2],
                                          0.0, 1.0);
                       });
    }

    TileSummary Finish() {
        for (std::size_t s = 0; s < highest_.size(); ++s)
            if (std::isfinite(highest_[s]))
                summary_.heights[s] = static_cast<float>(highest_[s]);
        summary_.lit = drawn_ > 0 && 2 * lit_ >= drawn_;
        double upness = 0;
        std::size_t covered = 0;
        for (std::size_t p = 0; p < upness_.size(); ++p)
            if (summary_.coverage[p] != 0) {
                upness += upness_[p];
                ++covered;
            }
        summary_.shade =
            covered > 0 ? static_cast<float>(upness / static_cast<double>(covered)) : 1.0f;
        return std::move(summary_);
    }

private:
    // Hands `visit` each point of a grid over the extent (points at its low corner plus
    // (i + offset, j + offset) steps, `count` a side) that the triangle covers, with its
    // weights, within `box`, the triangle's own. Each row and each point tested is work, whether
    // or not any lies inside.
    template <typename Visit>
    void ForEachCovered(const CoverTest& cover, const Extent& box, double stepX, double stepY,
                        double offset, int count, Visit&& visit) {
        const Span columns = CellsWithin(box.minX, box.maxX, extent_.minX, stepX, offset, count);
        const Span rows = CellsWithin(box.minY, box.maxY, extent_.minY, stepY, offset, count);
        std::array<double, 3> w{};
        for (int j = rows.first; j <= rows.last; ++j) {
            ++work_;
            const double y = extent_.minY + (j + offset) * stepY;
            const Span row = cover.Narrowed(columns, y, extent_.minX, stepX, offset);
            for (int i = row.first; i <= row.last; ++i) {
                ++work_;
                if (cover.Weights(extent_.minX + (i + offset) * stepX, y, w))
                    visit(i, j, w);
            }
        }
    }

    static constexpr std::size_t kMaxWork =
        kMaxCoverDepth * (std::size_t{kSummaryColourPixels} * kSummaryColourPixels +
                          std::size_t{kSummaryHeightSamples} * kSummaryHeightSamples);

    Extent extent_;
    double sampleX_, sampleY_, pixelX_, pixelY_;
    std::vector<double> top_, highest_;
    std::vector<double> upness_ =
        std::vector<double>(std::size_t{kSummaryColourPixels} * kSummaryColourPixels, 1.0);
    std::size_t work_ = 0;
    std::size_t drawn_ = 0, lit_ = 0; // triangles
    TileSummary summary_;
};

bool HasArea(const Extent& extent) {
    return extent.IsUsable() && extent.Width() > 0 && extent.Height() > 0;
}

// What one walk over a scene's inline triangles met.
struct WalkOutcome {
    std::size_t triangles = 0, skipped = 0;
    std::optional<NoSummaryReason> failure;
};

WalkOutcome WalkInline(const osg::Node& scene, std::size_t maxTriangles, TriangleSink sink) {
    InlineTriangles walk(maxTriangles, std::move(sink));
    // The walk changes nothing; osg::NodeVisitor only takes nodes it may change.
    const_cast<osg::Node&>(scene).accept(walk);
    WalkOutcome outcome{walk.triangles(), walk.skipped(), std::nullopt};
    if (walk.capped())
        outcome.failure = NoSummaryReason::Capped;
    else if (walk.triangles() == 0)
        outcome.failure = NoSummaryReason::NoTriangles;
    else if (walk.skipped() == walk.triangles())
        outcome.failure = NoSummaryReason::AllDegenerate;
    return outcome;
}

SceneSummary Failed(NoSummaryReason reason, const WalkOutcome& walk) {
    SceneSummary result;
    result.reason = reason;
    result.triangles = walk.triangles;
    result.skipped = walk.skipped;
    return result;
}

// The box of the corners that are the tile's: a walk of its own, since which those are is known
// only once every corner is.
Extent ExtentWithoutStrays(const osg::Node& scene, std::size_t maxTriangles,
                           const CornerSpread& spread) {
    if (!spread.strays())
        return ExtentOf(spread.box());
    osg::BoundingBoxd kept;
    WalkInline(scene, maxTriangles, [&](const SceneTriangle& triangle) {
        for (const osg::Vec3d& corner : triangle.corners)
            if (spread.holds(corner))
                kept.expandBy(corner);
    });
    return ExtentOf(kept);
}

} // namespace

SceneSummary SummariseScene(const osg::Node& scene, const SceneSummaryOptions& options) {
    Extent extent;
    if (options.extent) {
        extent = *options.extent;
    } else {
        CornerSpread spread;
        const WalkOutcome measured =
            WalkInline(scene, options.maxTriangles, [&](const SceneTriangle& triangle) {
                for (const osg::Vec3d& corner : triangle.corners)
                    spread.add(corner);
            });
        if (measured.failure)
            return Failed(*measured.failure, measured);
        extent = ExtentWithoutStrays(scene, options.maxTriangles, spread);
    }
    if (!HasArea(extent))
        return Failed(NoSummaryReason::UnusableExtent, WalkOutcome{});
    TopDownRaster raster(extent);
    const WalkOutcome drawn = WalkInline(
        scene, options.maxTriangles, [&](const SceneTriangle& triangle) { raster.Draw(triangle); });
    if (drawn.failure)
        return Failed(*drawn.failure, drawn);
    if (raster.overworked())
        return Failed(NoSummaryReason::Capped, drawn);
    SceneSummary result;
    result.summary = raster.Finish();
    result.triangles = drawn.triangles;
    result.skipped = drawn.skipped;
    return result;
}

} // namespace brindle
