#include "export/worker/tile_validation.h"

#include "export/fs/regular_file.h"
#include "export/fs/scene_file_search.h"
#include "export/system/registry_options.h"
#include "export/worker/binary_scene_header.h"
#include "export/worker/memory_stream.h"
#include "export/worker/regular_file_stream.h"
#include "export/worker/tile_bound.h"

#include <osg/Geode>
#include <osg/Group>
#include <osg/Image>
#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osg/Version>
#include <osgDB/Callbacks>
#include <osgDB/ObjectWrapper>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
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

// Stops a tile's read at its own file: referenced images are not read, and referenced scenes
// are refused, so that a proxy node gets no child for its names and the check follows them
// itself.
class SkipReferencesCallback : public osgDB::ReadFileCallback {
public:
    osgDB::ReaderWriter::ReadResult readImage(const std::string&, const osgDB::Options*) override {
        return MakePlaceholderImage().get();
    }
    osgDB::ReaderWriter::ReadResult readNode(const std::string&, const osgDB::Options*) override {
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
    }
};

// Loads the file asked for as a viewer would, images included, but refuses the scenes it
// references, which the check follows itself.
class FirstSceneOnlyCallback : public osgDB::ReadFileCallback {
public:
    osgDB::ReaderWriter::ReadResult readNode(const std::string& file,
                                             const osgDB::Options* options) override {
        if (reading_)
            return osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
        struct Reading {
            explicit Reading(bool& flag) : flag_(flag) { flag_ = true; }
            ~Reading() { flag_ = false; }
            bool& flag_;
        } reading(reading_);
        return osgDB::Registry::instance()->readNodeImplementation(file, options);
    }

private:
    bool reading_ = false;
};

// A tile's bytes, read with the size the file had when opened as the bound: a file that grows
// meanwhile is not read past that. The buffer is not zeroed before it is filled, as a
// string's would be.
class FileBytes {
public:
    FileBytes(RegularFile& file, std::error_code& ec)
        : data_(new char[static_cast<std::size_t>(file.size())]) {
        const Result<std::size_t> read =
            file.read(data_.get(), static_cast<std::size_t>(file.size()));
        ec = read.error();
        size_ = read.value_or(0);
    }

    std::string_view view() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};

// Files larger than this are parsed straight from the file rather than from memory, so a
// huge (perhaps sparse) file costs no more than the reader's own needs.
constexpr std::uint64_t kLargestInMemory = std::uint64_t{256} << 20;

class ProxyNames : public osg::NodeVisitor {
public:
    explicit ProxyNames(bool onlyLoadedAtOnce)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), onlyLoadedAtOnce_(onlyLoadedAtOnce) {}
    void apply(osg::ProxyNode& proxy) override {
        if (!onlyLoadedAtOnce_ ||
            proxy.getLoadingExternalReferenceMode() == osg::ProxyNode::LOAD_IMMEDIATELY)
            for (unsigned i = onlyLoadedAtOnce_ ? proxy.getNumChildren() : 0;
                 i < proxy.getNumFileNames(); ++i)
                add(proxy.getFileName(i));
        traverse(proxy);
    }
    void apply(osg::PagedLOD& paged) override {
        if (!onlyLoadedAtOnce_)
            for (unsigned i = 0; i < paged.getNumFileNames(); ++i)
                add(paged.getFileName(i));
        traverse(paged);
    }
    std::vector<std::string> names;

private:
    void add(const std::string& name) {
        if (!name.empty())
            names.push_back(name);
    }
    bool onlyLoadedAtOnce_;
};

class IndexCheck : public osg::NodeVisitor {
public:
    IndexCheck() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    // The walk ends at the first drawable: a tile's comes within a few nodes, and every tile
    // is asked.
    void apply(osg::Node& node) override {
        if (!drawables_)
            traverse(node);
    }
    void apply(osg::Drawable&) override { drawables_ = true; }
    void apply(osg::Geode& geode) override {
        if (geode.getNumDrawables() > 0)
            drawables_ = true;
        else
            traverse(geode);
    }
    bool foundDrawables() const { return drawables_; }

private:
    bool drawables_ = false;
};

CheckVerdict VerdictFor(const Result<RegularFile::Opened>& opened) {
    if (!opened)
        return IsMissing(opened.error()) ? CheckVerdict::Missing : CheckVerdict::Unreadable;
    return *opened == RegularFile::Opened::NotRegular ? CheckVerdict::NotRegular
                                                      : CheckVerdict::Unreadable;
}

