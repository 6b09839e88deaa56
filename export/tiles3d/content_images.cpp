#include "export/tiles3d/content_images.h"

#include "export/tiles3d/kept_image_bytes.h"

#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <functional>
#include <sstream>
#include <utility>

namespace brindle {
namespace {

bool IsJpeg(const std::string& bytes) {
    return bytes.rfind("\xFF\xD8\xFF", 0) == 0;
}
bool IsPng(const std::string& bytes) {
    return bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0;
}

// The bytes of each pixel's red, green, blue and alpha in a pixel format of unsigned bytes;
// -1 for a channel the format has not.
struct Channels {
    int count = 0;
    int red = -1, green = -1, blue = -1, alpha = -1;
};

std::optional<Channels> ChannelsOf(GLenum format) {
    switch (format) {
    case GL_RGB:
        return Channels{3, 0, 1, 2, -1};
    case GL_RGBA:
        return Channels{4, 0, 1, 2, 3};
    case GL_BGR:
        return Channels{3, 2, 1, 0, -1};
    case GL_BGRA:
        return Channels{4, 2, 1, 0, 3};
    case GL_LUMINANCE:
        return Channels{1, 0, 0, 0, -1};
    case GL_LUMINANCE_ALPHA:
        return Channels{2, 0, 0, 0, 1};
    default:
        return std::nullopt;
    }
}

// The image's first level as tightly packed RGB, or RGBA when some pixel is not opaque; none
// for pixels that are not unsigned bytes in a colour format or that the image does not hold.
osg::ref_ptr<osg::Image> PackedPixels(const osg::Image& image) {
    const std::optional<Channels> channels = ChannelsOf(image.getPixelFormat());
    if (!channels || image.getDataType() != GL_UNSIGNED_BYTE || image.data() == nullptr ||
        image.r() != 1 || image.isCompressed())
        return nullptr;
    const int width = image.s(), height = image.t();
    const unsigned rowBytes = image.getRowStepInBytes();
    if (rowBytes < static_cast<unsigned>(width * channels->count) ||
        image.getTotalSizeInBytes() < std::size_t{rowBytes} * static_cast<unsigned>(height))
        return nullptr;
    bool opaque = true;
    if (channels->alpha >= 0)
        for (int y = 0; y < height && opaque; ++y)
            for (int x = 0; x < width && opaque; ++x)
                opaque = image.data(x, y)[channels->alpha] == 255;
    const int out = opaque ? 3 : 4;
    osg::ref_ptr<osg::Image> packed = new osg::Image;
    packed->allocateImage(width, height, 1, opaque ? GL_RGB : GL_RGBA, GL_UNSIGNED_BYTE, 1);
    for (int y = 0; y < height; ++y) {
        const unsigned char* from = image.data(0, y);
        unsigned char* to = packed->data(0, y);
        for (int x = 0; x < width; ++x, from += channels->count, to += out) {
            to[0] = from[channels->red];
            to[1] = from[channels->green];
            to[2] = from[channels->blue];
            if (!opaque)
                to[3] = from[channels->alpha];
        }
    }
    return packed;
}

std::optional<std::string> Written(const osg::Image& pixels, const char* extension,
                                   const std::string& optionString) {
    osgDB::ReaderWriter* writer =
        osgDB::Registry::instance()->getReaderWriterForExtension(extension);
    if (writer == nullptr)
        return std::nullopt;
    const osg::ref_ptr<osgDB::Options> options = new osgDB::Options(optionString);
    std::ostringstream out;
    if (!writer->writeImage(pixels, out, options.get()).success())
        return std::nullopt;
    return std::move(out).str();
}

} // namespace

std::optional<EncodedImage> ContentImages::Encode(const osg::Image& image) const {
    if (image.s() <= 0 || image.t() <= 0 || image.s() > options_.maxEdge ||
        image.t() > options_.maxEdge)
        return std::nullopt;
    if (const std::string* kept = EmbeddedImageBytes(image)) {
        if (IsJpeg(*kept))
            return EncodedImage{*kept, "image/jpeg", false};
        if (IsPng(*kept))
            return EncodedImage{*kept, "image/png",
                                osg::Image::computeNumComponents(image.getPixelFormat()) % 2 == 0};
    }
    const osg::ref_ptr<osg::Image> pixels = PackedPixels(image);
    if (!pixels)
        return std::nullopt;
    // The writers store the image's last row first, as its readers read it back: a texture
    // coordinate t of OSG's is 1 - v of glTF's either way.
    if (pixels->getPixelFormat() == GL_RGB) {
        std::optional<std::string> jpeg =
            Written(*pixels, "jpg", "JPEG_QUALITY " + std::to_string(options_.jpegQuality));
        if (jpeg && IsJpeg(*jpeg))
            return EncodedImage{std::move(*jpeg), "image/jpeg", false};
    }
    std::optional<std::string> png = Written(*pixels, "png", "");
    if (png && IsPng(*png))
        return EncodedImage{std::move(*png), "image/png", pixels->getPixelFormat() == GL_RGBA};
    return std::nullopt;
}

std::optional<std::size_t> ContentImages::Embedded(const std::string& bytes) const {
    const auto [first, last] = byHash_.equal_range(std::hash<std::string>()(bytes));
    for (auto it = first; it != last; ++it)
        if (images_[it->second].bytes == bytes)
            return it->second;
    return std::nullopt;
}

std::optional<std::size_t> ContentImages::Add(const osg::Image& image) {
    const auto known = byImage_.find(&image);
    if (known != byImage_.end())
        return known->second;
    std::optional<EncodedImage> encoded = Encode(image);
    std::optional<std::size_t> index;
    if (!encoded) {
        ++dropped_;
    } else if (const std::optional<std::size_t> same = Embedded(encoded->bytes)) {
        index = same;
    } else {
        if (EmbeddedImageBytes(image) != nullptr)
            ++kept_;
        index = images_.size();
        byHash_.emplace(std::hash<std::string>()(encoded->bytes), *index);
        images_.push_back(std::move(*encoded));
    }
    byImage_.emplace(&image, index);
    return index;
}

} // namespace brindle
