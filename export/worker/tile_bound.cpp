#include "export/worker/tile_bound.h"

#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>

namespace brindle {
namespace {

// Finds references to other files whose content the tile's own bound does not cover.
class UnresolvedReferences : public osg::NodeVisitor {
public:
    UnresolvedReferences() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::PagedLOD& node) override {
        check(
            node.getCenterMode(), node.getRadius(), node.getNumFileNames(),
            [&](unsigned i) { return node.getFileName(i); }, node.getNumChildren());
        traverse(node);
    }
    void apply(osg::ProxyNode& node) override {
        check(
            node.getCenterMode() == osg::ProxyNode::USER_DEFINED_CENTER
                ? osg::LOD::USER_DEFINED_CENTER
                : osg::LOD::USE_BOUNDING_SPHERE_CENTER,
            node.getRadius(), node.getNumFileNames(),
            [&](unsigned i) { return node.getFileName(i); }, node.getNumChildren());
        traverse(node);
    }

    bool found() const { return found_; }

private:
    template <typename FileName>
    void check(osg::LOD::CenterMode mode, float radius, unsigned files, FileName fileName,
               unsigned loaded) {
        const bool userBound = mode == osg::LOD::USER_DEFINED_CENTER ||
                               mode == osg::LOD::UNION_OF_BOUNDING_SPHERE_AND_USER_DEFINED;
        if (userBound && radius >= 0)
            return;
        for (unsigned i = loaded; i < files; ++i)
            if (!fileName(i).empty())
                found_ = true;
    }

    bool found_ = false;
};

} // namespace

TileBound BoundOfTile(osg::Node& scene) {
    TileBound bound;
    UnresolvedReferences references;
    scene.accept(references);
    const osg::BoundingSphere& sphere = scene.getBound();
    if (references.found() || !sphere.valid()) {
        bound.kind = TileBound::Kind::Unknown;
        return bound;
    }
    bound.kind = TileBound::Kind::Known;
    for (int i = 0; i < 3; ++i)
        bound.centre[i] = sphere.center()[i];
    bound.radius = sphere.radius();
    return bound;
}

} // namespace brindle
