#include "export/export_run.h"
#include "export/tile_validation.h"
#include "tests/export/test_fixtures.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/ProxyNode>
#include <osg/Texture2D>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <map>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;

osg::ref_ptr<osg::Image> MakeImage(int size) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(size, size, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int i = 0; i < size * size * 3; ++i)
        image->data()[i] = static_cast<unsigned char>(i * 37);
    return image;
}

osg::ref_ptr<osg::Geode> MakeTexturedQuad(osg::Image* image) {
    osg::ref_ptr<osg::Geometry> quad =
        osg::createTexturedQuadGeometry(osg::Vec3(), osg::Vec3(1, 0, 0), osg::Vec3(0, 1, 0));
    quad->getOrCreateStateSet()->setTextureAttributeAndModes(0, new osg::Texture2D(image));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(quad.get());
    return geode;
}

void WriteScene(const osg::Node& node, const fs::path& file, const std::string& options) {
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(osgDB::writeNodeFile(node, file.string(), new osgDB::Options(options))) << file;
}

void WriteTexturedTile(const fs::path& folder, const fs::path& imageFile, const std::string& hint) {
    osg::ref_ptr<osg::Image> image = MakeImage(16);
    image->setFileName(imageFile.string());
    WriteScene(*MakeTexturedQuad(image.get()), folder / "root.osgb", "WriteImageHint=" + hint);
}

void WriteIndexOver(const fs::path& folder, const std::vector<std::string>& children) {
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    for (unsigned i = 0; i < children.size(); ++i)
        proxy->setFileName(i, children[i]);
    WriteScene(*proxy, folder / "root.osgb", "");
}

// Tiles of every kind a block holds, sound and broken.
void WriteCorpus(const fs::path& block) {
    test::WriteTile(block / "plain");
    const fs::path jpeg = block / "texture.jpg";
    ASSERT_TRUE(osgDB::writeImageFile(*MakeImage(64), jpeg.string()));
    WriteTexturedTile(block / "embedded_jpeg", jpeg, "IncludeFile");
    WriteTexturedTile(block / "raw_image", jpeg, "IncludeData");
    WriteTexturedTile(block / "external_present", jpeg, "UseExternal");
    WriteTexturedTile(block / "external_missing", block / "gone.jpg", "UseExternal");
    const fs::path garbage = block / "garbage.jpg";
    test::WriteText(garbage, std::string("\xFF\xD8\xFF") + std::string(200, 'x'));
    WriteTexturedTile(block / "corrupt_embedded_jpeg", garbage, "IncludeFile");
    test::WriteTile(block / "nested" / "a");
    // A missing child named root.osgb would be found again as the index itself by the
    // reader's file search, so a full load of such an index never ends; see below.
    WriteIndexOver(block / "nested", {"a/root.osgb", "missing/tile.osgb"});
    WriteIndexOver(block / "index_over_nothing", {"x/tile.osgb"});

    const std::string jpegTile = test::ReadBytes(block / "embedded_jpeg" / "root.osgb");
    ASSERT_NE(jpegTile.find("\xFF\xD8\xFF"), std::string::npos) << "the JPEG must be embedded";
    // Files cut short are left out here: on some cuts the reader itself never returns.
    test::WriteText(block / "empty_file" / "root.osgb", "");
    test::WriteText(block / "text_file" / "root.osgb", "not a scene\n");
    fs::create_directories(block / "no_root_file");
    fs::create_directories(block / "root_is_folder" / "root.osgb");
}

std::vector<std::pair<std::string, TileStatus>> Validate(const fs::path& block,
                                                         TileValidator::Mode mode) {
    const TileValidator validator(mode);
    std::vector<std::pair<std::string, TileStatus>> statuses;
    for (const auto& entry : fs::directory_iterator(block))
        if (entry.is_directory())
            statuses.emplace_back(entry.path().filename().string(),
                                  validator.validate(entry.path()));
    std::sort(statuses.begin(), statuses.end());
    return statuses;
}

TEST(TileValidation, FastCheckAgreesWithLoadingEveryTileInFull) {
    TempDir dir;
    WriteCorpus(dir.path());
    const auto full = Validate(dir.path(), TileValidator::Mode::Full);
    const auto fast = Validate(dir.path(), TileValidator::Mode::Fast);
    ASSERT_EQ(fast.size(), full.size());
    for (std::size_t i = 0; i < full.size(); ++i)
        EXPECT_EQ(int(fast[i].second), int(full[i].second)) << full[i].first;

    const std::map<std::string, TileStatus> byName(full.begin(), full.end());
    EXPECT_EQ(byName.at("plain"), TileStatus::Valid);
    EXPECT_EQ(byName.at("embedded_jpeg"), TileStatus::Valid);
    EXPECT_EQ(byName.at("nested"), TileStatus::Valid);
    EXPECT_EQ(byName.at("empty_file"), TileStatus::LoadFailed);
    EXPECT_EQ(byName.at("root_is_folder"), TileStatus::LoadFailed);
    EXPECT_EQ(byName.at("no_root_file"), TileStatus::NoRootFile);
}

TEST(TileValidation, AnIndexThatResolvesToItselfDoesNotRecurse) {
    TempDir dir;
    WriteIndexOver(dir / "index", {"missing/root.osgb", "index/root.osgb"});
    EXPECT_EQ(TileValidator().validate(dir / "index"), TileStatus::Valid);
}

TEST(TileValidation, TheImagePlaceholderIsGoneAfterTheRun) {
    TempDir dir;
    const fs::path jpeg = dir / "texture.jpg";
    ASSERT_TRUE(osgDB::writeImageFile(*MakeImage(32), jpeg.string()));
    { const TileValidator validator; }
    const osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(jpeg.string());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->s(), 32);
}

TEST(TileValidation, FullAndFastExportsWriteIdenticalFiles) {
    TempDir dir;
    WriteCorpus(dir / "block");
    ExportOptions options;
    options.fullValidation = true;
    ASSERT_TRUE(ExportFolderIndexes({dir / "block"}, options).succeeded());
    const std::string full = test::ReadBytes(dir / "block" / "root.osgb");
    options.fullValidation = false;
    ASSERT_TRUE(ExportFolderIndexes({dir / "block"}, options).succeeded());
    EXPECT_EQ(test::ReadBytes(dir / "block" / "root.osgb"), full);
}

} // namespace
} // namespace brindle
