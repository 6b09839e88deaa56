#pragma once

#include <osg/Image>
#include <osg/Texture2D>
#include <osg/Vec2d>
#include <osg/Vec3d>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

// What a scene's summary is drawn from: its triangles, each with what a viewer draws it with.
namespace brindle::summary_detail {

constexpr std::uint8_t kGrey = 128;
constexpr std::uint8_t kWhite = 255;

// Reads the colours of a texture's image, by nearest texel; a flat grey where the image is
// missing or not of unsigned bytes in RGB or RGBA, white where there is no texture at all (the
// surface is drawn in its own colour alone).
class TextureSampler {
public:
    explicit TextureSampler(std::uint8_t flat) : flat_(flat) {}
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
            rgb[0] = rgb[1] = rgb[2] = flat_;
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

    std::uint8_t flat_ = kGrey;
    const std::uint8_t* data_ = nullptr;
    int s_ = 0, t_ = 0;
    std::size_t rowStep_ = 0;
    int pixelBytes_ = 0;
    bool swapped_ = false, topDown_ = false, repeatS_ = false, repeatT_ = false;
};

inline const TextureSampler kUntextured(kWhite);

// A triangle in the frame of the scene's root, with finite corners and an area seen from above.
struct SceneTriangle {
    std::array<osg::Vec3d, 3> corners;
    std::array<osg::Vec2d, 3> uvs;
    const TextureSampler* texture = &kUntextured;
    bool lit = true; // the viewer's lighting is on where it falls
    // At each corner, the normal it is drawn with in the root's frame, as a viewer lights it:
    // the geometry's own, or the default normal, straight up in the geometry's frame.
    std::array<osg::Vec3d, 3> normals{};
    bool withNormals = false;
    // At each corner, the colour its texture is multiplied by: its own (vertex colours or its
    // material's), or the default material's grey.
    std::array<osg::Vec3d, 3> colours{};
    bool ownColours = false;
};

// Twice the triangle's area seen from above, signed; zero where it stands on edge.
inline double AreaFromAbove(const std::array<osg::Vec3d, 3>& c) {
    const double det = (c[1].x() - c[0].x()) * (c[2].y() - c[0].y()) -
                       (c[2].x() - c[0].x()) * (c[1].y() - c[0].y());
    const osg::Vec2d ab(c[1].x() - c[0].x(), c[1].y() - c[0].y());
    const osg::Vec2d ac(c[2].x() - c[0].x(), c[2].y() - c[0].y());
    // Rounding leaves a wall a sliver of area; relative to its sides it has none.
    return std::abs(det) > 1e-12 * (ab.length2() + ac.length2()) ? det : 0.0;
}

} // namespace brindle::summary_detail
