// Registers the scene-graph library's native-format reader and writer (.osgb, .osgt, .osgx),
// the serializers of the core node classes and the JPEG and PNG image plugins with a
// statically linked program. A shared build loads them as plugins on demand; a static one
// must name them at link time.
#include <osgDB/Registry>

USE_OSGPLUGIN(osg2)
USE_SERIALIZER_WRAPPER_LIBRARY(osg)

// Textures embedded in tiles and in the overview's files are JPEG or PNG images, which the
// native format encodes and decodes through the plugins their extensions name.
USE_OSGPLUGIN(jpeg)
USE_OSGPLUGIN(png)

// The zlib compressor, for compressed tiles: its registration sits in an object of the
// static osgDB that nothing else refers to.
USE_COMPRESSOR_WRAPPER(ZLibCompressor)
