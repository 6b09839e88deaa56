#include "export/index/index_graph.h"

namespace brindle {

IndexGraph::IndexGraph() : transform_(new osg::MatrixTransform), proxy_(new osg::ProxyNode) {
    transform_->addChild(proxy_.get());
}

void IndexGraph::setTranslation(const osg::Vec3d& translation) {
    osg::Matrixd matrix;
    matrix.setTrans(translation);
    transform_->setMatrix(matrix);
}

osg::Vec3d IndexGraph::translation() const {
    return transform_->getMatrix().getTrans();
}

void IndexGraph::setPagedEntries(const std::vector<PagedEntry>& entries) {
    transform_->removeChildren(0, transform_->getNumChildren());
    transform_->addChild(BuildPagedTree(entries).get());
}

void IndexGraph::setEntries(const std::vector<std::string>& entries) {
    if (transform_->getNumChildren() != 1 || transform_->getChild(0) != proxy_.get()) {
        transform_->removeChildren(0, transform_->getNumChildren());
        transform_->addChild(proxy_.get());
    }
    // removeChildren also drops the file names beyond the loaded children.
    proxy_->removeChildren(0, proxy_->getNumFileNames());
    for (unsigned i = 0; i < entries.size(); ++i)
        proxy_->setFileName(i, entries[i]);
}

std::vector<std::string> IndexGraph::entries() const {
    std::vector<std::string> names;
    for (unsigned i = 0; i < proxy_->getNumFileNames(); ++i)
        names.push_back(proxy_->getFileName(i));
    return names;
}

std::string ProxyEntryFor(const std::string& subfolderName) {
    return subfolderName + "\\root.osgb";
}

} // namespace brindle

namespace brindle {

std::string EntryFor(const std::string& subfolderName, IndexKind kind) {
    return kind == IndexKind::Paged ? subfolderName + "/root.osgb" : ProxyEntryFor(subfolderName);
}

} // namespace brindle
