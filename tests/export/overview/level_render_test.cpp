// A level drawn beside the tiles it stands for: both rendered offscreen from the same far view,
// lit by the viewer's headlight or not, from above and at 45 degrees, and compared as pictures.
// Needs a display (ctest runs it under xvfb-run); BRINDLE_RENDER_DIR, when set, names a folder
// to save the pictures in.

#include "export/overview/coarse_mesh.h"
#include "export/overview/scene_summary.h"
#include "export/overview/summary_mosaic.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/Material>
#include <osg/Texture2D>
#include <osgDB/WriteFile>
#include <osgViewer/Viewer>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace brindle {
namespace {

constexpr int kViewPx = 256;
constexpr double kFieldOfViewDeg = 30;
constexpr double kTileSide = 64;    // metres
constexpr int kTileCells = 160;     // a tile's grid: 0.4 m, finer than a level's 2 m samples
constexpr double kWavelength = 2.4; // of the relief, finer than the level's samples
const osg::Vec4 kBackground(1, 0, 1, 1);

// Relief finer than any level: bumps of half a metre on ground rising gently to the north-east.
double Height(double x, double y) {
    const double k = 2 * osg::PI / kWavelength;
    return 0.5 * std::sin(k * x) * std::sin(k * y) + 0.05 * x + 0.03 * y;
}

osg::Vec3 UnitNormal(double x, double y) {
    const double k = 2 * osg::PI / kWavelength;
    const double dx = 0.5 * k * std::cos(k * x) * std::sin(k * y) + 0.05;
    const double dy = 0.5 * k * std::sin(k * x) * std::cos(k * y) + 0.03;
    osg::Vec3 n(-dx, -dy, 1);
    n.normalize();
    return n;
}

// The ground's colour at a point, 0 to 1: broad patches, as fields and roofs are.
osg::Vec3 GroundColour(double x, double y) {
    return osg::Vec3(0.45 + 0.25 * std::sin(x / 7), 0.4 + 0.2 * std::cos(y / 5),
                     0.3 + 0.15 * std::sin((x + y) / 11));
}

// Texel noise that repeats nowhere within a tile.
double Grain(int s, int t) {
    const unsigned h = static_cast<unsigned>(s) * 73856093u ^ static_cast<unsigned>(t) * 19349663u;
    return ((h % 1000) / 1000.0 - 0.5) * 0.12;
}

struct TileStyle {
    bool textured = true;
    bool normals = false;
    bool vertexColours = false;
    bool material = false;
    bool lit = true;
};

osg::ref_ptr<osg::Texture2D> GroundTexture(double minX, double minY) {
    constexpr int kTexels = 256;
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(kTexels, kTexels, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int t = 0; t < kTexels; ++t)
        for (int s = 0; s < kTexels; ++s) {
            const osg::Vec3 c = GroundColour(minX + (s + 0.5) * kTileSide / kTexels,
                                             minY + (t + 0.5) * kTileSide / kTexels);
            std::uint8_t* texel = image->data(s, t);
            for (int k = 0; k < 3; ++k)
                texel[k] = static_cast<std::uint8_t>(
                    std::lround(255 * std::clamp(c[k] + Grain(s + k, t), 0.0, 1.0)));
        }
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image.get());
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
    return texture;
}

// A tile of the block at column tx, row ty, as a photogrammetry tool writes one: a fine grid of
// triangles, textured or coloured, with normals or without.
osg::ref_ptr<osg::Node> Tile(int tx, int ty, const TileStyle& style) {
    const double minX = tx * kTileSide, minY = ty * kTileSide;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec2Array> uvs = new osg::Vec2Array;
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    for (int j = 0; j <= kTileCells; ++j)
        for (int i = 0; i <= kTileCells; ++i) {
            const double x = minX + i * kTileSide / kTileCells;
            const double y = minY + j * kTileSide / kTileCells;
            vertices->push_back(osg::Vec3(x, y, Height(x, y)));
            normals->push_back(UnitNormal(x, y));
            uvs->push_back(osg::Vec2(float(i) / kTileCells, float(j) / kTileCells));
            colours->push_back(osg::Vec4(GroundColour(x, y), 1));
        }
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (int j = 0; j < kTileCells; ++j)
        for (int i = 0; i < kTileCells; ++i) {
            const unsigned a = j * (kTileCells + 1) + i, b = a + 1, c = a + kTileCells + 2,
                           d = a + kTileCells + 1;
            for (const unsigned v : {a, b, c, a, c, d})
                triangles->push_back(v);
        }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->addPrimitiveSet(triangles.get());
    if (style.normals)
        geometry->setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
    if (style.vertexColours)
        geometry->setColorArray(colours.get(), osg::Array::BIND_PER_VERTEX);
    osg::StateSet* state = geometry->getOrCreateStateSet();
    if (style.textured) {
        geometry->setTexCoordArray(0, uvs.get(), osg::Array::BIND_PER_VERTEX);
        state->setTextureAttributeAndModes(0, GroundTexture(minX, minY).get());
    }
    if (style.material) {
        osg::ref_ptr<osg::Material> material = new osg::Material;
        material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.7f, 0.55f, 0.4f, 1));
        state->setAttributeAndModes(material.get());
    }
    if (!style.lit)
        state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry.get());
    return geode;
}