// Why a file the reader did not load failed, from what its bytes show; `ranPastEnd` when the
// parse of an uncompressed binary file asked for bytes beyond its end.
LoadFailure DiagnoseFailure(std::string_view bytes, bool ranPastEnd) {
    if (bytes.empty())
        return LoadFailure::EmptyFile;
    const SceneFileHeader header = ReadSceneFileHeader(bytes);
    if (header.format == SceneFileHeader::Format::NotAScene)
        return LoadFailure::NotAScene;
    if (header.format != SceneFileHeader::Format::Binary)
        return LoadFailure::ReaderError;
    if (header.cut)
        return LoadFailure::Truncated;
    if (header.compressorUnknown)
        return LoadFailure::UnknownCompressor;
    if (header.version > OPENSCENEGRAPH_SOVERSION)
        return LoadFailure::UnsupportedVersion;
    if (ranPastEnd)
        return LoadFailure::Truncated;
    return LoadFailure::ReaderError;
}

// The start of a file too large to read whole, enough for its header.
constexpr std::size_t kHeaderBytes = 64 * 1024;

} // namespace

void ReaderMessages::notify(osg::NotifySeverity severity, const char* message) {
    if (severity > osg::WARN || !message)
        return;
    std::size_t size = std::strlen(message);
    while (size > 0 && std::isspace(static_cast<unsigned char>(message[size - 1])))
        --size;
    if (size == 0)
        return;
    size_ = std::min(size, sizeof text_);
    std::memcpy(text_, message, size_);
}

TileValidator::TileValidator(ReaderMessages* messages) : messages_(messages) {
    osgDB::Registry& registry = *osgDB::Registry::instance();
    tileReader_ = registry.getReaderWriterForExtension("osgb");
    options_ = CopyOfRegistryOptions();
    options_->setReadFileCallback(new SkipReferencesCallback);
    // The binary reader decodes images embedded as files through the first reader the
    // registry lists for their extension, so the placeholder goes first.
    placeholderImages_ = new PlaceholderImageReader;
    auto& readers = registry.getReaderWriterList();
    readers.insert(readers.begin(), placeholderImages_);
    fullOptions_ = CopyOfRegistryOptions();
    fullOptions_->setReadFileCallback(new FirstSceneOnlyCallback);
    // The serializers' library is loaded at the first object read otherwise: a worker starts
    // while the run still scans its folders, and loads it then instead of holding up its first
    // tile.
    registry.getObjectWrapperManager()->findWrapper("osg::Group");
}

TileValidator::~TileValidator() {
    osgDB::Registry::instance()->removeReaderWriter(placeholderImages_.get());
}

TileValidator::ImagesDecoded::ImagesDecoded(osgDB::ReaderWriter* placeholder)
    : placeholder_(placeholder) {
    osgDB::Registry::instance()->removeReaderWriter(placeholder_.get());
}

TileValidator::ImagesDecoded::~ImagesDecoded() {
    auto& readers = osgDB::Registry::instance()->getReaderWriterList();
    readers.insert(readers.begin(), placeholder_);
}

CheckReply TileValidator::check(const CheckRequest& request,
                                osg::ref_ptr<osg::Node>* keptScene) const {
    CheckReply reply;
    const std::filesystem::path file = RequestPath(request);
    if (messages_)
        messages_->clear();
    Parsed parsed;
    try {
        parsed = parse(file, request.mode, keptScene && request.kind == CheckKind::Tile);
    } catch (const std::bad_alloc&) {
        reply.verdict = CheckVerdict::OutOfMemory;
        return reply;
    }
    reply.verdict = parsed.verdict;
    reply.cause = parsed.cause;
    reply.loadFailure = parsed.failure;
    if (reply.loadFailure == LoadFailure::ReaderError)
        reply.readerText = !parsed.readerText.empty() ? parsed.readerText
                           : messages_                ? messages_->text()
                                                      : std::string();
    if (!parsed.scene)
        return reply;
    reply.loadFailure = LoadFailure::None;
    osg::Node& scene = *parsed.scene;
    switch (request.kind) {
    case CheckKind::Tile:
        reply.verdict = CheckVerdict::Loads;
        reply.indexScene = IsIndexScene(scene);
        if (request.wantBound)
            reply.bound = BoundOfTile(scene);
        try {
            reply.verdict = followReferences(request, scene, reply.followsOthers);
        } catch (const std::bad_alloc&) {
            reply.verdict = CheckVerdict::OutOfMemory;
        }
        if (keptScene && reply.verdict == CheckVerdict::Loads)
            *keptScene = parsed.scene;
        break;
    case CheckKind::ExistingIndex:
        reply.verdict = IsIndexScene(scene) ? CheckVerdict::IsIndex : CheckVerdict::HoldsScene;
        break;
    case CheckKind::Content:
        // What it holds is the converter's to read; a file it names loads later, if at all.
        reply.verdict = CheckVerdict::Loads;
        if (keptScene)
            *keptScene = parsed.scene;
        break;
    case CheckKind::IndexEntries: {
        reply.verdict = IsIndexScene(scene) ? CheckVerdict::IsIndex : CheckVerdict::HoldsScene;
        std::vector<std::string> names = IndexEntryNames(scene);
        reply.entryCount = static_cast<std::uint32_t>(names.size());
        if (request.firstEntry < names.size())
            reply.entries.assign(std::make_move_iterator(names.begin() + request.firstEntry),
                                 std::make_move_iterator(names.end()));
        break;
    }
    }
    return reply;
}

