#include "tests/export/test_fixtures.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/ProxyNode>
#include <osg/Shape>
#include <osg/ShapeDrawable>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

void WriteSizedTile(const fs::path& folder, std::uint64_t bytes, unsigned seed) {
    fs::create_directories(folder);
    // The file is the vertex array's bytes and a header of a few hundred bytes; random
    // coordinates, so that no writer option could shrink it.
    const std::uint64_t vertices = std::max<std::uint64_t>(1, bytes / sizeof(osg::Vec3) + 1);
    std::mt19937 random(seed);
    osg::ref_ptr<osg::Vec3Array> points = new osg::Vec3Array;
    points->reserve(vertices);
    for (std::uint64_t i = 0; i < vertices; ++i)
        points->push_back(osg::Vec3(random() % 100000 / 1000.0f, random() % 100000 / 1000.0f,
                                    random() % 10000 / 1000.0f));
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(points);
    geometry->addPrimitiveSet(
        new osg::DrawArrays(GL_POINTS, 0, static_cast<GLsizei>(points->size())));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    const fs::path file = folder / "root.osgb";
    ASSERT_TRUE(osgDB::writeNodeFile(*geode, file.string())) << file;
    std::error_code ec;
    const std::uintmax_t written = fs::file_size(file, ec);
    ASSERT_FALSE(ec) << file;
    // A tile short of its size would quietly test the small-tile path instead.
    ASSERT_GE(written, bytes) << file;
}

void WriteHeavyTile(const fs::path& folder, std::uint64_t vertices) {
    fs::create_directories(folder);
    osg::ref_ptr<osg::Vec3Array> points = new osg::Vec3Array;
    points->reserve(vertices);
    for (std::uint64_t i = 0; i < vertices; ++i)
        points->push_back(osg::Vec3(float(i % 4), float(i / 4 % 4), 0.0f));
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(points);
    geometry->addPrimitiveSet(
        new osg::DrawArrays(GL_POINTS, 0, static_cast<GLsizei>(points->size())));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    const fs::path file = folder / "root.osgb";
    const osg::ref_ptr<osgDB::Options> compressed = new osgDB::Options("Compressor=zlib");
    ASSERT_TRUE(osgDB::writeNodeFile(*geode, file.string(), compressed.get())) << file;
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
