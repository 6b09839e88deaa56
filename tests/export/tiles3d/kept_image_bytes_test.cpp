// The JPEGs a converting worker embeds without decoding them: their frame headers against the
// sizes the JPEG library decodes, damaged bytes, and a tile's content made from undecoded
// images against the content of the same tile read with its images decoded.
#include "content_scenes.h"

#include "export/tiles3d/kept_image_bytes.h"
#include "export/tiles3d/tile_content.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>
#include <osg/NodeVisitor>
#include <osg/Texture>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <sstream>

namespace brindle {
namespace {

// A JPEG of `width` × `height` pixels of `format`, as the registry's writer encodes it.
std::string JpegBytes(int width, int height, GLenum format) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(width, height, 1, format, GL_UNSIGNED_BYTE);
    const int channels = static_cast<int>(osg::Image::computeNumComponents(format));
    for (int i = 0; i < width * height * channels; ++i)
        image->data()[i] = static_cast<unsigned char>(i * 7);
    osgDB::ReaderWriter* writer = osgDB::Registry::instance()->getReaderWriterForExtension("jpg");
    EXPECT_NE(writer, nullptr);
    std::ostringstream out;
    EXPECT_TRUE(writer && writer->writeImage(*image, out).success());
    return out.str();
}

// The JPEG decoded by the JPEG library.
osg::ref_ptr<osg::Image> Decoded(const std::string& jpeg) {
    osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension("jpg");
    std::istringstream in(jpeg);
    osgDB::ReaderWriter::ReadResult read = reader->readImage(in);
    return read.validImage() ? read.getImage() : nullptr;
}

TEST(UndecodedJpeg, TheFrameHeaderGivesTheSizeTheDecoderGives) {
    for (const auto& [width, height, format] :
         {std::tuple{37, 23, GLenum(GL_RGB)}, std::tuple{5, 300, GLenum(GL_LUMINANCE)},
          std::tuple{1280, 1, GLenum(GL_RGB)}}) {
        const std::string jpeg = JpegBytes(width, height, format);
        const osg::ref_ptr<osg::Image> decoded = Decoded(jpeg);
        ASSERT_TRUE(decoded);
        const std::optional<JpegFrame> frame = JpegFrameOf(jpeg);
        ASSERT_TRUE(frame) << width << " x " << height;
        EXPECT_EQ(frame->width, decoded->s());
        EXPECT_EQ(frame->height, decoded->t());
        EXPECT_EQ(frame->components,
                  static_cast<int>(osg::Image::computeNumComponents(decoded->getPixelFormat())));
    }
}

TEST(UndecodedJpeg, DamagedOrForeignBytesGiveNoFrame) {
    const std::string jpeg = JpegBytes(64, 48, GL_RGB);
    ASSERT_TRUE(JpegFrameOf(jpeg));
    // Cut short: the end-of-image marker is missing, so the decoder would find the scan short.
    EXPECT_FALSE(JpegFrameOf(jpeg.substr(0, jpeg.size() - 1)));
    EXPECT_FALSE(JpegFrameOf(jpeg.substr(0, jpeg.size() / 2)));
    EXPECT_FALSE(JpegFrameOf(""));
    EXPECT_FALSE(JpegFrameOf("\xFF\xD8\xFF\xD9"));
    EXPECT_FALSE(JpegFrameOf("\x89PNG\r\n\x1A\n...."));

    // Hand-made: a frame of 2 × 3 pixels and 3 components, then one with a field changed.
    const std::string frame("\xFF\xD8"
                            "\xFF\xC0\x00\x11\x08\x00\x03\x00\x02\x03"
                            "\x01\x22\x00\x02\x11\x01\x03\x11\x01"
                            "\xFF\xD9",
                            23);
    const std::optional<JpegFrame> read = JpegFrameOf(frame);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->width, 2);
    EXPECT_EQ(read->height, 3);
    std::string noPixels = frame;
    noPixels[7] = noPixels[8] = '\0'; // no rows
    EXPECT_FALSE(JpegFrameOf(noPixels));
    std::string deep = frame;
    deep[6] = '\x0C'; // samples of 12 bits
    EXPECT_FALSE(JpegFrameOf(deep));
    std::string cmyk = frame;
    cmyk[11] = '\x04'; // four components: the decoder's to convert
    EXPECT_FALSE(JpegFrameOf(cmyk));
    std::string tooLong = frame;
    tooLong[5] = '\x40'; // a segment past the end
    EXPECT_FALSE(JpegFrameOf(tooLong));
    std::string scanFirst = frame;
    scanFirst[3] = '\xDA'; // scan data before any frame header
    EXPECT_FALSE(JpegFrameOf(scanFirst));

