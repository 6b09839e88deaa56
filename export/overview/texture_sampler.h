#pragma once

#include <osg/Vec2d>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace osg {
class Texture2D;
}

// The colours a summary takes from a surface's texture.
namespace brindle::summary_detail {

constexpr std::uint8_t kGrey = 128;
constexpr std::uint8_t kWhite = 255;

// Reads the colours of a texture's image, by nearest texel; a flat grey where the image is
// missing or not of unsigned bytes in RGB or RGBA, white where there is no texture at all (the
// surface is drawn in its own colour alone).
class TextureSampler {
public:
    explicit TextureSampler(std::uint8_t flat) : flat_(flat) {}
    explicit TextureSampler(const osg::Texture2D& texture);

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

} // namespace brindle::summary_detail