namespace {

// A file on the way down from the tile: the folders its names are searched in, and its names,
// `next` the first not yet followed.
struct Step {
    FileFacts file;
    SearchFolders folders;
    std::vector<std::string> names;
    std::size_t next = 0;
};

// A file whose names were all followed, with the search list it was reached with.
struct Followed {
    FileFacts file;
    SearchFolders folders;
};

bool FollowedBefore(const std::vector<Followed>& done, const FileFacts& file,
                    const SearchFolders& folders) {
    return std::any_of(done.begin(), done.end(), [&](const Followed& f) {
        return SameFile(file, f.file) && f.folders == folders;
    });
}

// The files already loading above the tile, as its request names them.
struct FilesAbove {
    std::vector<FileFacts> onDisk;
    // Indexes above that are yet to be written: a name reaching one is a cycle all the same.
    std::vector<std::string> toBeWritten;
};

FilesAbove FilesAboveOf(const CheckRequest& request) {
    FilesAbove above;
    for (const std::string& file : request.filesAbove) {
        const Result<FileFacts> facts = LookAt(PathOfRequestText(file));
        if (facts && facts->type == std::filesystem::file_type::not_found)
            above.toBeWritten.push_back(file);
        else if (facts)
            above.onDisk.push_back(*facts);
    }
    return above;
}

} // namespace

// Walks the files named to load at once, depth first, as a viewer's plain load walks them:
// each name is searched for with the folders the files on the way leave on the search list,
// and a file found is read with its own folder put in front. A file reached a second time
// while it is still being read is a cycle: the reader would load it again, and again, until
// its stack ran out. A file whose names were all followed without meeting a cycle is not
// followed again when it is reached with the same search list.
CheckVerdict TileValidator::followReferences(const CheckRequest& request, osg::Node& scene,
                                             bool& followsOthers) const {
    std::vector<std::string> names = NamesToLoadAtOnce(scene);
    // Most tiles name nothing to load at once, and need no look at their own file.
    if (names.empty())
        return CheckVerdict::Loads;
    FilesAbove filesAbove = FilesAboveOf(request);
    const std::vector<FileFacts>& above = filesAbove.onDisk;
    const std::vector<std::string>& toBeWritten = filesAbove.toBeWritten;
    SearchFolders folders = SearchFoldersOfFile(request.path);
    folders.insert(folders.end(), request.inheritedSearch.begin(), request.inheritedSearch.end());
    std::vector<Step> way;
    way.push_back(
        {LookAt(RequestPath(request)).value_or({}), std::move(folders), std::move(names)});
    followsOthers = true;
    std::vector<Followed> done;
    const auto onTheWay = [&](const FileFacts& facts) {
        const auto same = [&](const FileFacts& other) { return SameFile(facts, other); };
        return std::any_of(above.begin(), above.end(), same) ||
               std::any_of(way.begin(), way.end(), [&](const Step& s) { return same(s.file); });
    };
    while (!way.empty()) {
        Step& step = way.back();
        if (step.next == step.names.size()) {
            done.push_back({step.file, std::move(step.folders)});
            way.pop_back();
            continue;
        }
        const std::string& name = step.names[step.next++];
        SearchFolders searched = SearchFoldersForName(step.folders, name);
        const std::optional<std::string> found = FindSceneFile(name, searched, toBeWritten);
        if (!found)
            continue;
        const std::filesystem::path next = PathOfRequestText(*found);
        const Result<FileFacts> looked = LookAt(next);
        // The search takes only files that exist, or indexes yet to be written.
        if (looked && looked->type == std::filesystem::file_type::not_found &&
            std::any_of(toBeWritten.begin(), toBeWritten.end(),
                        [&](const std::string& file) { return SameFilePath(*found, file); }))
            return CheckVerdict::Cycle;
        if (!looked || looked->type != std::filesystem::file_type::regular)
            continue;
        const FileFacts& facts = *looked;
        if (onTheWay(facts))
            return CheckVerdict::Cycle;
        SearchFolders nextFolders = SearchFoldersOfFound(*found, searched);
        if (FollowedBefore(done, facts, nextFolders))
            continue;
        Parsed parsed = parse(next, request.mode, false);
        if (!parsed.scene) {
            done.push_back({facts, std::move(nextFolders)});
            continue;
        }
        std::vector<std::string> nextNames = NamesToLoadAtOnce(*parsed.scene);
        parsed.scene = nullptr;
        way.push_back({facts, std::move(nextFolders), std::move(nextNames)});
    }
    return CheckVerdict::Loads;
}

