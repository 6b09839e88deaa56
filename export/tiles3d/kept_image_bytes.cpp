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

private:
    osg::ref_ptr<osgDB::ReaderWriter> Inner() const {
        osg::ref_ptr<osgDB::ReaderWriter> inner;
        inner_.lock(inner);
        return inner;
    }

    osg::observer_ptr<osgDB::ReaderWriter> inner_;
    std::size_t maxBytes_;
};

} // namespace

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
