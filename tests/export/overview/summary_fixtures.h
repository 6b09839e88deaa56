#pragma once

#include "export/overview/tile_summary.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/Texture2D>

#include <functional>

namespace brindle::test {

// Sets each of the summary's height samples to `height` at its point in the block's frame,
// the samples spanning the summary's extent from edge to edge.
inline void SampleHeights(TileSummary& summary,
                          const std::function<float(double, double)>& height) {
    const Extent& extent = summary.extent;
    constexpr int kSamples = kSummaryHeightSamples;
    for (int j = 0; j < kSamples; ++j)
        for (int i = 0; i < kSamples; ++i)
            summary.Height(i, j) = height(extent.minX + i * extent.Width() / (kSamples - 1),
                                          extent.minY + j * extent.Height() / (kSamples - 1));
}

// A unit quad in the xy plane, textured with `image`.
inline osg::ref_ptr<osg::Geode> TexturedQuad(osg::Image* image) {
    osg::ref_ptr<osg::Geometry> quad =
        osg::createTexturedQuadGeometry(osg::Vec3(), osg::Vec3(1, 0, 0), osg::Vec3(0, 1, 0));
    quad->getOrCreateStateSet()->setTextureAttributeAndModes(0, new osg::Texture2D(image));
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(quad.get());
    return geode;
}

// The image of the first texture of the geode's first drawable, as a coarse mesh holds it;
// null where there is none.
inline const osg::Image* FirstTextureImage(const osg::Geode* geode) {
    if (geode == nullptr || geode->getNumDrawables() == 0)
        return nullptr;
    const osg::StateSet* state = geode->getDrawable(0)->getStateSet();
    const auto* texture = state ? dynamic_cast<const osg::Texture2D*>(
                                      state->getTextureAttribute(0, osg::StateAttribute::TEXTURE))
                                : nullptr;
    return texture ? texture->getImage() : nullptr;
}

} // namespace brindle::test
