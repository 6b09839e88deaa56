// The overview writes its coarse textures embedded in its .osgb files as JPEG, and the
// tile-check worker decodes the JPEG and PNG textures embedded in tiles to summarise them. Both
// go through the scene-graph library's image plugins, which a static build (Windows) has only
// when it links them in: without them the writer embeds an empty image and the reader gives
// none back, silently. These tests encode and decode through the plugins entirely in memory.
#include "tests/export/overview/summary_fixtures.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/Texture2D>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

namespace brindle {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Smooth gradients in every channel, which JPEG keeps close; odd sizes would hide nothing more.
unsigned char Channel(int x, int y, int channel) {
    switch (channel) {
    case 0:
        return static_cast<unsigned char>(x * 255 / (kWidth - 1));
    case 1:
        return static_cast<unsigned char>(y * 255 / (kHeight - 1));
    case 2:
        return static_cast<unsigned char>((x + y) * 255 / (kWidth + kHeight - 2));
    default:
        return static_cast<unsigned char>(255 - x * 2);
    }
}

osg::ref_ptr<osg::Image> MakeGradient(GLenum pixelFormat, const std::string& fileName) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(kWidth, kHeight, 1, pixelFormat, GL_UNSIGNED_BYTE);
    unsigned char* pixel = image->data();
    if (pixel == nullptr)
        throw std::bad_alloc();
    const int channels = pixelFormat == GL_RGBA ? 4 : 3;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < channels; ++c)
                *pixel++ = Channel(x, y, c);
    // A name no file has: the writer then encodes the image with the plugin its extension
    // names, rather than embedding a file of that name.
    image->setFileName(fileName);
    return image;
}

osgDB::ReaderWriter& NativeFormat() {
    osgDB::ReaderWriter* format = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    if (format == nullptr)
        throw std::runtime_error("no reader and writer of .osgb");
    return *format;
}

std::string WriteEmbedded(const osg::Node& node) {
    const osg::ref_ptr<osgDB::Options> options = new osgDB::Options("WriteImageHint=IncludeFile");
    std::ostringstream out(std::ios::binary);
    const osgDB::ReaderWriter::WriteResult written = NativeFormat().writeNode(node, out, options);
    EXPECT_TRUE(written.success()) << written.message();
    return out.str();
}

// The image of the first texture of the first drawable of what `bytes` holds.
osg::ref_ptr<osg::Image> ReadTexture(const std::string& bytes) {
    std::istringstream in(bytes, std::ios::binary);
    osgDB::ReaderWriter::ReadResult read = NativeFormat().readNode(in);
    EXPECT_TRUE(read.validNode()) << read.message();
    osg::ref_ptr<osg::Node> node = read.takeNode();
    return const_cast<osg::Image*>(test::FirstTextureImage(node ? node->asGeode() : nullptr));
}

// The largest difference of any channel between the decoded image and the gradient.
int LargestDifference(const osg::Image& decoded, int channels) {
    int largest = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < channels; ++c)
                largest =
                    std::max(largest, std::abs(int{decoded.data(x, y)[c]} - Channel(x, y, c)));
    return largest;
}

TEST(EmbeddedTexture, JpegIsEncodedIntoTheSceneAndDecodedBack) {
    const std::string bytes =
        WriteEmbedded(*test::TexturedQuad(MakeGradient(GL_RGB, "coarse.jpg")));
    // The start of a JPEG stream: the image went through the encoder, not in as raw pixels.
    EXPECT_NE(bytes.find("\xFF\xD8\xFF"), std::string::npos);

    const osg::ref_ptr<osg::Image> decoded = ReadTexture(bytes);
    ASSERT_TRUE(decoded) << "the embedded JPEG was not decoded";
    ASSERT_EQ(decoded->s(), kWidth);
    ASSERT_EQ(decoded->t(), kHeight);
    ASSERT_EQ(decoded->getPixelFormat(), static_cast<GLenum>(GL_RGB));
    ASSERT_EQ(decoded->getDataType(), static_cast<GLenum>(GL_UNSIGNED_BYTE));
    // Lossy, but close on gradients this smooth.
    EXPECT_LE(LargestDifference(*decoded, 3), 16);
}

TEST(EmbeddedTexture, PngIsEncodedIntoTheSceneAndDecodedBackExactly) {
    const std::string bytes = WriteEmbedded(*test::TexturedQuad(MakeGradient(GL_RGBA, "tile.png")));
    EXPECT_NE(bytes.find("\x89PNG"), std::string::npos);

    const osg::ref_ptr<osg::Image> decoded = ReadTexture(bytes);
    ASSERT_TRUE(decoded) << "the embedded PNG was not decoded";
    ASSERT_EQ(decoded->s(), kWidth);
    ASSERT_EQ(decoded->t(), kHeight);
    ASSERT_EQ(decoded->getPixelFormat(), static_cast<GLenum>(GL_RGBA));
    ASSERT_EQ(decoded->getDataType(), static_cast<GLenum>(GL_UNSIGNED_BYTE));
    EXPECT_EQ(LargestDifference(*decoded, 4), 0);
}

} // namespace
} // namespace brindle
