#pragma once

#include "export/export_report.h"
#include "export/index/paged_index.h"

#include <osg/MatrixTransform>
#include <osg/ProxyNode>
#include <osg/ref_ptr>

#include <string>
#include <vector>

namespace brindle {

// The index scene: a translation over one proxy that names the tiles by relative path.
// One graph serves a whole run, so the translation carries over to folders without a report.
class IndexGraph {
public:
    IndexGraph();

    void setTranslation(const osg::Vec3d& translation);
    osg::Vec3d translation() const;

    // Replaces the proxy's names with `entries`, numbered 0, 1, 2... without gaps, and makes
    // the proxy the transform's child.
    void setEntries(const std::vector<std::string>& entries);
    // Puts a paged tree over `entries` under the transform instead of the proxy.
    void setPagedEntries(const std::vector<PagedEntry>& entries);
    std::vector<std::string> entries() const;

    const osg::MatrixTransform& root() const { return *transform_; }

private:
    osg::ref_ptr<osg::MatrixTransform> transform_;
    osg::ref_ptr<osg::ProxyNode> proxy_;
};

// The name a proxy entry stores for a tile folder: its name, a backslash, "root.osgb". The
// backslash is kept on every platform: index files travel to Windows viewers, and the
// scene-graph library resolves it on the others too.
std::string ProxyEntryFor(const std::string& subfolderName);

// The name an index of `kind` stores for a tile folder. A paged index names it with a forward
// slash, "name/root.osgb": the database pager that loads its tiles takes a backslash for part
// of the file name on systems other than Windows, and Windows takes either.
std::string EntryFor(const std::string& subfolderName, IndexKind kind);

} // namespace brindle
