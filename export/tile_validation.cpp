#include "export/tile_validation.h"

#include "export/binary_scene_header.h"
#include "export/memory_stream.h"
#include "export/registry_options.h"
#include "export/regular_file.h"
#include "export/regular_file_stream.h"
#include "export/tile_bound.h"

#include <osg/Geode>
#include <osg/Group>
#include <osg/Image>
#include <osg/NodeVisitor>
#include <osgDB/Callbacks>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <cstring>
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

// A tile's bytes, read with the size the file had when opened as the bound: a file that grows
// meanwhile is not read past that. The buffer is not zeroed before it is filled, as a
// string's would be.
class FileBytes {
public:
    FileBytes(RegularFile& file, std::error_code& ec)
        : data_(new char[static_cast<std::size_t>(file.size())]),
          size_(file.read(data_.get(), static_cast<std::size_t>(file.size()), ec)) {}

    std::string_view view() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};

// Files larger than this are parsed straight from the file rather than from memory, so a
// huge (perhaps sparse) file costs no more than the reader's own needs.
constexpr std::uint64_t kLargestInMemory = std::uint64_t{256} << 20;

class IndexCheck : public osg::NodeVisitor {
public:
    IndexCheck() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Drawable&) override { drawables_ = true; }
    void apply(osg::Geode& geode) override {
        if (geode.getNumDrawables() > 0)
            drawables_ = true;
        traverse(geode);
    }
    bool foundDrawables() const { return drawables_; }

private:
    bool drawables_ = false;
};

CheckVerdict VerdictFor(RegularFile::Opened opened) {
    switch (opened) {
    case RegularFile::Opened::Missing:
        return CheckVerdict::Missing;
    case RegularFile::Opened::NotRegular:
        return CheckVerdict::NotRegular;
    case RegularFile::Opened::Failed:
    case RegularFile::Opened::Yes:
        break;
    }
    return CheckVerdict::Unreadable;
}

} // namespace

TileValidator::TileValidator() {
    osgDB::Registry& registry = *osgDB::Registry::instance();
    tileReader_ = registry.getReaderWriterForExtension("osgb");
    options_ = CopyOfRegistryOptions();
    options_->setReadFileCallback(new SkipReferencesCallback);
    // The binary reader decodes images embedded as files through the first reader the
    // registry lists for their extension, so the placeholder goes first.
    placeholderImages_ = new PlaceholderImageReader;
    auto& readers = registry.getReaderWriterList();
    readers.insert(readers.begin(), placeholderImages_);
}

TileValidator::~TileValidator() {
    osgDB::Registry::instance()->removeReaderWriter(placeholderImages_.get());
}

CheckReply TileValidator::check(const CheckRequest& request) const {
    CheckReply reply;
    osg::ref_ptr<osg::Node> scene;
    try {
        scene = read(RequestPath(request), request.mode, reply);
    } catch (const std::bad_alloc&) {
        reply.verdict = CheckVerdict::OutOfMemory;
        return reply;
    } catch (const std::exception&) {
        // A cut file, read past its end.
        scene = nullptr;
    }
    if (reply.verdict != CheckVerdict::DoesNotLoad || !scene)
        return reply;
    if (request.kind == CheckKind::Tile) {
        reply.verdict = CheckVerdict::Loads;
        if (request.wantBound)
            reply.bound = BoundOfTile(*scene);
    } else
        reply.verdict = IsIndexScene(*scene) ? CheckVerdict::IsIndex : CheckVerdict::HoldsScene;
    return reply;
}

// Parsing from memory spares the reader a file-stream call for every value it reads. The
// options are set up as the reader sets them up for a file: its folder first on the search
// path, and the binary format named.
//
// The reader does not stop at a failed read: it goes on with null objects and garbage counts,
// and on some cut files that crashes or takes practically forever. In an uncompressed binary
// file a read past the end can only mean damage, so the parse is stopped at the read after it
// and the tile fails.
osg::ref_ptr<osg::Node> TileValidator::read(const std::filesystem::path& file, ParseMode mode,
                                            CheckReply& reply) const {
    RegularFile opened;
    std::error_code ec;
    const RegularFile::Opened how = opened.open(file, ec);
    if (how != RegularFile::Opened::Yes) {
        reply.verdict = VerdictFor(how);
        reply.systemError = ec.value();
        return nullptr;
    }
    if (mode == ParseMode::Full)
        return osgDB::readRefNodeFile(RequestPathText(file),
                                      osgDB::Registry::instance()->getOptions());
    if (!tileReader_)
        return nullptr;
    osg::ref_ptr<osgDB::Options> options =
        static_cast<osgDB::Options*>(options_->clone(osg::CopyOp::SHALLOW_COPY));
    options->getDatabasePathList().push_front(RequestPathText(file.parent_path()));
    options->setPluginStringData("fileType", "Binary");
    if (opened.size() > kLargestInMemory) {
        RegularFileStream stream(opened);
        return tileReader_->readNode(stream, options.get()).getNode();
    }
    const FileBytes bytes(opened, ec);
    if (ec) {
        reply.verdict = CheckVerdict::Unreadable;
        reply.systemError = ec.value();
        return nullptr;
    }
    MemoryStream stream(bytes.view(),
                        IsUncompressedBinaryFile(bytes.view()) ? AtEnd::Stop : AtEnd::Fail);
    osg::ref_ptr<osg::Node> scene = tileReader_->readNode(stream, options.get()).getNode();
    // A parse whose last read was the padded one past the end ends here.
    return stream.ranPastEnd() ? nullptr : scene;
}

bool IsIndexScene(osg::Node& scene) {
    IndexCheck check;
    scene.accept(check);
    return !check.foundDrawables();
}

} // namespace brindle
