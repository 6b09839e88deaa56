#pragma once

#include <osg/ref_ptr>
#include <osgDB/Options>

namespace brindle {

// A copy of the registry's global read/write options (or fresh ones where it has none), for
// a caller that adds options of its own without touching the global ones.
osg::ref_ptr<osgDB::Options> CopyOfRegistryOptions();

} // namespace brindle
