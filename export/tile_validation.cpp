#include "export/tile_validation.h"

#include "export/binary_scene_header.h"
#include "export/memory_stream.h"
#include "export/registry_options.h"

#include <osg/Group>
#include <osg/Image>
#include <osgDB/Callbacks>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>
#include <system_error>

namespace brindle {
namespace {

osg::ref_ptr<osg::Image> MakePlaceholderImage() {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE);
    std::fill_n(image->data(), 4, static_cast<unsigned char>(0xff));
    return image;
}

// Answers every image read with a 1x1 image instead of decoding it.
class PlaceholderImageReader : public osgDB::ReaderWriter {
public:
    PlaceholderImageReader() {
        for (const char* extension :
             {"jpg", "jpeg", "jpe", "png",  "bmp", "tga", "tif",  "tiff", "gif",
              "dds", "ktx",  "rgb", "rgba", "sgi", "int", "inta", "bw",   "pic",
              "pnm", "ppm",  "pgm", "pbm",  "hdr", "jp2", "j2k",  "webp", "exr"})
            supportsExtension(extension, "image, not decoded while validating tiles");
    }
    const char* className() const override { return "tile validation image placeholder"; }

    ReadResult readImage(const std::string&, const Options*) const override {
        return MakePlaceholderImage().get();
    }
    ReadResult readImage(std::istream&, const Options*) const override {
        return MakePlaceholderImage().get();
    }
};

// Stops a tile's read at its own file: referenced images and scenes are not read.
class SkipReferencesCallback : public osgDB::ReadFileCallback {
public:
    osgDB::ReaderWriter::ReadResult readImage(const std::string&, const osgDB::Options*) override {
        return MakePlaceholderImage().get();
    }
    osgDB::ReaderWriter::ReadResult readNode(const std::string&, const osgDB::Options*) override {
        return new osg::Group;
    }
};

// A file's bytes, as many as can be read; a file that grows meanwhile is read to its new end.
// The buffer is not zeroed before it is filled, as a string's would be.
class FileBytes {
public:
    explicit FileBytes(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return;
        std::error_code ec;
        const std::uintmax_t expected = std::filesystem::file_size(file, ec);
        // One byte more than expected tells whether the file has grown.
        std::size_t capacity = ec ? std::size_t{1} << 16 : static_cast<std::size_t>(expected) + 1;
        data_.reset(new char[capacity]);
        for (;;) {
            in.read(data_.get() + size_, static_cast<std::streamsize>(capacity - size_));
            size_ += static_cast<std::size_t>(in.gcount());
            if (size_ < capacity)
                return;
            std::unique_ptr<char[]> larger(new char[capacity * 2]);
            std::memcpy(larger.get(), data_.get(), size_);
            data_ = std::move(larger);
            capacity *= 2;
        }
    }

    std::string_view view() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};

} // namespace

TileValidator::TileValidator(Mode mode) : mode_(mode) {
    osgDB::Registry& registry = *osgDB::Registry::instance();
    // Loading the plugin from several threads at once would race inside the registry.
    tileReader_ = registry.getReaderWriterForExtension("osgb");
    if (mode_ == Mode::Full)
        return;
    options_ = CopyOfRegistryOptions();
    options_->setReadFileCallback(new SkipReferencesCallback);
    // The binary reader decodes images embedded as files through the first reader the
    // registry lists for their extension, so the placeholder goes first.
    placeholderImages_ = new PlaceholderImageReader;
    auto& readers = registry.getReaderWriterList();
    readers.insert(readers.begin(), placeholderImages_);
}

TileValidator::~TileValidator() {
    if (placeholderImages_)
        osgDB::Registry::instance()->removeReaderWriter(placeholderImages_.get());
}

TileStatus TileValidator::validate(const std::filesystem::path& tileFolder) const {
    const std::filesystem::path probe = tileFolder / "root.osgb";
    std::error_code ec;
    if (!std::filesystem::exists(probe, ec))
        return TileStatus::NoRootFile;
    osg::ref_ptr<osg::Node> scene;
    try {
        if (mode_ == Mode::Full)
            scene =
                osgDB::readRefNodeFile(probe.string(), osgDB::Registry::instance()->getOptions());
        else if (tileReader_)
            scene = readTileFromMemory(probe);
    } catch (const std::exception&) {
        // A cut file, or a count so large that the memory for it could not be had.
        return TileStatus::LoadFailed;
    }
    return scene ? TileStatus::Valid : TileStatus::LoadFailed;
}

// Parsing from memory spares the reader a file-stream call for every value it reads. The
// options are set up as the reader sets them up for a file: its folder first on the search
// path, and the binary format named.
//
// The reader does not stop at a failed read: it goes on with null objects and garbage counts,
// and on some cut files that crashes or takes practically forever. In an uncompressed binary
// file a read past the end can only mean damage, so the parse is stopped at the read after it
// and the tile fails.
osg::ref_ptr<osg::Node>
TileValidator::readTileFromMemory(const std::filesystem::path& probe) const {
    const FileBytes file(probe);
    const std::string_view bytes = file.view();
    osg::ref_ptr<osgDB::Options> options =
        static_cast<osgDB::Options*>(options_->clone(osg::CopyOp::SHALLOW_COPY));
    options->getDatabasePathList().push_front(probe.parent_path().string());
    options->setPluginStringData("fileType", "Binary");
    MemoryStream stream(bytes, IsUncompressedBinaryFile(bytes) ? AtEnd::Stop : AtEnd::Fail);
    osg::ref_ptr<osg::Node> scene = tileReader_->readNode(stream, options.get()).getNode();
    // A parse whose last read was the padded one past the end ends here.
    return stream.ranPastEnd() ? nullptr : scene;
}

} // namespace brindle
