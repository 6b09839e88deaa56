#include "export/tile_validation.h"

#include "export/registry_options.h"

#include <osg/Group>
#include <osg/Image>
#include <osgDB/Callbacks>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
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
    if (mode_ == Mode::Full)
        scene = osgDB::readRefNodeFile(probe.string(), osgDB::Registry::instance()->getOptions());
    else if (tileReader_)
        scene = tileReader_->readNode(probe.string(), options_.get()).getNode();
    return scene ? TileStatus::Valid : TileStatus::LoadFailed;
}

} // namespace brindle
