#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

#include <string>
#include <utility>
#include <vector>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::MakeLink;
using test::ReadBytes;
using test::TempDir;
using test::WriteText;
using test::WriteTile;

using Names = std::vector<std::string>;

ExportReport Export(const fs::path& folder, IndexKind kind = IndexKind::Proxy) {
    ExportOptions options;
    options.jobs = 2;
    options.index = kind;
    return ExportFolderIndexes({folder}, options);
}

// What a folder's report says of its subfolders: its entries, and each left out with its
// reason.
struct Listing {
    Names entries;
    std::vector<std::pair<std::string, TileStatus>> leftOut;
    std::vector<fs::path> blocks;

    bool operator==(const Listing& other) const {
        return entries == other.entries && leftOut == other.leftOut && blocks == other.blocks;
    }
};

void PrintTo(const Listing& listing, std::ostream* out) {
    *out << "entries:";
    for (const std::string& entry : listing.entries)
        *out << ' ' << entry;
    *out << "; left out:";
    for (const auto& [name, reason] : listing.leftOut)
        *out << ' ' << name << " (" << static_cast<int>(reason) << ')';
    *out << "; blocks:";
    for (const fs::path& block : listing.blocks)
        *out << ' ' << block.filename().string();
}

Listing ListingOf(const FolderReport& report) {
    Listing listing{report.entries, {}, report.blocks};
    for (const LeftOutSubfolder& out : report.leftOut)
        listing.leftOut.emplace_back(out.name.string(), out.reason);
    return listing;
}

const FolderReport& ReportOf(const ExportReport& report, const fs::path& folder) {
    for (const FolderReport& f : report.folders)
        if (f.folder == folder)
            return f;
    throw std::runtime_error("no report for " + folder.string());
}

// An overview folder of ours in `listed`, holding a loadable root.osgb of its own (which no
// level need be named, but which would make it a tile to a scan that took it for one) and a
// level.
fs::path OurOverviewFolder(const fs::path& listed) {
    const Result<fs::path> made = MakeOverviewFolder(listed);
    EXPECT_TRUE(made) << made.error().message();
    const fs::path folder = made.value_or({});
    WriteTile(folder);
    WriteText(folder / "L0.osgb", "a level");
    return folder;
}

// A block lists the same entries and leaves out the same subfolders, and writes the same
// index, with an overview folder of ours inside it as without.
TEST(OverviewFolderScan, ABlockListsTheSameWithOurOverviewFolderAsWithout) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "Tile_1");
    WriteTile(block / "Tile_2");
    fs::create_directories(block / "Empty");
    for (const IndexKind kind : {IndexKind::Proxy, IndexKind::Paged}) {
        fs::remove(block / "root.osgb");
        const ExportReport without = Export(block, kind);
        ASSERT_TRUE(without.succeeded());
        ASSERT_EQ(without.folders[0].entries.size(), 2u);
        ASSERT_EQ(without.folders[0].leftOut.size(), 1u);
        const std::string index = ReadBytes(block / "root.osgb");

        const fs::path ours = OurOverviewFolder(block);
        fs::remove(block / "root.osgb");
        const ExportReport with = Export(block, kind);
        ASSERT_TRUE(with.succeeded());
        EXPECT_EQ(ListingOf(with.folders[0]), ListingOf(without.folders[0]));
        EXPECT_EQ(ReadBytes(block / "root.osgb"), index);
        // An index of either kind names no overview levels: once it is in place, ours go.
        EXPECT_FALSE(fs::exists(ours));
    }
}

// A folder merely named like ours, without our marker, is the user's: listed when it holds a
// tile, left out and named when it holds none. So is a link named like ours to one of ours.
TEST(OverviewFolderScan, ALookAlikeIsScannedAsAnyOtherSubfolder) {
    TempDir dir;
    const fs::path block = dir / "block";
    WriteTile(block / "Tile_1");
    WriteTile(block / "brindle-overview-1");
    WriteText(block / "brindle-overview-2" / std::string(kOverviewMarkerName), "not ours\n");
    const fs::path ours = OurOverviewFolder(block);
    ASSERT_EQ(ours, block / "brindle-overview-3");
    const bool linked = MakeLink(ours, block / "brindle-overview-4");

    const ExportReport report = Export(block);
    ASSERT_TRUE(report.succeeded());
    Listing expected;
    expected.entries = {"brindle-overview-1\\root.osgb", "Tile_1\\root.osgb"};
    expected.leftOut = {{"brindle-overview-2", TileStatus::NoRootFile}};
    if (linked)
        expected.entries.insert(expected.entries.begin() + 1, "brindle-overview-4\\root.osgb");
    EXPECT_EQ(ListingOf(report.folders[0]), expected);
}

// Our overview folder makes no folder a block, and takes none out of being a folder of blocks:
// beside blocks it is no tile, and a subfolder that holds nothing but one is no block.
TEST(OverviewFolderScan, OurFolderNeitherMakesNorUnmakesAFolderOfBlocks) {
    TempDir dir;
    const fs::path project = dir / "Project";
    for (const char* name : {"Block_A", "Block_B"}) {
        WriteTile(project / name / "Tile_1");
        WriteTile(project / name / "Tile_2");
    }
    fs::create_directories(project / "Holder");
    OurOverviewFolder(project);
    OurOverviewFolder(project / "Holder");
    OurOverviewFolder(project / "Block_A");

    const ExportReport report = Export(project);
    ASSERT_TRUE(report.succeeded());
    Listing expected;
    expected.entries = {"Block_A\\root.osgb", "Block_B\\root.osgb"};
    expected.leftOut = {{"Holder", TileStatus::NoRootFile}};
    expected.blocks = {project / "Block_A", project / "Block_B"};
    EXPECT_EQ(ListingOf(ReportOf(report, project)), expected);
    EXPECT_EQ(ReportOf(report, project / "Block_A").entries,
              (Names{"Tile_1\\root.osgb", "Tile_2\\root.osgb"}))
        << "a block's own overview folder is no tile of it either";
}

} // namespace
} // namespace brindle
