#include "tests/export/test_fixtures.h"

#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/ProxyNode>
#include <osg/Shape>
#include <osg/ShapeDrawable>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace brindle::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device random;
    std::ostringstream name;
    name << "brindle-test-" << std::hex << random() << random();
    path_ = fs::temp_directory_path() / name.str();
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void WriteTile(const fs::path& folder) {
    fs::create_directories(folder);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
    ASSERT_TRUE(osgDB::writeNodeFile(*geode, (folder / "root.osgb").string()));
}

void WriteText(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << file;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

IndexContents ReadIndex(const fs::path& file) {
    IndexContents contents;
    const osg::ref_ptr<osg::Node> node = osgDB::readNodeFile(file.string());
    contents.loaded = node.valid();
    const auto* transform = dynamic_cast<const osg::MatrixTransform*>(node.get());
    if (!transform || transform->getNumChildren() != 1)
        return contents;
    const auto* proxy = dynamic_cast<const osg::ProxyNode*>(transform->getChild(0));
    if (!proxy)
        return contents;
    contents.isTransformOverOneProxy = true;
    contents.translation = transform->getMatrix().getTrans();
    for (unsigned i = 0; i < proxy->getNumFileNames(); ++i)
        contents.entries.push_back(proxy->getFileName(i));
    contents.loadedTiles = proxy->getNumChildren();
    return contents;
}

unsigned OsgbFileVersion(const fs::path& file) {
    const std::string bytes = ReadBytes(file);
    // Two magic words, the scene type, then the version, each 32 bits.
    constexpr std::size_t kVersionOffset = 12;
    unsigned version = 0;
    if (bytes.size() >= kVersionOffset + sizeof version)
        std::memcpy(&version, bytes.data() + kVersionOffset, sizeof version);
    return version;
}

} // namespace brindle::test
