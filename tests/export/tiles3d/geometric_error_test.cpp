#include "export/tiles3d/geometric_error.h"

#include <gtest/gtest.h>
#include <osg/Group>
#include <osg/LOD>
#include <osg/PagedLOD>
#include <osgUtil/CullVisitor>
#include <osgUtil/RenderStage>
#include <osgUtil/StateGraph>

#include <cmath>
#include <functional>

namespace brindle {
namespace {

constexpr double kWidth = 1920.0;
constexpr double kHeight = 1080.0;
constexpr double kPi = 3.14159265358979323846;

// A flat tile as photogrammetry blocks cut them: 100 m by 100 m, 20 m of relief.
constexpr double kHalfWidth = 50.0;
constexpr double kHalfHeight = 10.0;
const double kRadius = std::sqrt(2 * kHalfWidth * kHalfWidth + kHalfHeight * kHalfHeight);

// Notes whether the scene graph's cull reached the node it is set on.
struct Reached : osg::NodeCallback {
    bool reached = false;
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override {
        reached = true;
        traverse(node, visitor);
    }
};

// Whether the scene graph's own cull, with the camera `height` above the tile's centre looking
// straight down, reaches the finer child of `lod` (whose child 0 is that stand-in).
bool FinerShown(osg::LOD& lod, Reached& finer, double height, double fovy) {
    osg::ref_ptr<osgUtil::CullVisitor> cull = new osgUtil::CullVisitor;
    osg::ref_ptr<osgUtil::StateGraph> graph = new osgUtil::StateGraph;
    osg::ref_ptr<osgUtil::RenderStage> stage = new osgUtil::RenderStage;
    cull->setStateGraph(graph.get());
    cull->setRenderStage(stage.get());
    osg::ref_ptr<osg::Viewport> viewport = new osg::Viewport(0, 0, kWidth, kHeight);
    cull->pushViewport(viewport.get());
    cull->pushProjectionMatrix(
        new osg::RefMatrix(osg::Matrix::perspective(fovy, kWidth / kHeight, 0.1, 1e7)));
    cull->pushModelViewMatrix(new osg::RefMatrix(osg::Matrix::lookAt(
                                  osg::Vec3d(0, 0, height), osg::Vec3d(), osg::Vec3d(0, 1, 0))),
                              osg::Transform::ABSOLUTE_RF);
    finer.reached = false;
    lod.accept(*cull);
    return finer.reached;
}

// The camera height below which the scene graph shows the finer child, to a millimetre.
double SceneGraphSwitch(osg::LOD& lod, Reached& finer, double fovy) {
    double shown = 1.0;
    double hidden = 1e6;
    EXPECT_TRUE(FinerShown(lod, finer, shown, fovy));
    EXPECT_FALSE(FinerShown(lod, finer, hidden, fovy));
    while (hidden - shown > 1e-3) {
        const double middle = (shown + hidden) / 2;
        (FinerShown(lod, finer, middle, fovy) ? shown : hidden) = middle;
    }
    return shown;
}

// The camera height below which the web viewer refines a tile of error `error`: its
// screen-space error is error * screen height / (distance * 2 tan(fovy / 2)), with the
// distance measured to the tile's box, and it refines once that exceeds 16.
double WebViewerSwitch(double error, double fovy) {
    const double distanceToBox = error * kHeight / (16.0 * 2 * std::tan(fovy * kPi / 360));
    return distanceToBox + kHalfHeight;
}

osg::ref_ptr<osg::PagedLOD> PixelSizeLod(double pixels, Reached& finer) {
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod->setCenter(osg::Vec3());
    lod->setRadius(kRadius);
    lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    osg::ref_ptr<osg::Group> child = new osg::Group;
    child->setCullCallback(&finer);
    lod->addChild(child.get(), pixels, 1e30f, "finer.osgb");
    return lod;
}

TEST(GeometricError, WebViewerRefinesWithinTenPercentOfThePixelSizeSwitch) {
    for (const double pixels : {60.0, 150.0, 300.0, 600.0}) {
        osg::ref_ptr<Reached> finer = new Reached;
        osg::ref_ptr<osg::PagedLOD> lod = PixelSizeLod(pixels, *finer);
        const double error = GeometricErrorForPixelSize(kRadius, pixels, kHalfHeight);
        for (const double fovy : {30.0, 60.0, 45.0, 36.0}) {
            const double sceneGraph = SceneGraphSwitch(*lod, *finer, fovy);
            const double webViewer = WebViewerSwitch(error, fovy);
            EXPECT_NEAR(webViewer / sceneGraph, 1.0, 0.10)
                << pixels << " px, fovy " << fovy << ": scene graph at " << sceneGraph
                << " m, web viewer at " << webViewer << " m";
        }
    }
}

TEST(GeometricError, TheBareRuleOfThumbMissesAtWideFieldsOfView) {
    // 32 x radius / pixels alone puts the web viewer's switch some 21% short at fovy 60: the
    // scene graph's pixel size is not the screen height's alone.
    osg::ref_ptr<Reached> finer = new Reached;
    osg::ref_ptr<osg::PagedLOD> lod = PixelSizeLod(300.0, *finer);
    const double sceneGraph = SceneGraphSwitch(*lod, *finer, 60.0);
    const double bare = WebViewerSwitch(32.0 * kRadius / 300.0, 60.0);
    EXPECT_LT(bare / sceneGraph, 0.80);
}

TEST(GeometricError, DistanceRangesAgreeOnlyAsFarAsFieldsOfViewAllow) {
    for (const double range : {1000.0, 5000.0}) {
        osg::ref_ptr<Reached> finer = new Reached;
        osg::ref_ptr<osg::LOD> lod = new osg::LOD;
        lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
        lod->setCenter(osg::Vec3());
        lod->setRadius(kRadius);
        osg::ref_ptr<osg::Group> child = new osg::Group;
        child->setCullCallback(finer.get());
        lod->addChild(child.get(), 0.0f, static_cast<float>(range));
        const double error = GeometricErrorForDistance(range, kHalfHeight);
        const double at30 = WebViewerSwitch(error, 30.0) / SceneGraphSwitch(*lod, *finer, 30.0);
        const double at60 = WebViewerSwitch(error, 60.0) / SceneGraphSwitch(*lod, *finer, 60.0);
        // A range in metres against an error in pixels: as far beyond at one end as short at
        // the other, by the ratio of the two fields of view's tangents.
        EXPECT_NEAR(at30, 1.366, 0.005) << range;
        EXPECT_NEAR(at60, 0.634, 0.005) << range;
    }
}

TEST(GeometricError, NoErrorForNoSwitch) {
    EXPECT_EQ(GeometricErrorForPixelSize(0.0, 300.0, 1.0), 0.0);
    EXPECT_EQ(GeometricErrorForPixelSize(50.0, 0.0, 1.0), 0.0);
    EXPECT_EQ(GeometricErrorForPixelSize(NAN, 300.0, 1.0), 0.0);
    EXPECT_EQ(GeometricErrorForDistance(-5.0, 1.0), 0.0);
    // A tile that is as deep as it is far away when it switches: refine it at once.
    EXPECT_EQ(GeometricErrorForDistance(10.0, 50.0), 0.0);
}

TEST(GeometricError, ChildrenNeverHaveLargerErrorsThanTheirParents) {
    TilesetTile root;
    root.geometricError = 40.0;
    root.children.resize(2);
    root.children[0].geometricError = 60.0; // larger than its parent's
    root.children[0].children.resize(1);
    root.children[0].children[0].geometricError = 50.0; // larger than its grandparent's
    root.children[1].geometricError = 10.0;
    root.children[1].children.resize(1);
    root.children[1].children[0].geometricError = NAN;
    KeepErrorsFromGrowing(root);

    std::function<void(const TilesetTile&)> check = [&](const TilesetTile& tile) {
        for (const TilesetTile& child : tile.children) {
            EXPECT_LE(child.geometricError, tile.geometricError);
            EXPECT_GE(child.geometricError, 0.0);
            check(child);
        }
    };
    check(root);
    EXPECT_EQ(root.geometricError, 40.0);
    EXPECT_EQ(root.children[1].geometricError, 10.0); // smaller ones are kept
}

} // namespace
} // namespace brindle
