#include "export/export_run.h"
#include "export/paged_index.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

bool Encloses(const osg::BoundingSphere& outer, const osg::BoundingSphere& inner) {
    const double reach = (outer.center() - inner.center()).length() + inner.radius();
    return reach <= outer.radius() * (1 + 1e-5) + 1e-3;
}

// Walks a paged tree: leaves in order, and checks every group's bound and size on the way.
void CollectLeaves(osg::Node& node, std::vector<osg::ref_ptr<osg::Node>>& leaves) {
    if (dynamic_cast<osg::PagedLOD*>(&node) || dynamic_cast<osg::ProxyNode*>(&node)) {
        leaves.emplace_back(&node);
        return;
    }
    osg::Group* group = node.asGroup();
    ASSERT_NE(group, nullptr) << node.className();
    EXPECT_LE(group->getNumChildren(), kPagedFanOut);
    for (unsigned i = 0; i < group->getNumChildren(); ++i) {
        EXPECT_TRUE(Encloses(group->getBound(), group->getChild(i)->getBound()))
            << "group bound misses child " << i;
        CollectLeaves(*group->getChild(i), leaves);
    }
}

TEST(PagedIndex, LeavesNameTheValidTilesInOrderWithinTheirBounds) {
    TempDir dir;
    SampleBlockOptions sample;
    sample.tileCount = 70;
    sample.minTexturePx = sample.maxTexturePx = 8;
    sample.minGridCells = sample.maxGridCells = 2;
    const SampleBlock block = WriteSampleBlock(dir / "block", sample);
    // A tile that is itself an index: only its own tiles could tell its bound.
    osg::ref_ptr<osg::ProxyNode> nested = new osg::ProxyNode;
    nested->setFileName(0, "../" + block.validTiles.front() + "/root.osgb");
    fs::create_directories(dir / "block" / "zz_nested");
    ASSERT_TRUE(
        osgDB::writeNodeFile(*nested, (dir / "block" / "zz_nested" / "root.osgb").string()));

    ExportOptions options;
    options.index = IndexKind::Paged;
    const ExportReport report = ExportFolderIndexes({block.folder}, options);
    ASSERT_TRUE(report.succeeded());
    const FolderReport& folder = report.folders[0];
    EXPECT_EQ(folder.index, IndexKind::Paged);
    ASSERT_EQ(folder.entries.size(), block.validTiles.size() + 1);
    EXPECT_EQ(folder.proxyLeaves, std::vector<std::string>{"zz_nested/root.osgb"});

    EXPECT_EQ(test::ReadBytes(block.folder / "root.osgb").find(block.folder.string()),
              std::string::npos)
        << "no database path is stored: the index moves with its folder";
    const osg::ref_ptr<osg::Node> index =
        osgDB::readRefNodeFile((block.folder / "root.osgb").string());
    auto* transform = dynamic_cast<osg::MatrixTransform*>(index.get());
    ASSERT_NE(transform, nullptr);
    EXPECT_EQ(transform->getMatrix().getTrans(), folder.translation);
    EXPECT_EQ(folder.translation, osg::Vec3d(sample.originX, sample.originY, 0));
    ASSERT_EQ(transform->getNumChildren(), 1u);
    std::vector<osg::ref_ptr<osg::Node>> leaves;
    CollectLeaves(*transform->getChild(0), leaves);
    ASSERT_EQ(leaves.size(), folder.entries.size());
    for (std::size_t i = 0; i + 1 < leaves.size(); ++i) {
        auto* lod = dynamic_cast<osg::PagedLOD*>(leaves[i].get());
        ASSERT_NE(lod, nullptr) << i;
        EXPECT_EQ(lod->getFileName(0), folder.entries[i]);
        EXPECT_EQ(lod->getRangeMode(), osg::LOD::PIXEL_SIZE_ON_SCREEN);
        const std::string tile = folder.entries[i].substr(0, folder.entries[i].find('/'));
        const osg::ref_ptr<osg::Node> content =
            osgDB::readRefNodeFile((block.folder / tile / "root.osgb").string());
        ASSERT_TRUE(content);
        EXPECT_TRUE(Encloses(lod->getBound(), content->getBound())) << tile;
    }
    auto* proxy = dynamic_cast<osg::ProxyNode*>(leaves.back().get());
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->getFileName(0), "zz_nested/root.osgb");
}

} // namespace
} // namespace brindle