// Reads the frame back while its context is current.
struct ReadBack : osg::Camera::DrawCallback {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    void operator()(osg::RenderInfo&) const override {
        image->readPixels(0, 0, kViewPx, kViewPx, GL_RGB, GL_UNSIGNED_BYTE);
    }
};

// One viewer, as a user's opens a block: its default headlight and state, drawing into an
// offscreen buffer.
class OffscreenViewer {
public:
    OffscreenViewer() {
        viewer_.setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
        osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
        traits->readDISPLAY();
        traits->setUndefinedScreenDetailsToDefaultScreen();
        traits->width = traits->height = kViewPx;
        traits->pbuffer = true;
        traits->doubleBuffer = true;
        context_ = osg::GraphicsContext::createGraphicsContext(traits.get());
        if (!context_ || !context_->valid())
            return;
        osg::Camera* camera = viewer_.getCamera();
        camera->setGraphicsContext(context_.get());
        camera->setViewport(0, 0, kViewPx, kViewPx);
        camera->setDrawBuffer(GL_BACK);
        camera->setReadBuffer(GL_BACK);
        camera->setClearColor(kBackground);
        camera->setProjectionMatrixAsPerspective(kFieldOfViewDeg, 1.0, 1.0, 1e4);
        camera->setFinalDrawCallback(readBack_.get());
    }

    bool valid() const { return context_ && context_->valid(); }

    // The block seen from `tilt` degrees off straight down, from the south, whole in view.
    osg::ref_ptr<osg::Image> Render(osg::Node* scene, double tilt) {
        const osg::Vec3d centre(kTileSide, kTileSide, 2);
        const double distance = 1.1 * kTileSide / std::tan(kFieldOfViewDeg / 2 * osg::PI / 180);
        const double a = tilt * osg::PI / 180;
        const osg::Vec3d eye = centre + osg::Vec3d(0, -std::sin(a), std::cos(a)) * distance;
        viewer_.setSceneData(scene);
        viewer_.getCamera()->setViewMatrixAsLookAt(eye, centre, osg::Vec3d(0, 1, 0));
        if (!viewer_.isRealized())
            viewer_.realize();
        viewer_.frame();
        viewer_.frame();
        return new osg::Image(*readBack_->image, osg::CopyOp::DEEP_COPY_ALL);
    }

private:
    osgViewer::Viewer viewer_;
    osg::ref_ptr<osg::GraphicsContext> context_;
    osg::ref_ptr<ReadBack> readBack_ = new ReadBack;
};

// How alike two pictures of the block are, over the pixels either shows it in.
struct Likeness {
    double psnr = 0;       // dB
    double brightness = 0; // the level's mean over the tiles'
};

bool IsBackground(const std::uint8_t* rgb) {
    return rgb[0] == 255 && rgb[1] == 0 && rgb[2] == 255;
}

Likeness Compare(const osg::Image& tiles, const osg::Image& level) {
    double squared = 0, tilesSum = 0, levelSum = 0;
    std::size_t values = 0;
    for (int y = 0; y < kViewPx; ++y)
        for (int x = 0; x < kViewPx; ++x) {
            const std::uint8_t* a = tiles.data(x, y);
            const std::uint8_t* b = level.data(x, y);
            if (IsBackground(a) && IsBackground(b))
                continue;
            for (int c = 0; c < 3; ++c) {
                const double va = IsBackground(a) ? 0 : a[c], vb = IsBackground(b) ? 0 : b[c];
                squared += (va - vb) * (va - vb);
                tilesSum += va;
                levelSum += vb;
                ++values;
            }
        }
    Likeness likeness;
    const double mse = values ? squared / values : 0;
    likeness.psnr = mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
    likeness.brightness = tilesSum > 0 ? levelSum / tilesSum : 0;
    return likeness;
}

