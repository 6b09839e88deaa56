// Registers the scene-graph library's native-format reader and writer (.osgb, .osgt, .osgx)
// and the serializers of the core node classes with a statically linked program. A shared
// build loads both as plugins on demand; a static one must name them at link time.
#include <osgDB/Registry>

USE_OSGPLUGIN(osg2)
USE_SERIALIZER_WRAPPER_LIBRARY(osg)

// The zlib compressor, for compressed tiles: its registration sits in an object of the
// static osgDB that nothing else refers to.
USE_COMPRESSOR_WRAPPER(ZLibCompressor)