// Opens `file` for a parse; when it cannot be opened, `parsed` says why and false is returned.
static bool OpenToParse(const std::filesystem::path& file, RegularFile& opened,
                        TileValidator::Parsed& parsed) {
    const Result<RegularFile::Opened> how = opened.open(file);
    if (how && *how == RegularFile::Opened::Yes)
        return true;
    parsed.verdict = VerdictFor(how);
    parsed.cause = how.error();
    return false;
}

TileValidator::Parsed TileValidator::parse(const std::filesystem::path& file, ParseMode mode,
                                           bool withImages) const {
    if (mode == ParseMode::Fast && withImages) {
        const ImagesDecoded decoded(placeholderImages_.get());
        return parseFast(file);
    }
    if (mode == ParseMode::Fast)
        return parseFast(file);
    Parsed parsed;
    RegularFile opened;
    if (!OpenToParse(file, opened, parsed))
        return parsed;
    try {
        parsed.scene = osgDB::readRefNodeFile(RequestPathText(file), fullOptions_.get());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        parsed.scene = nullptr;
    }
    if (parsed.scene)
        return parsed;
    // Why it failed, as the fast parse tells it.
    const Parsed fast = parseFast(file);
    parsed.verdict = fast.verdict;
    parsed.cause = fast.cause;
    parsed.failure = fast.scene ? LoadFailure::ReaderError : fast.failure;
    parsed.readerText = fast.readerText;
    return parsed;
}

// Parsing from memory spares the reader a file-stream call for every value it reads. The
// options are set up as the reader sets them up for a file: its folder first on the search
// path, and the binary format named.
//
// The reader does not stop at a failed read: it goes on with null objects and garbage counts,
// and on some cut files that crashes or takes practically forever. In an uncompressed binary
// file a read past the end can only mean damage, so the parse is stopped at the read after it
// and the tile fails.
TileValidator::Parsed TileValidator::parseFast(const std::filesystem::path& file) const {
    Parsed parsed;
    RegularFile opened;
    if (!OpenToParse(file, opened, parsed))
        return parsed;
    if (opened.size() == 0) {
        parsed.failure = LoadFailure::EmptyFile;
        return parsed;
    }
    if (!tileReader_) {
        parsed.failure = LoadFailure::ReaderError;
        return parsed;
    }
    osg::ref_ptr<osgDB::Options> options =
        static_cast<osgDB::Options*>(options_->clone(osg::CopyOp::SHALLOW_COPY));
    options->getDatabasePathList().push_front(RequestPathText(file.parent_path()));
    options->setPluginStringData("fileType", "Binary");
    std::error_code ec;
    if (opened.size() > kLargestInMemory) {
        try {
            RegularFileStream stream(opened);
            osgDB::ReaderWriter::ReadResult result = tileReader_->readNode(stream, options.get());
            parsed.scene = result.getNode();
            parsed.readerText = result.message();
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception&) {
            parsed.scene = nullptr;
        }
        if (!parsed.scene) {
            std::string start(kHeaderBytes, '\0');
            start.resize(opened.seek(0) ? opened.read(start.data(), start.size()).value_or(0) : 0);
            parsed.failure = DiagnoseFailure(start, false);
        }
        return parsed;
    }
    const FileBytes bytes(opened, ec);
    if (ec) {
        parsed.verdict = CheckVerdict::Unreadable;
        parsed.cause = ec;
        return parsed;
    }
    MemoryStream stream(bytes.view(),
                        IsUncompressedBinaryFile(bytes.view()) ? AtEnd::Stop : AtEnd::Fail);
    try {
        osgDB::ReaderWriter::ReadResult result = tileReader_->readNode(stream, options.get());
        parsed.scene = result.getNode();
        parsed.readerText = result.message();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // A cut file, read past its end.
        parsed.scene = nullptr;
    }
    // A parse whose last read was the padded one past the end ends here.
    if (stream.ranPastEnd())
        parsed.scene = nullptr;
    if (!parsed.scene)
        parsed.failure = DiagnoseFailure(bytes.view(), stream.ranPastEnd());
    return parsed;
}

bool IsIndexScene(osg::Node& scene) {
    IndexCheck check;
    scene.accept(check);
    return !check.foundDrawables();
}

std::vector<std::string> NamesToLoadAtOnce(osg::Node& scene) {
    ProxyNames names(true);
    scene.accept(names);
    return std::move(names.names);
}

std::vector<std::string> IndexEntryNames(osg::Node& scene) {
    ProxyNames names(false);
    scene.accept(names);
    return std::move(names.names);
}

} // namespace brindle
