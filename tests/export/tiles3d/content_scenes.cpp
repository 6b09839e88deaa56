#include "content_scenes.h"

#include "tools/sample_block.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/Texture2D>

#include <random>

namespace brindle::test {

osg::ref_ptr<osg::Node> EveryPrimitiveKind() {
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    // Eight points on a slightly bent square ring, then a second ring above it.
    for (int ring = 0; ring < 2; ++ring)
        for (int i = 0; i < 8; ++i) {
            const double angle = i * osg::PI / 4.0;
            vertices->push_back(osg::Vec3(10.0 * std::cos(angle), 10.0 * std::sin(angle),
                                          ring * 5.0f + 0.5f * static_cast<float>(i % 3)));
            colours->push_back(osg::Vec4(i / 8.0f, ring, 0.5f, 1.0f));
        }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices);
    geometry->setColorArray(colours, osg::Array::BIND_PER_VERTEX);
    osg::ref_ptr<osg::DrawElementsUShort> triangles = new osg::DrawElementsUShort(GL_TRIANGLES);
    for (const unsigned short i : {0, 1, 2, 2, 3, 4})
        triangles->push_back(i);
    geometry->addPrimitiveSet(triangles);                                    // 2
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLE_STRIP, 8, 5)); // 3
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_TRIANGLE_FAN, 0, 4));   // 2
    osg::ref_ptr<osg::DrawElementsUInt> quads = new osg::DrawElementsUInt(GL_QUADS);
    for (const unsigned i : {0u, 1u, 9u, 8u})
        quads->push_back(i);
    geometry->addPrimitiveSet(quads); // 2
    osg::ref_ptr<osg::DrawElementsUByte> quadStrip = new osg::DrawElementsUByte(GL_QUAD_STRIP);
    for (const unsigned char i : {4, 12, 5, 13})
        quadStrip->push_back(i);
    geometry->addPrimitiveSet(quadStrip); // 2
    osg::ref_ptr<osg::DrawArrayLengths> polygon = new osg::DrawArrayLengths(GL_POLYGON, 9);
    polygon->push_back(5);
    geometry->addPrimitiveSet(polygon); // 3
    // Lines and points draw no triangle.
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_LINES, 0, 4));
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_POINTS, 0, 4));

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(geometry);
    osg::ref_ptr<osg::MatrixTransform> transform =
        new osg::MatrixTransform(osg::Matrixd::rotate(0.7, osg::Vec3d(0.3, 0.2, 1.0)) *
                                 osg::Matrixd::translate(512345.678, 3400000.3, 12.5));
    transform->addChild(geode);
    return transform;
}

osg::ref_ptr<osg::Image> TestImage(int size, bool alpha, unsigned seed) {
    std::mt19937 rng(seed);
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(size, size, 1, alpha ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            unsigned char* pixel = image->data(x, y);
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<unsigned char>((x * 7 + y * 3 + c * 50 + rng() % 16) & 255);
            if (channels == 4)
                pixel[3] = x < size / 2 ? 255 : 96;
        }
    return image;
}

osg::ref_ptr<osg::Node> TwoTexturedQuads(osg::Image* left, osg::Image* right) {
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    int column = 0;
    for (osg::Image* image : {left, right}) {
        osg::ref_ptr<osg::Geometry> quad = osg::createTexturedQuadGeometry(
            osg::Vec3(10.0f * column++, 0, 0), osg::Vec3(10, 0, 0), osg::Vec3(0, 10, 0));
        quad->getOrCreateStateSet()->setTextureAttributeAndModes(0, new osg::Texture2D(image));
        geode->addDrawable(quad);
    }
    return geode;
}

std::filesystem::path WritePagedSampleTile(const std::filesystem::path& folder) {
    SampleTileParams params;
    params.texturePx = 64;
    params.gridCells = 12;
    params.offset = osg::Vec2d(300.0, 200.0);
    params.embedJpeg = true;
    params.pagedRoot = true;
    params.writtenLevels = 2;
    params.lightInTexture = true;
    std::filesystem::create_directories(folder);
    WriteSampleTile(folder / "root.osgb", params);
    return folder / "root.osgb";
}

std::filesystem::path WritePlainSampleTile(const std::filesystem::path& folder) {
    SampleTileParams params;
    params.texturePx = 96;
    params.gridCells = 20;
    params.offset = osg::Vec2d(-100.0, 400.0);
    params.seed = 7;
    std::filesystem::create_directories(folder);
    WriteSampleTile(folder / "root.osgb", params);
    return folder / "root.osgb";
}

} // namespace brindle::test
