#include "bench/overview_measure.h"

#include <osg/NodeVisitor>
#include <osg/PagedLOD>
#include <osg/ProxyNode>
#include <osgDB/ReadFile>

#include <cmath>
#include <deque>
#include <stdexcept>
#include <vector>

namespace brindle::bench {
namespace fs = std::filesystem;

std::string PpmPixels(const fs::path& file) {
    const std::string bytes = ReadText(file);
    std::istringstream header(bytes);
    std::string magic;
    int width = 0, height = 0, depth = 0;
    header >> magic >> width >> height >> depth;
    const auto start = static_cast<std::size_t>(header.tellg()) + 1;
    if (magic != "P6" || width != kWidthPx || height != kHeightPx || bytes.size() < start) {
        throw std::runtime_error(file.string() + " is not the far view's picture");
    }
    return bytes.substr(start);
}

double BlockPsnr(const std::string& reference, const std::string& picture, double& blockShare) {
    const auto background = [](const std::string& p, std::size_t i) {
        return p[i] == char(255) && p[i + 1] == 0 && p[i + 2] == char(255);
    };
    double squares = 0;
    std::size_t samples = 0, pixels = 0;
    for (std::size_t i = 0; i + 2 < reference.size() && i + 2 < picture.size(); i += 3) {
        if (background(reference, i) && background(picture, i)) {
            continue;
        }
        ++pixels;
        for (std::size_t c = 0; c < 3; ++c) {
            const double d = double(static_cast<unsigned char>(reference[i + c])) -
                             double(static_cast<unsigned char>(picture[i + c]));
            squares += d * d;
            ++samples;
        }
    }
    blockShare = double(pixels) / (reference.size() / 3.0);
    if (samples == 0) {
        return 0;
    }
    const double mse = squares / samples;
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

namespace {

std::uintmax_t FolderBytes(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) {
            bytes += entry.file_size();
        }
    }
    return bytes;
}

} // namespace

BlockBytes MeasureBlock(const fs::path& folder) {
    BlockBytes bytes;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_directory()) {
            continue;
        }
        if (name.rfind("Tile_+", 0) == 0) {
            const std::uintmax_t tile = FolderBytes(entry.path());
            bytes.tiles += tile;
            bytes.smallestTile =
                bytes.tileFolders++ == 0 ? tile : std::min(bytes.smallestTile, tile);
        } else if (IsOverviewFile(name)) {
            bytes.pyramid += FolderBytes(entry.path());
            for (const auto& file : fs::recursive_directory_iterator(entry.path())) {
                bytes.pyramidFiles += file.is_regular_file();
            }
        }
    }
    return bytes;
}

namespace {

class NamedFiles : public osg::NodeVisitor {
public:
    // Names relative to no database path are relative to `folder`, the file's own, as its
    // reader resolves them.
    explicit NamedFiles(std::string folder)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), folder_(std::move(folder)) {}
    void apply(osg::PagedLOD& lod) override {
        for (unsigned i = 0; i < lod.getNumFileNames(); ++i) {
            if (!lod.getFileName(i).empty()) {
                files.push_back(Resolve(lod.getDatabasePath(), lod.getFileName(i)));
            }
        }
        traverse(lod);
    }
    void apply(osg::ProxyNode& proxy) override {
        for (unsigned i = 0; i < proxy.getNumFileNames(); ++i) {
            files.push_back(Resolve(proxy.getDatabasePath(), proxy.getFileName(i)));
        }
        traverse(proxy);
    }
    std::vector<std::string> files;

private:
    std::string Resolve(const std::string& databasePath, const std::string& name) const {
        return NormalPath((databasePath.empty() ? folder_ + '/' : databasePath) + name);
    }
    std::string folder_;
};

} // namespace

OverviewWalk WalkOverview(const fs::path& index) {
    OverviewWalk walk;
    const std::string root = NormalPath(index.string());
    std::deque<std::string> pending = {root};
    std::set<std::string> seen;
    while (!pending.empty()) {
        const std::string file = pending.front();
        pending.pop_front();
        if (!seen.insert(file).second) {
            continue;
        }
        if (file != root && !IsOverviewFile(file)) {
            walk.tiles.insert(fs::path(file).parent_path().filename().string());
            continue;
        }
        const osg::ref_ptr<osg::Node> node = osgDB::readRefNodeFile(file);
        walk.nodeFiles += file != root;
        if (!node) {
            ++walk.unreadable;
            continue;
        }
        NamedFiles named(fs::path(file).parent_path().string());
        node->accept(named);
        pending.insert(pending.end(), named.files.begin(), named.files.end());
    }
    return walk;
}

} // namespace brindle::bench
