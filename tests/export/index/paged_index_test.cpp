#include "export/export_run.h"
#include "export/index/paged_index.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/BoundingBox>
#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <sstream>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

bool Encloses(const osg::BoundingSphere& outer, const osg::BoundingSphere& inner) {
    const double reach = (outer.center() - inner.center()).length() + inner.radius();
    return reach <= outer.radius() * (1 + 1e-5) + 1e-3;
}

// Walks a paged tree: collects its leaves, and checks every group's size and, unless a tile's
// bound is damaged, its bound on the way.
void CollectLeaves(osg::Node& node, std::vector<osg::ref_ptr<osg::Node>>& leaves,
                   bool checkBounds = true) {
    if (dynamic_cast<osg::PagedLOD*>(&node) || dynamic_cast<osg::ProxyNode*>(&node)) {
        leaves.emplace_back(&node);
        return;
    }
    osg::Group* group = node.asGroup();
    ASSERT_NE(group, nullptr) << node.className();
    EXPECT_LE(group->getNumChildren(), kPagedFanOut);
    const std::size_t first = leaves.size();
    for (unsigned i = 0; i < group->getNumChildren(); ++i)
        CollectLeaves(*group->getChild(i), leaves, checkBounds);
    // What a view culls by: each group's sphere holds every tile below it.
    for (std::size_t i = first; checkBounds && i < leaves.size(); ++i)
        EXPECT_TRUE(Encloses(group->getBound(), leaves[i]->getBound()))
            << "group bound misses tile " << i;
}

TEST(PagedIndex, LeavesNameEachValidTileOnceWithinItsBound) {
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
    std::multiset<std::string> named;
    for (const osg::ref_ptr<osg::Node>& leaf : leaves) {
        auto* proxy = dynamic_cast<osg::ProxyNode*>(leaf.get());
        if (proxy) {
            EXPECT_EQ(proxy->getFileName(0), "zz_nested/root.osgb");
            named.insert(proxy->getFileName(0));
            continue;
        }
        auto* lod = dynamic_cast<osg::PagedLOD*>(leaf.get());
        ASSERT_NE(lod, nullptr);
        named.insert(lod->getFileName(0));
        EXPECT_EQ(lod->getRangeMode(), osg::LOD::PIXEL_SIZE_ON_SCREEN);
        const std::string tile = lod->getFileName(0).substr(0, lod->getFileName(0).find('/'));
        const osg::ref_ptr<osg::Node> content =
            osgDB::readRefNodeFile((block.folder / tile / "root.osgb").string());
        ASSERT_TRUE(content) << tile;
        EXPECT_TRUE(Encloses(lod->getBound(), content->getBound())) << tile;
    }
    EXPECT_EQ(named, std::multiset<std::string>(folder.entries.begin(), folder.entries.end()));
}

// Tiles of `cell` metres on a grid `columns` wide, row by row, `count` of them, named
// "Tile_<n>" with n their place in that order; the entries come in a random order of the
// names when a seed is given, as blocks numbered by when their tiles were made come.
constexpr double kCell = 100.0;

std::vector<PagedEntry> GridEntries(int columns, int count, unsigned shuffleSeed = 0) {
    std::vector<PagedEntry> entries;
    for (int i = 0; i < count; ++i) {
        PagedEntry entry;
        entry.name = "Tile_" + std::to_string(i) + "/root.osgb";
        entry.bound.kind = TileBound::Kind::Known;
        entry.bound.centre[0] = 500000 + (i % columns + 0.5) * kCell;
        entry.bound.centre[1] = 3400000 + (i / columns + 0.5) * kCell;
        entry.bound.centre[2] = 20 + i % 7;
        entry.bound.radius = kCell * 0.75;
        entries.push_back(entry);
    }
    if (shuffleSeed != 0) {
        std::mt19937 rng(shuffleSeed);
        std::shuffle(entries.begin(), entries.end(), rng);
    }
    return entries;
}

struct Box {
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    void add(const osg::Vec3d& centre) {
        minX = std::min(minX, centre.x() - kCell / 2);
        maxX = std::max(maxX, centre.x() + kCell / 2);
        minY = std::min(minY, centre.y() - kCell / 2);
        maxY = std::max(maxY, centre.y() + kCell / 2);
    }
    double area() const { return (maxX - minX) * (maxY - minY); }
};

// The box around the squares of the grid tiles under `node`.
Box TilesUnder(osg::Node& node) {
    Box box;
    if (auto* lod = dynamic_cast<osg::PagedLOD*>(&node)) {
        box.add(lod->getCenter());
        return box;
    }
    osg::Group* group = node.asGroup();
    for (unsigned i = 0; group && i < group->getNumChildren(); ++i) {
        const Box child = TilesUnder(*group->getChild(i));
        box.minX = std::min(box.minX, child.minX);
        box.maxX = std::max(box.maxX, child.maxX);
        box.minY = std::min(box.minY, child.minY);
        box.maxY = std::max(box.maxY, child.maxY);
    }
    return box;
}

