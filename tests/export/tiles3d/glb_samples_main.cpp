// Writes the binary glTF files of several kinds of tile into a folder, for the glTF
// validator to check: a production-shaped paged tile's three files, a plain tile with normals
// and raw pixels, every primitive kind with vertex colours, a see-through texture beside an
// opaque one, triangles with bad corners left out; some of them quantised; and each again with
// its geometry compressed, in DIR/meshopt.
// Usage: tiles3d_glb_samples DIR
#include "content_scenes.h"

#include "export/tiles3d/kept_image_bytes.h"
#include "export/tiles3d/meshopt_glb.h"
#include "export/tiles3d/tile_content.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osgDB/ReadFile>

#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>

namespace {

namespace fs = std::filesystem;

bool Write(const osg::Node& scene, const fs::path& file, bool quantize = false) {
    brindle::ContentOptions options;
    options.quantize = quantize;
    const brindle::Result<brindle::TileContent> content = brindle::MakeTileContent(scene, options);
    if (!content) {
        std::cerr << file << ": " << content.error().message() << "\n";
        return false;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content->glb.data(), static_cast<std::streamsize>(content->glb.size()));
    return static_cast<bool>(out.flush());
}

bool WriteTile(const fs::path& tile, const fs::path& file, bool quantize = false) {
    const osg::ref_ptr<osg::Node> scene = osgDB::readRefNodeFile(tile.string());
    if (!scene) {
        std::cerr << tile << ": not readable\n";
        return false;
    }
    return Write(*scene, file, quantize);
}

osg::ref_ptr<osg::Node> BadCorners() {
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    for (int i = 0; i < 6; ++i)
        vertices->push_back(osg::Vec3(i, i % 2, 0));
    (*vertices)[5].z() = std::numeric_limits<float>::quiet_NaN();
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices);
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLE_STRIP, 0, 40));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    return geode;
}

// Each file of `dir` with its geometry compressed, into `into`.
bool WriteCompressed(const fs::path& dir, const fs::path& into) {
    fs::create_directories(into);
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".glb")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string glb((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        const std::optional<std::string> compressed = brindle::CompressGlbBuffers(glb);
        if (!compressed) {
            std::cerr << entry.path() << ": not compressed\n";
            return false;
        }
        std::ofstream out(into / entry.path().filename(), std::ios::binary | std::ios::trunc);
        out.write(compressed->data(), static_cast<std::streamsize>(compressed->size()));
        if (!out.flush())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tiles3d_glb_samples DIR\n";
        return 2;
    }
    const fs::path dir = argv[1];
    fs::remove_all(dir);
    fs::create_directories(dir);
    brindle::KeepEmbeddedImageBytes();
    const fs::path paged = brindle::test::WritePagedSampleTile(dir / "tiles" / "paged");
    const fs::path plain = brindle::test::WritePlainSampleTile(dir / "tiles" / "plain");
    const osg::ref_ptr<osg::Image> opaque = brindle::test::TestImage(32, false);
    const osg::ref_ptr<osg::Image> seeThrough = brindle::test::TestImage(32, true);
    const bool written =
        WriteTile(paged, dir / "paged-root.glb") &&
        WriteTile(paged.parent_path() / "root_L1.osgb", dir / "paged-level1.glb") &&
        WriteTile(paged.parent_path() / "root_L2.osgb", dir / "paged-level2.glb") &&
        WriteTile(plain, dir / "plain-normals-raw-texture.glb") &&
        Write(*brindle::test::EveryPrimitiveKind(), dir / "every-primitive-kind.glb") &&
        Write(*brindle::test::TwoTexturedQuads(opaque.get(), seeThrough.get()),
              dir / "see-through-texture.glb") &&
        Write(*BadCorners(), dir / "bad-corners.glb") &&
        WriteTile(paged, dir / "quantised-paged-root.glb", true) &&
        WriteTile(plain, dir / "quantised-plain-normals.glb", true) &&
        Write(*brindle::test::EveryPrimitiveKind(), dir / "quantised-every-primitive-kind.glb",
              true);
    return written && WriteCompressed(dir, dir / "meshopt") ? 0 : 1;
}
