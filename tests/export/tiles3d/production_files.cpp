#include "production_files.h"

#include "tools/sample_block.h"

#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osgDB/WriteFile>

#include <stdexcept>

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

SampleTileParams MeshParams(double x, double y, unsigned seed) {
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = 10;
    params.offset = osg::Vec2d(x, y);
    params.seed = seed;
    params.lightInTexture = true;
    return params;
}

// Writes `node`, whose meshes' textures are written as JPEG files beside `file` first so that
// the binary writer embeds their bytes, as production tiles hold them.
void WriteWithJpegs(const fs::path& file, osg::Node& node, const std::vector<osg::Geode*>& meshes) {
    std::vector<fs::path> jpegs;
    for (std::size_t i = 0; i < meshes.size(); ++i) {
        auto* texture = static_cast<osg::Texture2D*>(
            meshes[i]->getDrawable(0)->getStateSet()->getTextureAttribute(
                0, osg::StateAttribute::TEXTURE));
        osg::Image* image = texture->getImage();
        const fs::path jpeg = file.parent_path() / ("texture_" + std::to_string(i) + ".jpg");
        if (!osgDB::writeImageFile(*image, jpeg.string()))
            throw std::runtime_error("cannot write " + jpeg.string());
        image->setFileName(jpeg.filename().string());
        jpegs.push_back(jpeg);
    }
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options("WriteImageHint=IncludeFile");
    options->setDatabasePath(file.parent_path().string());
    const bool written = osgDB::writeNodeFile(node, file.string(), options.get());
    for (const fs::path& jpeg : jpegs)
        fs::remove(jpeg);
    if (!written)
        throw std::runtime_error("cannot write " + file.string());
}

} // namespace

ProductionTile WriteProductionTile(const fs::path& folder) {
    fs::create_directories(folder / "Sub");
    ProductionTile tile;
    tile.root = folder / "Tile_+000_+000_L15_0.osgb";

    const osg::ref_ptr<osg::Node> coarse = MakeSampleTile(MeshParams(300.0, 200.0, 3));
    osg::ref_ptr<osg::PagedLOD> pixels = new osg::PagedLOD;
    pixels->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    pixels->addChild(coarse.get(), 0.0f, 400.0f);
    pixels->setFileName(1, "TILE_+000_+000_L16_A.OSGB");
    pixels->setRange(1, 400.0f, 1e30f);
    pixels->setFileName(2, "瓦片_L16_细节.osgb");
    pixels->setRange(2, 800.0f, 1e30f);
    tile.finer.push_back({folder / "TILE_+000_+000_L16_A.OSGB", true, 400.0});
    tile.finer.push_back({folder / "瓦片_L16_细节.osgb", true, 800.0});

    const osg::ref_ptr<osg::Node> aside = MakeSampleTile(MeshParams(0.0, 0.0, 5));
    osg::ref_ptr<osg::PagedLOD> distance = new osg::PagedLOD;
    distance->setRangeMode(osg::LOD::DISTANCE_FROM_EYE_POINT);
    distance->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    distance->setCenter(osg::Vec3(50.0f, 50.0f, 10.0f));
    distance->setRadius(75.0f);
    distance->addChild(aside.get(), 650.0f, 1e10f);
    distance->setFileName(1, "Sub/FINE_L17.osgb");
    distance->setRange(1, 0.0f, 650.0f);
    tile.finer.push_back({folder / "Sub" / "FINE_L17.osgb", false, 650.0});
    osg::ref_ptr<osg::MatrixTransform> moved =
        new osg::MatrixTransform(osg::Matrix::translate(-120.0, 40.0, 3.5));
    moved->addChild(distance.get());

    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->addChild(pixels.get());
    root->addChild(moved.get());
    WriteWithJpegs(tile.root, *root, {coarse->asGeode(), aside->asGeode()});

    for (const ProductionTile::Finer& finer : tile.finer) {
        SampleTileParams params = MeshParams(300.0, 200.0, 11);
        params.embedJpeg = true;
        params.gridCells = 20;
        WriteSampleTile(finer.file, params);
    }
    return tile;
}

} // namespace brindle::test