// The area of every group's box, summed per level, the leaves' parents first: as the groups of
// a level hold disjoint sets of tiles, no sum is below the area of all tiles together, which
// a grid's groups reach when each covers a full rectangle of tiles.
std::vector<double> BoxAreaByLevel(osg::Group& root) {
    std::vector<std::vector<osg::Group*>> levels{{&root}};
    for (;;) {
        std::vector<osg::Group*> below;
        for (osg::Group* group : levels.back())
            for (unsigned i = 0; i < group->getNumChildren(); ++i)
                if (dynamic_cast<osg::PagedLOD*>(group->getChild(i)) == nullptr)
                    below.push_back(group->getChild(i)->asGroup());
        if (below.empty())
            break;
        levels.push_back(below);
    }
    std::vector<double> sums;
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        double sum = 0;
        for (osg::Group* group : *level)
            sum += TilesUnder(*group).area();
        sums.push_back(sum);
    }
    return sums;
}

// The same sum for the leaves' parents had every kPagedFanOut consecutive entries formed one.
double EntryOrderArea(const std::vector<PagedEntry>& entries) {
    double sum = 0;
    for (std::size_t i = 0; i < entries.size(); i += kPagedFanOut) {
        Box box;
        for (std::size_t j = i; j < std::min(entries.size(), i + kPagedFanOut); ++j)
            box.add(osg::Vec3d(entries[j].bound.centre[0], entries[j].bound.centre[1], 0));
        sum += box.area();
    }
    return sum;
}

std::vector<std::string> LeafNames(osg::Group& root, bool checkBounds = true) {
    std::vector<osg::ref_ptr<osg::Node>> leaves;
    CollectLeaves(root, leaves, checkBounds);
    std::vector<std::string> names;
    for (const osg::ref_ptr<osg::Node>& leaf : leaves) {
        if (auto* lod = dynamic_cast<osg::PagedLOD*>(leaf.get()))
            names.push_back(lod->getFileName(0));
        else
            names.push_back(static_cast<osg::ProxyNode*>(leaf.get())->getFileName(0));
    }
    return names;
}

std::multiset<std::string> NamesOf(const std::vector<PagedEntry>& entries) {
    std::multiset<std::string> names;
    for (const PagedEntry& entry : entries)
        names.insert(entry.name);
    return names;
}

TEST(PagedIndex, GroupsHoldNeighboursWhateverTheNames) {
    // A square block, and a long one as along a road; both with a last row left part-full.
    for (const auto& [columns, count] : {std::pair{45, 2000}, std::pair{200, 1990}}) {
        SCOPED_TRACE(std::to_string(columns) + " columns, " + std::to_string(count) + " tiles");
        const std::vector<PagedEntry> entries = GridEntries(columns, count, 7);
        const osg::ref_ptr<osg::Group> root = BuildPagedTree(entries);
        ASSERT_EQ(LeafNames(*root).size(), entries.size());
        const double tilesArea = count * kCell * kCell;
        const std::vector<double> areas = BoxAreaByLevel(*root);
        ASSERT_GE(areas.size(), 2u);
        for (std::size_t level = 0; level < areas.size(); ++level)
            EXPECT_LE(areas[level], 1.25 * tilesArea) << "level " << level;
        EXPECT_LT(areas[0], EntryOrderArea(entries) / 20);
    }
}

TEST(PagedIndex, EveryEntryIsOneLeafOfAGroupOfAtMostTheFanOut) {
    const std::vector<PagedEntry> one = GridEntries(1, 1);
    const osg::ref_ptr<osg::Group> single = BuildPagedTree(one);
    ASSERT_EQ(single->getNumChildren(), 1u);
    EXPECT_EQ(LeafNames(*single), std::vector<std::string>{one[0].name});

    // One more than a group holds: two groups under the root.
    const std::vector<PagedEntry> spill = GridEntries(11, 33, 3);
    const osg::ref_ptr<osg::Group> two = BuildPagedTree(spill);
    ASSERT_EQ(two->getNumChildren(), 2u);
    EXPECT_EQ(two->getChild(0)->asGroup()->getNumChildren() +
                  two->getChild(1)->asGroup()->getNumChildren(),
              33u);
    const std::vector<std::string> names = LeafNames(*two);
    EXPECT_EQ(std::multiset<std::string>(names.begin(), names.end()), NamesOf(spill));

    for (const int count : {32, 1024, 1025, 5000}) {
        const std::vector<PagedEntry> entries = GridEntries(70, count, 11);
        const osg::ref_ptr<osg::Group> root = BuildPagedTree(entries);
        const std::vector<std::string> leaves = LeafNames(*root);
        EXPECT_EQ(std::multiset<std::string>(leaves.begin(), leaves.end()), NamesOf(entries))
            << count;
    }
    EXPECT_EQ(BuildPagedTree({})->getNumChildren(), 0u);
}

