#include "export/tiles3d/kept_image_bytes.h"

#include <osg/Object>
#include <osg/observer_ptr>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <iterator>
#include <sstream>
#include <utility>

namespace brindle {
namespace {

// The bytes an image was decoded from, held as the image's user data.
class KeptBytes : public osg::Object {
public:
    KeptBytes() = default;
    explicit KeptBytes(std::string bytes) : bytes_(std::move(bytes)) {}
    KeptBytes(const KeptBytes& other, const osg::CopyOp& copy)
        : osg::Object(other, copy), bytes_(other.bytes_) {}
    META_Object(brindle, KeptBytes)

        const std::string& bytes() const {
        return bytes_;
    }

private:
    std::string bytes_;
};

// The registry's reader for a kind of image, keeping the bytes of what it decodes from a
// stream. A scene hands such a reader bytes it holds already, so keeping them costs a copy.
// The reader it stands in front of stays the registry's: its code is a plugin's, which the
// registry unloads as it ends, and only the registry knows when.
class KeepingReader : public osgDB::ReaderWriter {
public:
    KeepingReader(osgDB::ReaderWriter& inner, std::size_t maxBytes)
        : inner_(&inner), maxBytes_(maxBytes) {
        for (const auto& [extension, description] : inner.supportedExtensions())
            supportsExtension(extension, description);
    }

    const char* className() const override { return "image reader keeping its bytes"; }
    bool acceptsExtension(const std::string& extension) const override {
        const osg::ref_ptr<osgDB::ReaderWriter> inner = Inner();
        return inner && inner->acceptsExtension(extension);
    }

    ReadResult readImage(std::istream& in, const Options* options) const override {
        const osg::ref_ptr<osgDB::ReaderWriter> inner = Inner();
        if (!inner)
            return ReadResult::FILE_NOT_HANDLED;
        std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (skipJpegPixels_ && bytes.size() <= maxBytes_)
            if (const std::optional<JpegFrame> frame = JpegFrameOf(bytes))
                return UndecodedImage(*frame, std::move(bytes)).get();
        std::istringstream copy(bytes);
        ReadResult read = inner->readImage(copy, options);
        if (read.validImage() && bytes.size() <= maxBytes_ &&
            read.getImage()->getUserData() == nullptr)
            read.getImage()->setUserData(new KeptBytes(std::move(bytes)));
        return read;
    }
    ReadResult readImage(const std::string& file, const Options* options) const override {
        const osg::ref_ptr<osgDB::ReaderWriter> inner = Inner();
        return inner ? inner->readImage(file, options) : ReadResult::FILE_NOT_HANDLED;
    }
    ReadResult readObject(std::istream& in, const Options* options) const override {
        return readImage(in, options);
    }
    ReadResult readObject(const std::string& file, const Options* options) const override {
        const osg::ref_ptr<osgDB::ReaderWriter> inner = Inner();
        return inner ? inner->readObject(file, options) : ReadResult::FILE_NOT_HANDLED;
    }
    WriteResult writeImage(const osg::Image& image, std::ostream& out,
                           const Options* options) const override {
        const osg::ref_ptr<osgDB::ReaderWriter> inner = Inner();
        return inner ? inner->writeImage(image, out, options) : WriteResult::FILE_NOT_HANDLED;
    }
    WriteResult writeImage(const osg::Image& image, const std::string& file,
                           const Options* options) const override {
        const osg::ref_ptr<osgDB::ReaderWriter> inner = Inner();
        return inner ? inner->writeImage(image, file, options) : WriteResult::FILE_NOT_HANDLED;
    }

    void skipJpegPixels(bool skip) { skipJpegPixels_ = skip; }

private:
    // An image of the frame's size and colours with no pixels, holding the file's bytes.
    static osg::ref_ptr<osg::Image> UndecodedImage(const JpegFrame& frame, std::string bytes) {
        const GLenum format = frame.components == 3 ? GL_RGB : GL_LUMINANCE;
        osg::ref_ptr<osg::Image> image = new osg::Image;
        image->setImage(frame.width, frame.height, 1, static_cast<GLint>(format), format,
                        GL_UNSIGNED_BYTE, nullptr, osg::Image::NO_DELETE);
        image->setUserData(new KeptBytes(std::move(bytes)));
        return image;
    }

