#include "tests/export/verify/overview_files.h"

#include "tools/sample_block.h"

#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/ReadFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace brindle::test {
namespace fs = std::filesystem;
namespace {

bool InLevelsFolder(const fs::path& file) {
    return file.parent_path().filename().string().rfind("brindle-overview-", 0) == 0;
}

// The file a stored name leads to from `folder`, a backslash read as a separator.
fs::path Named(const fs::path& folder, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return (folder / name).lexically_normal();
}

class NamesOf : public osg::NodeVisitor {
public:
    explicit NamesOf(fs::path folder)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), folder_(std::move(folder)) {}
    void apply(osg::ProxyNode& proxy) override {
        for (unsigned i = 0; i < proxy.getNumFileNames(); ++i)
            names.push_back(Named(folder_, proxy.getFileName(i)));
    }
    void apply(osg::PagedLOD& paged) override {
        for (unsigned i = 0; i < paged.getNumFileNames(); ++i)
            if (!paged.getFileName(i).empty())
                names.push_back(Named(folder_, paged.getFileName(i)));
        traverse(paged);
    }
    std::vector<fs::path> names;

private:
    fs::path folder_;
};

std::vector<fs::path> NamesIn(const fs::path& file) {
    const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(file.string());
    if (!node)
        return {};
    NamesOf names(file.parent_path());
    node->accept(names);
    return names.names;
}

void Reach(const fs::path& file, OverviewFiles& files) {
    if (!InLevelsFolder(file)) {
        files.tiles.insert(file);
        return;
    }
    if (files.levels.count(file))
        return;
    files.levels[file] = NamesIn(file);
    for (const fs::path& below : files.levels[file])
        Reach(below, files);
}

// What is reached from the index once `gone` (level files) are not read and `missing` (tiles)
// are not there, the damaged files themselves counted.
void CountReached(const OverviewFiles& files, const fs::path& file, const std::set<fs::path>& gone,
                  std::set<fs::path>& levels, std::set<fs::path>& tiles) {
    if (!files.levels.count(file)) {
        tiles.insert(file);
        return;
    }
    if (!levels.insert(file).second || gone.count(file))
        return;
    for (const fs::path& below : files.levels.at(file))
        CountReached(files, below, gone, levels, tiles);
}

bool HasLevelsBelow(const OverviewFiles& files, const fs::path& level) {
    const std::vector<fs::path>& below = files.levels.at(level);
    return std::any_of(below.begin(), below.end(),
                       [&](const fs::path& file) { return files.levels.count(file) > 0; });
}

} // namespace

fs::path WriteProductionBlock(const fs::path& dir, int tiles) {
    SampleBlockOptions options;
    options.tileCount = tiles;
    options.minTexturePx = options.maxTexturePx = 64;
    options.minGridCells = options.maxGridCells = 8;
    options.pagedRoot = true;
    return WriteSampleBlock(dir / "block", options).folder;
}

OverviewFiles ReadOverview(const fs::path& block) {
    OverviewFiles files;
    for (const fs::path& top : NamesIn(block / "root.osgb"))
        Reach(top, files);
    return files;
}

OverviewDamage DamageOverview(const OverviewFiles& files) {
    OverviewDamage damage;
    // Two level files with levels below them, neither below the other.
    std::vector<fs::path> damaged;
    for (const auto& [level, below] : files.levels)
        if (HasLevelsBelow(files, level) && below.size() > 1 && damaged.size() < 2 &&
            (damaged.empty() || std::find(below.begin(), below.end(), damaged[0]) == below.end()))
            damaged.push_back(level);
    if (damaged.size() < 2) {
        ADD_FAILURE() << "the overview has no two level files with levels below them";
        return damage;
    }
    damage.deletedLevel = damaged[0];
    damage.cutLevel = damaged[1];
    std::set<fs::path> levels, tiles;
    const std::set<fs::path> gone(damaged.begin(), damaged.end());
    for (const fs::path& top :
         NamesIn(damage.deletedLevel.parent_path().parent_path() / "root.osgb"))
        CountReached(files, top, gone, levels, tiles);
    for (const fs::path& tile : tiles)
        if (damage.deletedTiles.size() < 3)
            damage.deletedTiles.push_back(tile);
    damage.levelsReached = levels.size();
    damage.tilesReached = tiles.size();

    fs::remove(damage.deletedLevel);
    std::string head(50, '\0');
    std::ifstream(damage.cutLevel, std::ios::binary).read(head.data(), 50);
    std::ofstream(damage.cutLevel, std::ios::binary | std::ios::trunc) << head;
    for (const fs::path& tile : damage.deletedTiles)
        fs::remove_all(tile.parent_path());
    return damage;
}

} // namespace brindle::test
