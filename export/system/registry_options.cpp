#include "export/system/registry_options.h"

#include <osgDB/Registry>

namespace brindle {

osg::ref_ptr<osgDB::Options> CopyOfRegistryOptions() {
    if (const osgDB::Options* global = osgDB::Registry::instance()->getOptions())
        return global->cloneOptions();
    return new osgDB::Options;
}

} // namespace brindle
