// A tileset's manifest read while the tiles are checked stands for the one the walk would
// read only while it is still that file.
#include "export/run/earlier_read_ahead.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <fstream>

namespace brindle {
namespace {

namespace fs = std::filesystem;

const FileStamp kTileStamp{4321, 888};

// The manifest of a tileset of one tile root, written as a build writes it (at `path`, in the
// tileset's folder or beside it), of generation `generation`.
void WriteManifest(const fs::path& out, const fs::path& listed, const fs::path& path,
                   std::uint64_t generation) {
    fs::create_directories(out / "T");
    std::ofstream(out / "T" / "root.osgb.glb") << "tile!";
    Result<std::unique_ptr<ManifestWriter>> writer =
        ManifestWriter::Open(path, listed, ManifestHead{{}, generation});
    ASSERT_TRUE(writer.ok());
    ConvertedFile tile;
    tile.glbBytes = 5;
    (*writer)->add(listed / "T" / "root.osgb", kTileStamp, "T/root.osgb.glb", tile);
    ASSERT_TRUE((*writer)->close().ok());
}

TEST(EarlierReadAhead, GivesWhatItReadOnlyWhileTheManifestIsTheFileItRead) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows reads no manifest ahead";
#endif
    test::TempDir dir;
    const fs::path listed = dir.path() / "block", out = dir.path() / "tilesets" / "block";
    WriteManifest(out, listed, out / kConversionManifestName, 7);

    EarlierReadAhead ahead;
    ahead.start(out, listed, ContentSettings{});
    // Another tileset, or the same of another folder: not what was read.
    EXPECT_FALSE(ahead.take(dir.path() / "tilesets" / "other", listed));
    EXPECT_FALSE(ahead.take(out, dir.path() / "other"));
    std::unique_ptr<EarlierConversions> taken = ahead.take(out, listed);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->generation(), 7u);
    EXPECT_TRUE(taken->find(listed / "T" / "root.osgb", kTileStamp));
    EXPECT_FALSE(ahead.take(out, listed)) << "given once";
    taken.reset();

    // Another run put a manifest of its own in place between the read and the walk.
    EarlierReadAhead overtaken;
    overtaken.start(out, listed, ContentSettings{});
    WriteManifest(out, listed, out / "manifest.new", 8);
    fs::rename(out / "manifest.new", out / kConversionManifestName);
    EXPECT_FALSE(overtaken.take(out, listed));

    // Made with other settings: not read at all.
    EarlierReadAhead otherSettings;
    otherSettings.start(out, listed, ContentSettings{true});
    EXPECT_FALSE(otherSettings.take(out, listed));
}

} // namespace
} // namespace brindle
