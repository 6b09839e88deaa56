#include "export/overview/texture_sampler.h"

#include <osg/Image>
#include <osg/Texture2D>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace brindle {
namespace {

using summary_detail::TextureSampler;
using Rgb = std::array<std::uint8_t, 3>;

// A 2 x 2 texture whose texel at (column, row), rows from the image's first, is
// (10 + column, 20 + row, 30), with its bytes in `format`'s order.
osg::ref_ptr<osg::Texture2D> TwoByTwo(GLenum format, osg::Image::Origin origin,
                                      GLenum dataType = GL_UNSIGNED_BYTE) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(2, 2, 1, format, dataType);
    image->setOrigin(origin);
    const bool swapped = format == GL_BGR || format == GL_BGRA;
    if (dataType == GL_UNSIGNED_BYTE && format != GL_LUMINANCE)
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 2; ++column) {
                std::uint8_t* texel = image->data(column, row);
                const Rgb rgb{static_cast<std::uint8_t>(10 + column),
                              static_cast<std::uint8_t>(20 + row), 30};
                texel[0] = swapped ? rgb[2] : rgb[0];
                texel[1] = rgb[1];
                texel[2] = swapped ? rgb[0] : rgb[2];
            }
    return new osg::Texture2D(image.get());
}

Rgb At(const TextureSampler& sampler, double u, double v) {
    Rgb rgb{};
    sampler.Sample(osg::Vec2d(u, v), rgb.data());
    return rgb;
}

TEST(TextureSampler, TakesTheNearestTexel) {
    for (const GLenum format : {GL_RGB, GL_RGBA, GL_BGR, GL_BGRA}) {
        const osg::ref_ptr<osg::Texture2D> texture = TwoByTwo(format, osg::Image::BOTTOM_LEFT);
        const TextureSampler sampler(*texture);
        EXPECT_EQ(At(sampler, 0.25, 0.25), (Rgb{10, 20, 30})) << format;
        EXPECT_EQ(At(sampler, 0.75, 0.25), (Rgb{11, 20, 30})) << format;
        EXPECT_EQ(At(sampler, 0.25, 0.75), (Rgb{10, 21, 30})) << format;
        EXPECT_EQ(At(sampler, 0.99, 0.51), (Rgb{11, 21, 30})) << format;
    }
    // Rows kept from the top: v runs up from the last row.
    const osg::ref_ptr<osg::Texture2D> topTexture = TwoByTwo(GL_RGB, osg::Image::TOP_LEFT);
    const TextureSampler topDown(*topTexture);
    EXPECT_EQ(At(topDown, 0.25, 0.25), (Rgb{10, 21, 30}));
    EXPECT_EQ(At(topDown, 0.75, 0.75), (Rgb{11, 20, 30}));
}

// Outside [0, 1]: the edge's texel, or the texture again where it repeats; a coordinate that is
// not a number the first texel.
TEST(TextureSampler, ClampsOrRepeatsAsTheTextureWraps) {
    osg::ref_ptr<osg::Texture2D> texture = TwoByTwo(GL_RGB, osg::Image::BOTTOM_LEFT);
    const TextureSampler clamped(*texture);
    EXPECT_EQ(At(clamped, 1.25, -0.5), (Rgb{11, 20, 30}));
    EXPECT_EQ(At(clamped, 1.0, 1.0), (Rgb{11, 21, 30}));
    EXPECT_EQ(At(clamped, std::numeric_limits<double>::quiet_NaN(), 0.75), (Rgb{10, 21, 30}));
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::REPEAT);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::REPEAT);
    const TextureSampler repeated(*texture);
    EXPECT_EQ(At(repeated, 1.25, -0.25), (Rgb{10, 21, 30}));
    EXPECT_EQ(At(repeated, -0.25, 2.25), (Rgb{11, 20, 30}));
}

// A texture it cannot read gives a flat grey rather than what its bytes happen to be.
TEST(TextureSampler, ATextureItCannotReadIsFlatGrey) {
    const Rgb grey{summary_detail::kGrey, summary_detail::kGrey, summary_detail::kGrey};
    EXPECT_EQ(At(TextureSampler(*TwoByTwo(GL_RGB, osg::Image::BOTTOM_LEFT, GL_FLOAT)), 0.25, 0.25),
              grey);
    EXPECT_EQ(At(TextureSampler(*TwoByTwo(GL_LUMINANCE, osg::Image::BOTTOM_LEFT)), 0.25, 0.25),
              grey);
    const osg::ref_ptr<osg::Texture2D> imageless = new osg::Texture2D;
    EXPECT_EQ(At(TextureSampler(*imageless), 0.25, 0.25), grey);
    EXPECT_EQ(At(summary_detail::kUntextured, 0.25, 0.25), (Rgb{255, 255, 255}));
}

} // namespace
} // namespace brindle
