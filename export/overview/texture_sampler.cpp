#include "export/overview/texture_sampler.h"

#include <osg/Image>
#include <osg/Texture2D>

namespace brindle::summary_detail {

TextureSampler::TextureSampler(const osg::Texture2D& texture) {
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

} // namespace brindle::summary_detail
