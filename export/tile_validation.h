#pragma once

#include <osg/Node>
#include <osg/ref_ptr>
#include <osgDB/Options>
#include <osgDB/ReaderWriter>

#include <filesystem>

namespace brindle {

enum class TileStatus {
    Valid,      // root.osgb exists and loads
    NoRootFile, // there is no root.osgb directly in the folder
    LoadFailed, // root.osgb exists but does not load
};

// Decides whether a tile folder's root.osgb exists and loads; the loaded scene is released at
// once.
//
// A tile loads when its own file parses; its textures and the scenes its nodes reference
// cannot change that. So the fast check parses every byte of the tile's file but decodes no
// image and loads no referenced scene: while a fast validator exists, images embedded as
// files decode to a 1x1 placeholder, and external images and scenes are not read at all. The
// full check loads the tile as a viewer would. Both give the same answer, except that the fast
// check fails a damaged tile on which the library's reader would crash or never return.
//
// Create one validator at a time, before validation threads start; validate() is then safe
// from any number of threads.
class TileValidator {
public:
    enum class Mode { Fast, Full };

    explicit TileValidator(Mode mode = Mode::Fast);
    ~TileValidator();
    TileValidator(const TileValidator&) = delete;
    TileValidator& operator=(const TileValidator&) = delete;

    TileStatus validate(const std::filesystem::path& tileFolder) const;

private:
    osg::ref_ptr<osg::Node> readTileFromMemory(const std::filesystem::path& probe) const;

    Mode mode_;
    osg::ref_ptr<osgDB::Options> options_;
    osg::ref_ptr<osgDB::ReaderWriter> tileReader_;
    osg::ref_ptr<osgDB::ReaderWriter> placeholderImages_;
};

} // namespace brindle