    // Every byte of a real one changed in turn, and every length cut: read within the bytes
    // (the library's assertions check each access), and a frame only of some size.
    for (std::size_t i = 0; i < jpeg.size(); i += 3) {
        std::string damaged = jpeg;
        damaged[i] = static_cast<char>(damaged[i] ^ 0xA5);
        if (const std::optional<JpegFrame> f = JpegFrameOf(damaged)) {
            EXPECT_TRUE(f->width > 0 && f->height > 0);
        }
        EXPECT_FALSE(JpegFrameOf(jpeg.substr(0, i)));
    }
}

// The images of a scene's textures, in the order they are met.
struct TextureImages : osg::NodeVisitor {
    TextureImages() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Node& node) override {
        if (const osg::StateSet* state = node.getStateSet())
            take(*state);
        traverse(node);
    }
    void apply(osg::Drawable& drawable) override {
        if (const osg::StateSet* state = drawable.getStateSet())
            take(*state);
    }
    void take(const osg::StateSet& state) {
        for (unsigned unit = 0; unit < state.getNumTextureAttributeLists(); ++unit)
            if (const auto* texture = dynamic_cast<const osg::Texture*>(
                    state.getTextureAttribute(unit, osg::StateAttribute::TEXTURE)))
                if (texture->getImage(0))
                    images.push_back(texture->getImage(0));
    }
    std::vector<const osg::Image*> images;
};

TEST(UndecodedJpeg, ATilesContentIsTheSameWithoutDecodingItsJpegsAndOthersStillDecodeThem) {
    test::TempDir dir;
    const std::filesystem::path root = test::WritePagedSampleTile(dir / "tile");
    ASSERT_TRUE(KeepEmbeddedImageBytes());
    // The truth: the tile read with its images decoded, as before.
    const osg::ref_ptr<osg::Node> decoded = osgDB::readRefNodeFile(root.string());
    ASSERT_TRUE(decoded);
    osg::ref_ptr<osg::Node> undecoded;
    {
        const UndecodedJpegs skipped;
        undecoded = osgDB::readRefNodeFile(root.string());
    }
    ASSERT_TRUE(undecoded);
    TextureImages decodedImages, undecodedImages;
    decoded->accept(decodedImages);
    undecoded->accept(undecodedImages);
    ASSERT_EQ(undecodedImages.images.size(), decodedImages.images.size());
    ASSERT_FALSE(decodedImages.images.empty());
    for (std::size_t i = 0; i < decodedImages.images.size(); ++i) {
        const osg::Image& pixels = *decodedImages.images[i];
        const osg::Image& sized = *undecodedImages.images[i];
        EXPECT_NE(pixels.data(), nullptr);
        EXPECT_EQ(sized.data(), nullptr) << "decoded all the same";
        EXPECT_EQ(sized.s(), pixels.s());
        EXPECT_EQ(sized.t(), pixels.t());
        ASSERT_TRUE(EmbeddedImageBytes(sized));
        ASSERT_TRUE(EmbeddedImageBytes(pixels));
        EXPECT_EQ(*EmbeddedImageBytes(sized), *EmbeddedImageBytes(pixels));
    }
    const Result<TileContent> truth = MakeTileContent(*decoded, {});
    const Result<TileContent> content = MakeTileContent(*undecoded, {});
    ASSERT_TRUE(truth.ok());
    ASSERT_TRUE(content.ok());
    EXPECT_EQ(content->keptImages, truth->keptImages);
    EXPECT_TRUE(content->glb == truth->glb) << "the glb differs from the decoded tile's";

    // Once the scope ends, what reads images (an overview's summaries) has their pixels.
    const osg::ref_ptr<osg::Node> again = osgDB::readRefNodeFile(root.string());
    TextureImages againImages;
    again->accept(againImages);
    ASSERT_FALSE(againImages.images.empty());
    EXPECT_NE(againImages.images[0]->data(), nullptr);
}

} // namespace
} // namespace brindle
