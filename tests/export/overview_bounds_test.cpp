// The overview stands where its block's tiles are: a stray vertex stretches nothing, and a block
// whose side is no power of two is not drawn into its quadtree's square.
#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/PagedLOD>
#include <osg/Texture2D>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

constexpr int kCells = 8; // a tile's mesh is kCells x kCells squares

std::string GridName(int x, int y) {
    char name[32];
    std::snprintf(name, sizeof name, "Tile_%+04d_%+04d", x, y);
    return name;
}

// Tile (x, y) of a block of 50 m tiles; with `stray`, one inner vertex of its mesh lies that far
// off, the corner of the six triangles around it.
void WriteTile(const fs::path& block, int x, int y, const osg::Vec3& stray = {}) {
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = kCells;
    params.sizeMetres = 50;
    params.offset = osg::Vec2d(50.0 * x, 50.0 * y);
    params.seed = static_cast<unsigned>(100 * x + y + 1);
    const osg::ref_ptr<osg::Node> tile = MakeSampleTile(params);
    auto* mesh = tile->asGeode()->getDrawable(0)->asGeometry();
    auto* vertices = static_cast<osg::Vec3Array*>(mesh->getVertexArray());
    (*vertices)[kCells + 2] += stray; // vertex (1, 1)
    const fs::path folder = block / GridName(x, y);
    fs::create_directories(folder);
    const osg::ref_ptr<osgDB::Options> options = new osgDB::Options("WriteImageHint=IncludeData");
    ASSERT_TRUE(osgDB::writeNodeFile(*tile, (folder / "root.osgb").string(), options.get()));
}

ExportReport Export(const fs::path& block, IndexKind kind) {
    ExportOptions options;
    options.jobs = 2;
    options.index = kind;
    return ExportFolderIndexes({block}, options);
}

// The overview's top node file, as a viewer reads it.
osg::ref_ptr<osg::PagedLOD> TopNode(const fs::path& block) {
    const std::vector<fs::path> folders = OverviewFolders(block);
    if (folders.size() != 1)
        return nullptr;
    for (const auto& entry : fs::directory_iterator(folders[0])) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("L", 0) != 0 || entry.path().extension() != ".osgb")
            continue;
        // The top is the node of the highest level.
        bool higher = false;
        for (const auto& other : fs::directory_iterator(folders[0]))
            higher = higher || (other.path().filename().string().rfind("L", 0) == 0 &&
                                std::stoi(other.path().filename().string().substr(1)) >
                                    std::stoi(name.substr(1)));
        if (!higher)
            return dynamic_cast<osg::PagedLOD*>(
                osgDB::readRefNodeFile(entry.path().string()).get());
    }
    return nullptr;
}

const osg::Image* MeshImage(const osg::PagedLOD& node) {
    const osg::Geode* mesh = node.getChild(0)->asGeode();
    if (mesh == nullptr || mesh->getNumDrawables() == 0)
        return nullptr;
    const osg::StateSet* state = mesh->getDrawable(0)->getStateSet();
    const auto* texture = state ? dynamic_cast<const osg::Texture2D*>(
                                      state->getTextureAttribute(0, osg::StateAttribute::TEXTURE))
                                : nullptr;
    return texture ? texture->getImage() : nullptr;
}

double Psnr(const osg::Image& a, const osg::Image& b) {
    if (a.s() != b.s() || a.t() != b.t() || a.getPixelFormat() != b.getPixelFormat())
        return 0;
    const std::size_t bytes = a.getTotalSizeInBytes();
    double squares = 0;
    for (std::size_t k = 0; k < bytes; ++k) {
        const double d = double(a.data()[k]) - double(b.data()[k]);
        squares += d * d;
    }
    const double mean = squares / static_cast<double>(bytes);
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// Two 4 x 4 blocks, the same but for one vertex of one tile 50 km out: the overview's top node
// stands where the clean block's does and shows the same picture, where the stray once
// stretched its node 50 km wide and squeezed four tiles into two of its pixels.
TEST(OverviewBounds, AVertexFiftyKilometresOutStretchesNothing) {
    TempDir dir;
    for (const auto& [block, stray] :
         {std::pair{"clean", osg::Vec3()}, {"stray", osg::Vec3(50'000, 0, 0)}})
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 4; ++y)
                WriteTile(dir / block, x, y, x == 1 && y == 2 ? stray : osg::Vec3());
    for (const char* block : {"clean", "stray"})
        ASSERT_TRUE(Export(dir / block, IndexKind::Overview).succeeded()) << block;
    const osg::ref_ptr<osg::PagedLOD> clean = TopNode(dir / "clean");
    const osg::ref_ptr<osg::PagedLOD> stray = TopNode(dir / "stray");
    ASSERT_TRUE(clean && stray);
    EXPECT_LE((stray->getCenter() - clean->getCenter()).length(), 0.01 * clean->getRadius());
    EXPECT_NEAR(stray->getRadius(), clean->getRadius(), 0.01 * clean->getRadius());
    const osg::Image* cleanImage = MeshImage(*clean);
    const osg::Image* strayImage = MeshImage(*stray);
    ASSERT_TRUE(cleanImage && strayImage);
    EXPECT_GE(Psnr(*cleanImage, *strayImage), 30.0);
}

// The scene's bound, as a viewer computes it from the index, against the proxy index's of the
// same block, which a plain load of every tile gives: a 3 x 6 block, whose quadtree is 8 x 8.
TEST(OverviewBounds, TheSceneStandsWhereTheProxyIndexDoesOnABlockOfNoPowerOfTwo) {
    TempDir dir;
    const fs::path block = dir / "block";
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 6; ++y)
            WriteTile(block, x, y);
    ASSERT_TRUE(Export(block, IndexKind::Proxy).succeeded());
    const osg::ref_ptr<osg::Node> proxy = osgDB::readRefNodeFile((block / "root.osgb").string());
    ASSERT_TRUE(proxy);
    const osg::BoundingSphere tiles = proxy->getBound();
    ASSERT_TRUE(Export(block, IndexKind::Overview).succeeded());
    const osg::ref_ptr<osg::Node> overview = osgDB::readRefNodeFile((block / "root.osgb").string());
    ASSERT_TRUE(overview);
    const osg::BoundingSphere scene = overview->getBound();
    EXPECT_LE((scene.center() - tiles.center()).length(), 0.02 * tiles.radius())
        << "the proxy's centre " << tiles.center().x() << ", " << tiles.center().y()
        << "; the overview's " << scene.center().x() << ", " << scene.center().y();
    EXPECT_LE(scene.radius(), tiles.radius());
}

} // namespace
} // namespace brindle
