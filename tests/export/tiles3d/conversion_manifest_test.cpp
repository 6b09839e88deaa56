// What a re-run takes from the manifest of the tileset it replaces: a file whose stamp is the
// one recorded, and an overview node the overview linked into a new levels folder, which
// keeps its stamp but not its path.
#include "export/tiles3d/conversion_manifest.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <fstream>

namespace brindle {
namespace {

namespace fs = std::filesystem;

FinerFile Finer(const fs::path& file) {
    FinerFile named;
    named.file = file;
    named.pixels = true;
    named.switchAt = 300;
    named.radius = 50;
    return named;
}

// An output folder whose manifest records a node of levels folder 3 and a tile root below it.
struct EarlierBuild {
    explicit EarlierBuild(const fs::path& root) : listed(root / "block"), out(root / "out") {
        fs::create_directories(out / "brindle-overview-3");
        fs::create_directories(out / "Data" / "T");
        std::ofstream(out / "brindle-overview-3" / "L1_0_0.osgb.glb") << "node";
        std::ofstream(out / "Data" / "T" / "root.osgb.glb") << "tile!";
        Result<std::unique_ptr<ManifestWriter>> writer =
            ManifestWriter::Open(out / kConversionManifestName, listed, ManifestHead{{}, 7});
        EXPECT_TRUE(writer.ok());
        ConvertedFile node;
        node.glbBytes = 4;
        node.finer = {Finer(listed / "brindle-overview-3" / "L0_0_0.osgb"),
                      Finer(listed / "Data" / "T" / "root.osgb")};
        (*writer)->add(listed / "brindle-overview-3" / "L1_0_0.osgb", nodeStamp,
                       "brindle-overview-3/L1_0_0.osgb.glb", node);
        ConvertedFile tile;
        tile.glbBytes = 5;
        (*writer)->add(listed / "Data" / "T" / "root.osgb", tileStamp, "Data/T/root.osgb.glb",
                       tile);
        std::ofstream(out / "Data" / "T" / "root.osgb.v1.tileset.json") << "{}";
        (*writer)->addTileset(listed / "Data" / "T" / "root.osgb",
                              "Data/T/root.osgb.v1.tileset.json", 77, 2);
        EXPECT_TRUE((*writer)->close().ok());
    }

    // What a re-run with the same settings takes from it.
    std::unique_ptr<EarlierConversions> load() const {
        return EarlierConversions::Load(out, listed, ContentSettings{});
    }

    fs::path listed, out;
    FileStamp nodeStamp{1234, 777}, tileStamp{4321, 888};
};

TEST(ConversionManifest, ANodeLinkedIntoANewLevelsFolderIsTakenWithItsFilesMovedThere) {
    test::TempDir dir;
    const EarlierBuild build(dir.path());
    const std::unique_ptr<EarlierConversions> earlier = build.load();
    ASSERT_TRUE(earlier);

    // In its own levels folder, as recorded.
    const fs::path node3 = build.listed / "brindle-overview-3" / "L1_0_0.osgb";
    const std::optional<EarlierConversion> same = earlier->find(node3, build.nodeStamp);
    ASSERT_TRUE(same);
    ASSERT_EQ(same->converted.finer.size(), 2u);
    EXPECT_EQ(same->converted.finer[0].file, build.listed / "brindle-overview-3" / "L0_0_0.osgb");

    // Linked into levels folder 4: the same content; the node it names in its folder is in 4
    // now, the tile root where it was.
    const fs::path node4 = build.listed / "brindle-overview-4" / "L1_0_0.osgb";
    const std::optional<EarlierConversion> linked = earlier->find(node4, build.nodeStamp);
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked->content, build.out / "brindle-overview-3" / "L1_0_0.osgb.glb");
    EXPECT_EQ(linked->converted.glbBytes, 4u);
    ASSERT_EQ(linked->converted.finer.size(), 2u);
    EXPECT_EQ(linked->converted.finer[0].file, build.listed / "brindle-overview-4" / "L0_0_0.osgb");
    EXPECT_EQ(linked->converted.finer[1].file, build.listed / "Data" / "T" / "root.osgb");
    EXPECT_EQ(linked->converted.finer[0].switchAt, 300);
}

TEST(ConversionManifest, ANodeMadeAgainAnotherNodeOrAMovedTileIsConvertedAgain) {
    test::TempDir dir;
    const EarlierBuild build(dir.path());
    const std::unique_ptr<EarlierConversions> earlier = build.load();
    ASSERT_TRUE(earlier);
    const fs::path levels4 = build.listed / "brindle-overview-4";
    // Written again: its time is new.
    EXPECT_FALSE(earlier->find(levels4 / "L1_0_0.osgb", FileStamp{1234, 778}));
    EXPECT_FALSE(earlier->find(levels4 / "L1_0_0.osgb", FileStamp{1235, 777}));
    // Another node of the same stamp.
    EXPECT_FALSE(earlier->find(levels4 / "L1_1_0.osgb", build.nodeStamp));
    // Only our levels folders' nodes are found across folders: not a tile folder's files,
    // nor a folder that merely looks like ours.
    EXPECT_FALSE(earlier->find(build.listed / "Data" / "U" / "root.osgb", build.tileStamp));
    EXPECT_FALSE(
        earlier->find(build.listed / "brindle-overview-04" / "L1_0_0.osgb", build.nodeStamp));
    EXPECT_FALSE(earlier->find(build.listed / "overview-4" / "L1_0_0.osgb", build.nodeStamp));
    EXPECT_TRUE(earlier->find(build.listed / "Data" / "T" / "root.osgb", build.tileStamp));
}

// What an update in place needs of the earlier manifest: its generation, each tile root's
// tileset, and the files it named that the new build did not keep.
TEST(ConversionManifest, TheTileTilesetsAndTheFilesNotKeptAreKnown) {
    test::TempDir dir;
    const EarlierBuild build(dir.path());
    const std::optional<ManifestHead> head = ReadManifestHead(build.out);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->generation, 7u);
    std::unique_ptr<EarlierConversions> earlier = build.load();
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->generation(), 7u);
    const std::optional<EarlierTileTileset> tileset =
        earlier->findTileset(build.listed / "Data" / "T" / "root.osgb");
    ASSERT_TRUE(tileset);
    EXPECT_EQ(tileset->name, fs::path("Data/T/root.osgb.v1.tileset.json"));
    EXPECT_EQ(tileset->hash, 77u);
    EXPECT_EQ(tileset->bytes, 2u);
    EXPECT_FALSE(earlier->findTileset(build.listed / "brindle-overview-3" / "L1_0_0.osgb"));

    const std::optional<EarlierConversion> tile =
        earlier->find(build.listed / "Data" / "T" / "root.osgb", build.tileStamp);
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->name, fs::path("Data/T/root.osgb.glb"));
    earlier->keep(tile->line);
    earlier->keep(tileset->line);
    EXPECT_EQ(earlier->namesNotKept(),
              std::vector<fs::path>{fs::path("brindle-overview-3/L1_0_0.osgb.glb")});

    // A tileset of another size than recorded: the manifest is not trusted at all.
    std::ofstream(build.out / "Data" / "T" / "root.osgb.v1.tileset.json") << "{ }";
    EXPECT_FALSE(build.load());
    // Nor one of another layout, or settings.
    EXPECT_FALSE(EarlierConversions::Load(build.out, build.listed, ContentSettings{true}));
}

} // namespace
} // namespace brindle
