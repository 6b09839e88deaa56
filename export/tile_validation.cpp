#include "export/tile_validation.h"

#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <system_error>

namespace brindle {

TileStatus ValidateTile(const std::filesystem::path& tileFolder) {
    const std::filesystem::path probe = tileFolder / "root.osgb";
    std::error_code ec;
    if (!std::filesystem::exists(probe, ec))
        return TileStatus::NoRootFile;
    const osg::ref_ptr<osg::Node> scene =
        osgDB::readNodeFile(probe.string(), osgDB::Registry::instance()->getOptions());
    return scene ? TileStatus::Valid : TileStatus::LoadFailed;
}

void PrepareTileValidation() {
    // Loading the plugin from several threads at once would race inside the registry.
    osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
}

} // namespace brindle
