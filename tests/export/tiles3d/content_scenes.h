#pragma once

#include <osg/Image>
#include <osg/Node>

#include <filesystem>

namespace brindle::test {

// A rotated, moved transform over one geometry that draws every kind of primitive: indexed
// triangles, a strip, a fan, quads, a quad strip and a polygon, with vertex colours and no
// texture. Its triangles, counted by hand: 2 + 3 + 2 + 2 + 2 + 3 = 14.
osg::ref_ptr<osg::Node> EveryPrimitiveKind();
constexpr std::size_t kEveryPrimitiveKindTriangles = 14;

// An image of `size` x `size` pixels, RGB, or RGBA with half its pixels see-through.
osg::ref_ptr<osg::Image> TestImage(int size, bool alpha, unsigned seed = 1);

// Two textured quads side by side, with the given images.
osg::ref_ptr<osg::Node> TwoTexturedQuads(osg::Image* left, osg::Image* right);

// A tile with the light in its texture, a paged root over two written finer levels, its
// texture embedded as JPEG: production tiles' shape. Gives the root's file.
std::filesystem::path WritePagedSampleTile(const std::filesystem::path& folder);
// A plain mesh with normals and its texture embedded as raw pixels. Gives the file.
std::filesystem::path WritePlainSampleTile(const std::filesystem::path& folder);

} // namespace brindle::test
