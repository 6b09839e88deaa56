#pragma once

#include "export/tile_check_protocol.h"

#include <osg/Node>
#include <osg/ref_ptr>
#include <osgDB/Options>
#include <osgDB/ReaderWriter>

#include <filesystem>

namespace brindle {

// Decides whether a scene file loads, and whether a loaded scene is an index, inside a
// tile-check worker process. It changes the scene-graph library's process-wide reader list,
// so only a worker, single-threaded, may create one.
//
// A tile loads when its own file parses; its textures and the scenes its nodes reference
// cannot change that. So the fast check parses every byte of the tile's file but decodes no
// image and loads no referenced scene: while a fast validator exists, images embedded as
// files decode to a 1x1 placeholder, and external images and scenes are not read at all. The
// full check loads the tile as a viewer would. Both give the same answer, except that the fast
// check stops parsing a damaged uncompressed file at its end, where the library's reader
// would go on with garbage.
class TileValidator {
public:
    TileValidator();
    ~TileValidator();
    TileValidator(const TileValidator&) = delete;
    TileValidator& operator=(const TileValidator&) = delete;

    CheckReply check(const CheckRequest& request) const;

private:
    osg::ref_ptr<osg::Node> read(const std::filesystem::path& file, ParseMode mode,
                                 CheckReply& reply) const;

    osg::ref_ptr<osgDB::Options> options_;
    osg::ref_ptr<osgDB::ReaderWriter> tileReader_;
    osg::ref_ptr<osgDB::ReaderWriter> placeholderImages_;
};

// True when `scene` holds no drawables: only groups, transforms and references to other
// files, as an index does.
bool IsIndexScene(osg::Node& scene);

} // namespace brindle
