// The picture of the block an overview run hands to its report: the top level as its node file
// shows it, read back here with a plain load.
#include "export/export_run.h"
#include "export/fs/overview_folder.h"
#include "tests/export/overview/summary_fixtures.h"
#include "tests/export/test_fixtures.h"
#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/PagedLOD>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A 4 x 4 block of production tiles of 50 m, each textured its own way.
fs::path WriteGrid(const fs::path& dir) {
    const fs::path block = dir / "grid";
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            char name[32];
            std::snprintf(name, sizeof name, "Tile_%+04d_%+04d", x, y);
            SampleTileParams params;
            params.texturePx = 64;
            params.gridCells = 8;
            params.sizeMetres = 50;
            params.offset = osg::Vec2d(50.0 * x, 50.0 * y);
            params.seed = static_cast<unsigned>(100 * x + y + 1);
            params.pagedRoot = true;
            fs::create_directories(block / name);
            WriteSampleTile(block / name / (std::string(name) + ".osgb"), params);
        }
    return block;
}

// The top node of the block's levels: of the node files, the one of the highest level.
fs::path TopNodeFile(const fs::path& block) {
    fs::path top;
    int highest = -1;
    for (const fs::path& folder : OverviewFolders(block))
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.size() < 2 || name[0] != 'L' || entry.path().extension() != ".osgb")
                continue;
            const int level = std::atoi(name.c_str() + 1);
            if (level > highest) {
                highest = level;
                top = entry.path();
            }
        }
    return top;
}

// The mean brightness of each of n x n cells, row 0 the northernmost; `at(x, y)` gives the
// brightness at fractions of the width and height, y from the north.
template <typename At> std::vector<double> CellMeans(int n, int width, int height, At at) {
    std::vector<double> sum(static_cast<std::size_t>(n * n)), count(sum.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto cell = static_cast<std::size_t>((y * n / height) * n + x * n / width);
            sum[cell] += at(x, y);
            ++count[cell];
        }
    for (std::size_t c = 0; c < sum.size(); ++c)
        sum[c] /= std::max(count[c], 1.0);
    return sum;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    double meanA = 0, meanB = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        meanA += a[i] / a.size();
        meanB += b[i] / b.size();
    }
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - meanA) * (b[i] - meanB);
        aa += (a[i] - meanA) * (a[i] - meanA);
        bb += (b[i] - meanB) * (b[i] - meanB);
    }
    return ab / std::sqrt(aa * bb);
}

TEST(OverviewPicture, TheReportShowsTheBlockAsItsTopNodeDrawsIt) {
    TempDir dir;
    const fs::path block = WriteGrid(dir.path());
    ExportOptions options;
    options.jobs = 2;
    options.index = IndexKind::Overview;
    const ExportReport report = ExportFolderIndexes({block}, options);
    ASSERT_EQ(report.folders.size(), 1u);
    const ReportImage& picture = report.folders[0].overviewPicture;
    ASSERT_FALSE(picture.empty());
    // The block is square on the ground, and so is its picture.
    EXPECT_NEAR(picture.width, picture.height, 2);
    ASSERT_EQ(picture.rgb.size(), static_cast<std::size_t>(picture.width) * picture.height * 3);

    // What a viewer draws from afar: the top node's texture, rows from the south.
    const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(TopNodeFile(block).string());
    auto* lod = dynamic_cast<osg::PagedLOD*>(node.get());
    ASSERT_TRUE(lod && lod->getNumChildren() > 0);
    const osg::Image* texture = test::FirstTextureImage(lod->getChild(0)->asGeode());
    ASSERT_TRUE(texture && texture->getPixelFormat() == GL_RGB);
    const int n = 8;
    const std::vector<double> drawn = CellMeans(n, texture->s(), texture->t(), [&](int x, int y) {
        const unsigned char* p = texture->data(x, texture->t() - 1 - y);
        return (p[0] + p[1] + p[2]) / 3.0;
    });
    const std::vector<double> shown =
        CellMeans(n, picture.width, picture.height, [&](int x, int y) {
            const std::uint8_t* p =
                &picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3];
            return (p[0] + p[1] + p[2]) / 3.0;
        });
    // The tiles differ from one another, and the picture shows them where the node does.
    EXPECT_GT(*std::max_element(drawn.begin(), drawn.end()) -
                  *std::min_element(drawn.begin(), drawn.end()),
              10.0);
    EXPECT_GT(Correlation(drawn, shown), 0.9);
}

TEST(OverviewPicture, OtherIndexesHaveNone) {
    TempDir dir;
    const fs::path block = WriteGrid(dir.path());
    ExportOptions options;
    options.jobs = 2;
    options.index = IndexKind::Paged;
    const ExportReport report = ExportFolderIndexes({block}, options);
    ASSERT_EQ(report.folders.size(), 1u);
    EXPECT_EQ(report.folders[0].status, FolderStatus::Written);
    EXPECT_TRUE(report.folders[0].overviewPicture.empty());
}

} // namespace
} // namespace brindle
