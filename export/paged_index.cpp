#include "export/paged_index.h"

#include <osg/PagedLOD>
#include <osg/ProxyNode>

#include <cfloat>

namespace brindle {
namespace {

osg::ref_ptr<osg::Node> MakeLeaf(const PagedEntry& entry) {
    if (entry.bound.kind != TileBound::Kind::Known) {
        osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
        proxy->setFileName(0, entry.name);
        return proxy;
    }
    osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
    lod->setFileName(0, entry.name);
    lod->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    lod->setCenter(osg::Vec3d(entry.bound.centre[0], entry.bound.centre[1], entry.bound.centre[2]));
    lod->setRadius(static_cast<float>(entry.bound.radius));
    lod->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    lod->setRange(0, kPagedLoadPixels, FLT_MAX);
    return lod;
}

} // namespace

osg::ref_ptr<osg::Group> BuildPagedTree(const std::vector<PagedEntry>& entries) {
    std::vector<osg::ref_ptr<osg::Node>> level;
    level.reserve(entries.size());
    for (const PagedEntry& entry : entries)
        level.push_back(MakeLeaf(entry));
    // Group consecutive nodes until one group holds everything.
    do {
        std::vector<osg::ref_ptr<osg::Node>> parents;
        for (std::size_t i = 0; i < level.size(); i += kPagedFanOut) {
            osg::ref_ptr<osg::Group> group = new osg::Group;
            for (std::size_t j = i; j < std::min(level.size(), i + kPagedFanOut); ++j)
                group->addChild(level[j].get());
            parents.emplace_back(group);
        }
        level = std::move(parents);
    } while (level.size() > 1);
    return level.empty() ? osg::ref_ptr<osg::Group>(new osg::Group)
                         : osg::ref_ptr<osg::Group>(level.front()->asGroup());
}

} // namespace brindle