TEST(PagedIndex, TilesOfUnknownBoundStayInEntryOrderBesideThePagedOnes) {
    std::vector<PagedEntry> entries = GridEntries(10, 90, 5);
    std::vector<std::string> unknown;
    for (std::size_t i = 3; i < entries.size(); i += 17) {
        entries[i].bound.kind = i % 2 ? TileBound::Kind::Unknown : TileBound::Kind::NotAsked;
        unknown.push_back(entries[i].name);
    }
    // A damaged tile's bound that no ordering can place; it must not upset the others.
    entries[5].bound.centre[0] = std::nan("");
    entries[6].bound.centre[1] = HUGE_VAL;
    entries[6].bound.radius = std::nan("");
    const osg::ref_ptr<osg::Group> root = BuildPagedTree(entries);
    std::vector<osg::ref_ptr<osg::Node>> leaves;
    CollectLeaves(*root, leaves, false);
    std::vector<std::string> proxies;
    for (const osg::ref_ptr<osg::Node>& leaf : leaves)
        if (auto* proxy = dynamic_cast<osg::ProxyNode*>(leaf.get()))
            proxies.push_back(proxy->getFileName(0));
    EXPECT_EQ(proxies, unknown);
    const std::vector<std::string> names = LeafNames(*root, false);
    EXPECT_EQ(std::multiset<std::string>(names.begin(), names.end()), NamesOf(entries));

    // Nothing but tiles of unknown bound: all of them, still in entry order.
    std::vector<PagedEntry> unplaced = GridEntries(10, 40);
    std::vector<std::string> order;
    for (PagedEntry& entry : unplaced) {
        entry.bound.kind = TileBound::Kind::Unknown;
        order.push_back(entry.name);
    }
    EXPECT_EQ(LeafNames(*BuildPagedTree(unplaced)), order);
}

// A viewer centres its first view on the index's sphere: written and read back, the paged
// index's must be the block's, as the proxy index's is once its tiles are loaded.
TEST(PagedIndex, TheWholeIndexSphereIsTheBlocks) {
    for (const unsigned seed : {0u, 11u}) {
        const std::vector<PagedEntry> entries = GridEntries(40, 1200, seed);
        osgDB::ReaderWriter* rw = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
        ASSERT_NE(rw, nullptr);
        std::stringstream file;
        ASSERT_TRUE(rw->writeNode(*BuildPagedTree(entries), file).success());
        const osg::ref_ptr<osg::Node> paged = rw->readNode(file).getNode();
        ASSERT_NE(paged, nullptr);

        // The proxy index's sphere, as a viewer computes it over the loaded tiles in name order.
        std::vector<PagedEntry> byName = entries;
        std::sort(byName.begin(), byName.end(),
                  [](const PagedEntry& a, const PagedEntry& b) { return a.name < b.name; });
        osg::ref_ptr<osg::Group> proxy = new osg::Group;
        osg::BoundingBoxd box;
        for (const PagedEntry& entry : byName) {
            const osg::Vec3d centre(entry.bound.centre[0], entry.bound.centre[1],
                                    entry.bound.centre[2]);
            osg::ref_ptr<osg::Node> tile = new osg::Node;
            tile->setInitialBound(osg::BoundingSphere(centre, entry.bound.radius));
            proxy->addChild(tile.get());
            box.expandBy(osg::BoundingSphered(centre, entry.bound.radius));
        }
        const osg::BoundingSphere& sphere = paged->getBound();
        const double offCentre = (osg::Vec3d(sphere.center()) - box.center()).length();
        EXPECT_LT(offCentre, 0.01 * sphere.radius()) << "seed " << seed;
        EXPECT_TRUE(Encloses(sphere, proxy->getBound())) << "seed " << seed;
        EXPECT_LT(sphere.radius(), proxy->getBound().radius() * 1.05) << "seed " << seed;
    }
}

TEST(PagedIndex, TheSameEntriesGiveTheSameFile) {
    // Tiles at one place, as copies of a tile under other names are: only the entry order
    // can tell them apart, and it does, whatever the sort makes of equal keys.
    std::vector<PagedEntry> entries = GridEntries(1, 300);
    for (PagedEntry& entry : entries) {
        entry.bound.centre[0] = entries[0].bound.centre[0];
        entry.bound.centre[1] = entries[0].bound.centre[1];
    }
    std::vector<std::string> order;
    for (const PagedEntry& entry : entries)
        order.push_back(entry.name);
    EXPECT_EQ(LeafNames(*BuildPagedTree(entries)), order);

    const std::vector<PagedEntry> block = GridEntries(30, 700, 9);
    std::string bytes[2];
    for (std::string& written : bytes) {
        osgDB::ReaderWriter* writer =
            osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
        ASSERT_NE(writer, nullptr);
        std::ostringstream out;
        ASSERT_TRUE(writer->writeNode(*BuildPagedTree(block), out).success());
        written = out.str();
    }
    EXPECT_EQ(bytes[0], bytes[1]);
}

} // namespace
} // namespace brindle
