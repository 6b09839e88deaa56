#include "bench/viewer_block.h"

#include "export/export_run.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

// Describes everything the block's content depends on; a block stamped otherwise is redone.
std::string StampFor(const SampleBlockOptions& o) {
    std::ostringstream out;
    out << "tiles " << o.tileCount << " texture " << o.minTexturePx << '-' << o.maxTexturePx
        << (o.embedJpeg ? " jpeg" : " raw") << " grid " << o.minGridCells << '-' << o.maxGridCells
        << " seed " << o.seed << " indexes proxy.osgb paged.osgb\n";
    return out.str();
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the folder's index of `kind` and moves it from root.osgb to `target`, so that the
// next export does not find an index of the other kind in its way.
void WriteIndex(const fs::path& folder, IndexKind kind, const fs::path& target) {
    ExportOptions options;
    options.jobs = 2;
    options.index = kind;
    const ExportReport report = ExportFolderIndexes({folder}, options);
    if (!report.succeeded() || report.folders.size() != 1) {
        throw std::runtime_error("exporting " + folder.string() + " failed");
    }
    fs::rename(report.folders.front().indexFile, target);
}

} // namespace

SampleBlockOptions ViewerBlockOptions(int tileCount, bool jpeg) {
    SampleBlockOptions options;
    options.tileCount = tileCount;
    // Raw RGB textures of 48 to 147 KB, or JPEG ones of some 60 to 130 KB that decode to 192
    // to 363 KB; meshes of 9 to 60 KB.
    options.embedJpeg = jpeg;
    options.minTexturePx = jpeg ? 256 : 128;
    options.maxTexturePx = jpeg ? 352 : 224;
    options.minGridCells = 16;
    options.maxGridCells = 32;
    options.seed = 7;
    return options;
}

int BlockSide(const SampleBlockOptions& options) {
    int side = 1;
    while (side * side < options.tileCount) {
        ++side;
    }
    return side;
}

BlockTile BlockTileAt(const SampleBlockOptions& options, int index) {
    const int side = BlockSide(options);
    char name[64];
    std::snprintf(name, sizeof name, "Tile_+%03d_+%03d\\root.osgb", index % side, index / side);
    const SampleTileParams params = SampleTileParamsFor(options, index);
    const double half = params.sizeMetres / 2;
    return {name, params.offset + osg::Vec2d(half, half)};
}

ViewerBlock PrepareViewerBlock(const fs::path& root, int tileCount, bool jpeg, std::ostream& log) {
    ViewerBlock block;
    block.options = ViewerBlockOptions(tileCount, jpeg);
    block.folder = root / (jpeg ? "block-jpeg" : "block");
    block.proxyIndex = block.folder / "proxy.osgb";
    block.pagedIndex = block.folder / "paged.osgb";
    const fs::path stamp = root / (block.folder.filename().string() + "-complete.txt");
    if (fs::exists(stamp) && ReadText(stamp) == StampFor(block.options)) {
        log << "reusing " << block.folder.string() << '\n';
        return block;
    }

    fs::remove(stamp);
    fs::remove_all(block.folder);
    const auto start = std::chrono::steady_clock::now();
    const auto seconds = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    log << "writing " << tileCount << " tiles into " << block.folder.string() << " ..."
        << std::flush;
    WriteSampleBlock(block.folder, block.options);
    log << ' ' << seconds() << " s\n"
        << "writing the proxy and the paged index ..." << std::flush;
    WriteIndex(block.folder, IndexKind::Proxy, block.proxyIndex);
    WriteIndex(block.folder, IndexKind::Paged, block.pagedIndex);
    log << ' ' << seconds() << " s\n";
    std::ofstream(stamp, std::ios::binary) << StampFor(block.options);
    return block;
}

} // namespace brindle::bench