void Save(const osg::Image& image, const std::string& name) {
    if (const char* folder = std::getenv("BRINDLE_RENDER_DIR"))
        osgDB::writeImageFile(image, std::string(folder) + "/" + name + ".png");
}

// A block of 2 x 2 tiles and the level above them, made as the overview makes it: each tile's
// summary, their mosaic, its coarse mesh.
struct Block {
    osg::ref_ptr<osg::Group> tiles = new osg::Group;
    osg::ref_ptr<osg::Node> level;
};

Block MakeBlock(const TileStyle& style) {
    Block block;
    std::vector<TileSummary> summaries;
    for (int q = 0; q < 4; ++q) {
        const osg::ref_ptr<osg::Node> tile = Tile(q & 1, q >> 1, style);
        block.tiles->addChild(tile.get());
        SceneSummary made = SummariseScene(*tile);
        if (made.summary)
            summaries.push_back(std::move(*made.summary));
    }
    if (summaries.size() == 4)
        block.level = BuildCoarseMesh(
            MosaicSummaries({&summaries[0], &summaries[1], &summaries[2], &summaries[3]}));
    return block;
}

struct Case {
    const char* name;
    TileStyle style;
};

// What a level may differ by from its tiles' picture: the least PSNR, and how far from theirs
// its mean brightness may be. The tiles' finer relief and texture grain are what a level cannot
// show; nor can any smooth surface show what rough tiles drawn with their own normals do under
// a headlight at a slant: the faces turned to the camera fill more of the picture and catch
// the most light. From above, the mean normals give the tiles' own brightness.
struct Bounds {
    double leastPsnr = 25;
    double leastBrightness = 0.96, mostBrightness = 1.04;
};

Bounds BoundsFor(const TileStyle& style, double tilt) {
    if (style.lit && style.normals && tilt > 0)
        return Bounds{17, 0.75, 1.04};
    return Bounds{};
}

TEST(LevelRender, ALevelIsDrawnAsItsTilesAreLitOrUnlitFromAboveAndAtASlant) {
    OffscreenViewer viewer;
    ASSERT_TRUE(viewer.valid()) << "no offscreen context: is DISPLAY set (run under xvfb-run)?";
    const std::vector<Case> cases = {
        {"textured-no-normals-lit", TileStyle{}},
        {"textured-no-normals-unlit", TileStyle{true, false, false, false, false}},
        {"textured-normals-lit", TileStyle{true, true, false, false, true}},
        {"vertex-colours-lit", TileStyle{false, false, true, false, true}},
        {"vertex-colours-normals-lit", TileStyle{false, true, true, false, true}},
        {"vertex-colours-unlit", TileStyle{false, false, true, false, false}},
        {"material-normals-lit", TileStyle{false, true, false, true, true}},
        {"untextured-no-normals-lit", TileStyle{false, false, false, false, true}},
    };
    for (const Case& c : cases) {
        const Block block = MakeBlock(c.style);
        ASSERT_TRUE(block.level) << c.name;
        for (const double tilt : {0.0, 45.0}) {
            const std::string name = std::string(c.name) + (tilt > 0 ? "-45" : "-above");
            const osg::ref_ptr<osg::Image> tiles = viewer.Render(block.tiles.get(), tilt);
            const osg::ref_ptr<osg::Image> level = viewer.Render(block.level.get(), tilt);
            Save(*tiles, name + "-tiles");
            Save(*level, name + "-level");
            const Likeness likeness = Compare(*tiles, *level);
            std::printf("%-34s PSNR %5.1f dB  brightness %.3f\n", name.c_str(), likeness.psnr,
                        likeness.brightness);
            const Bounds bounds = BoundsFor(c.style, tilt);
            EXPECT_GE(likeness.psnr, bounds.leastPsnr) << name;
            EXPECT_GE(likeness.brightness, bounds.leastBrightness) << name;
            EXPECT_LE(likeness.brightness, bounds.mostBrightness) << name;
        }
    }
}

} // namespace
} // namespace brindle
