#pragma once

#include "export/protocol/tile_check_protocol.h"

#include <osg/Node>
#include <osg/Notify>
#include <osg/ref_ptr>
#include <osgDB/Options>
#include <osgDB/ReaderWriter>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace brindle {

// Keeps the reader's last warning or error, cut to kMaxReaderText bytes, so that a tile that
// fails to load can say what the reader said. It allocates nothing: the reader may be out of
// memory when it speaks.
class ReaderMessages : public osg::NotifyHandler {
public:
    void notify(osg::NotifySeverity severity, const char* message) override;
    void clear() { size_ = 0; }
    std::string text() const { return std::string(text_, size_); }

private:
    char text_[kMaxReaderText];
    std::size_t size_ = 0;
};

// Decides whether a scene file loads, and whether a loaded scene is an index, inside a
// tile-check worker process. It changes the scene-graph library's process-wide reader list,
// so only a worker, single-threaded, may create one.
//
// A tile loads when its own file parses; its textures cannot change that. So the fast check
// parses every byte of the tile's file but decodes no image: while a fast validator exists,
// images embedded as files decode to a 1x1 placeholder, and external images are not read at
// all. The full check loads the tile as a viewer would. Both give the same answer, except
// that the fast check stops parsing a damaged uncompressed file at its end, where the
// library's reader would go on with garbage.
//
// A scene that names files to load at once (a proxy node, as an index has) is followed as a
// viewer's plain load follows it, by both checks: every file it names is checked in turn, in
// the same request and so under the same deadline and memory ceiling. A file that fails to
// load there costs the tile nothing, as a viewer shows the tile without it; one that crashes
// the reader or runs out of time or memory does. The names are searched for here, exactly as
// the reader's search finds them, rather than by the reader, which would follow a cycle for
// ever: its search retries a name it cannot find as a bare file name in the folders it has
// searched, and so finds a missing "T1\root.osgb" named by an index called root.osgb as the
// index itself. A name the search finds no regular file for is skipped, as a viewer skips a
// child it cannot load; a name that leads back to a file on the way is a cycle.
class TileValidator {
public:
    // `messages`, when given, is the notify handler the process has installed.
    explicit TileValidator(ReaderMessages* messages = nullptr);
    ~TileValidator();
    TileValidator(const TileValidator&) = delete;
    TileValidator& operator=(const TileValidator&) = delete;

    // `scene`, when given, receives the scene of a tile that loads, for the caller to summarise
    // (or, for a Content request, to convert).
    CheckReply check(const CheckRequest& request, osg::ref_ptr<osg::Node>* scene = nullptr) const;

    // While it lives, the images a fast parse meets are decoded, and the registry's image
    // readers and writers are their own: the placeholder reader steps out of the registry's
    // list, and back to its head after. Not nested.
    class ImagesDecoded {
    public:
        explicit ImagesDecoded(osgDB::ReaderWriter* placeholder);
        ~ImagesDecoded();
        ImagesDecoded(const ImagesDecoded&) = delete;
        ImagesDecoded& operator=(const ImagesDecoded&) = delete;

    private:
        osg::ref_ptr<osgDB::ReaderWriter> placeholder_;
    };
    ImagesDecoded decodeImages() const { return ImagesDecoded(placeholderImages_.get()); }

    // What a parse of one file gave.
    struct Parsed {
        osg::ref_ptr<osg::Node> scene;
        CheckVerdict verdict = CheckVerdict::DoesNotLoad;
        std::error_code cause;
        LoadFailure failure = LoadFailure::None;
        std::string readerText; // what the reader's result said, if anything
    };

private:
    // `withImages`: images embedded in the file are decoded, even in a fast parse.
    Parsed parse(const std::filesystem::path& file, ParseMode mode, bool withImages) const;
    Parsed parseFast(const std::filesystem::path& file) const;
    // Sets `followsOthers` when the scene names any file to load at once.
    CheckVerdict followReferences(const CheckRequest& request, osg::Node& scene,
                                  bool& followsOthers) const;

    ReaderMessages* messages_;
    osg::ref_ptr<osgDB::Options> options_;
    osg::ref_ptr<osgDB::Options> fullOptions_;
    osg::ref_ptr<osgDB::ReaderWriter> tileReader_;
    osg::ref_ptr<osgDB::ReaderWriter> placeholderImages_;
};

// True when `scene` holds no drawables: only groups, transforms and references to other
// files, as an index does.
bool IsIndexScene(osg::Node& scene);

// The file names in `scene` that a plain load reads at once: those of its proxy nodes that
// load immediately and have no child of their own in that place.
std::vector<std::string> NamesToLoadAtOnce(osg::Node& scene);

// Every file name an index scene holds, proxy and paged entries alike, in scene order.
std::vector<std::string> IndexEntryNames(osg::Node& scene);

} // namespace brindle