    osg::ref_ptr<osgDB::ReaderWriter> Inner() const {
        osg::ref_ptr<osgDB::ReaderWriter> inner;
        inner_.lock(inner);
        return inner;
    }

    osg::observer_ptr<osgDB::ReaderWriter> inner_;
    std::size_t maxBytes_;
    bool skipJpegPixels_ = false;
};

// The keeping reader the registry lists first for JPEG files; none before
// KeepEmbeddedImageBytes().
KeepingReader* JpegKeepingReader() {
    for (const osg::ref_ptr<osgDB::ReaderWriter>& reader :
         osgDB::Registry::instance()->getReaderWriterList())
        if (auto* keeping = dynamic_cast<KeepingReader*>(reader.get());
            keeping != nullptr && keeping->acceptsExtension("jpg"))
            return keeping;
    return nullptr;
}

bool IsFrameMarker(unsigned char marker) {
    // SOF0 to SOF15 but for DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

} // namespace

std::optional<JpegFrame> JpegFrameOf(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t size = bytes.size();
    if (size < 4 || at(0) != 0xFF || at(1) != 0xD8 || at(size - 2) != 0xFF || at(size - 1) != 0xD9)
        return std::nullopt;
    std::size_t i = 2;
    // Marker segments up to the frame header: each a marker, then its length (which counts
    // itself) and its data.
    while (i + 4 <= size) {
        if (at(i) != 0xFF)
            return std::nullopt;
        const unsigned char marker = at(i + 1);
        if (marker == 0xFF) { // fill byte before a marker
            ++i;
            continue;
        }
        const std::size_t length = std::size_t{at(i + 2)} << 8 | at(i + 3);
        if (length < 2 || i + 2 + length > size || marker == 0xDA || marker == 0xD9)
            return std::nullopt; // past its end, or scan data before any frame header
        if (IsFrameMarker(marker)) {
            if (length < 8)
                return std::nullopt;
            JpegFrame frame;
            frame.height = at(i + 5) << 8 | at(i + 6);
            frame.width = at(i + 7) << 8 | at(i + 8);
            frame.components = at(i + 9);
            // Samples of 8 bits, as a web viewer's decoder takes them.
            if (at(i + 4) != 8 || frame.width == 0 || frame.height == 0 ||
                (frame.components != 1 && frame.components != 3))
                return std::nullopt;
            return frame;
        }
        i += 2 + length;
    }
    return std::nullopt;
}

UndecodedJpegs::UndecodedJpegs() {
    if (KeepingReader* reader = JpegKeepingReader())
        reader->skipJpegPixels(true);
}

UndecodedJpegs::~UndecodedJpegs() {
    if (KeepingReader* reader = JpegKeepingReader())
        reader->skipJpegPixels(false);
}

bool KeepEmbeddedImageBytes(std::size_t maxBytes) {
    osgDB::Registry* registry = osgDB::Registry::instance();
    for (const char* extension : {"jpg", "png"}) {
        osgDB::ReaderWriter* reader = registry->getReaderWriterForExtension(extension);
        if (reader == nullptr)
            return false;
        if (dynamic_cast<KeepingReader*>(reader) != nullptr)
            continue;
        // Ahead of the reader it stands for, which the registry would find first otherwise.
        osgDB::Registry::ReaderWriterList& readers = registry->getReaderWriterList();
        readers.insert(readers.begin(), new KeepingReader(*reader, maxBytes));
    }
    return true;
}

const std::string* EmbeddedImageBytes(const osg::Image& image) {
    const auto* kept = dynamic_cast<const KeptBytes*>(image.getUserData());
    return kept != nullptr ? &kept->bytes() : nullptr;
}

} // namespace brindle
