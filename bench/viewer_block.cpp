#include "bench/viewer_block.h"

#include "export/export_run.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <ostream>
#include <random>
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

std::string GridTileName(const SampleBlockOptions& options, int index) {
    const int side = BlockSide(options);
    char name[32];
    std::snprintf(name, sizeof name, "Tile_+%03d_+%03d", index % side, index / side);
    return name;
}

// A fixed permutation of 0 .. count-1: Fisher-Yates over a generator whose output sequence
// the standard library fixes, so every platform names the shuffled block alike.
std::vector<int> ShuffledNumbers(int count) {
    std::vector<int> numbers(static_cast<std::size_t>(count));
    std::iota(numbers.begin(), numbers.end(), 0);
    std::mt19937 rng(20240607u);
    for (int i = count - 1; i > 0; --i) {
        std::swap(numbers[i], numbers[rng() % static_cast<unsigned>(i + 1)]);
    }
    return numbers;
}

std::string TileName(const SampleBlockOptions& options, bool shuffled, int index) {
    if (!shuffled) {
        return GridTileName(options, index);
    }
    char name[32];
    std::snprintf(name, sizeof name, "Tile_+%06d", ShuffledNumbers(options.tileCount)[index]);
    return name;
}

// The benchmark's own block of kViewerBlockTiles is "block"; others carry their size, so that
// a quick run does not replace it.
fs::path BlockFolder(const fs::path& root, int tileCount, bool jpeg, bool shuffled) {
    return root / (std::string(jpeg ? "block-jpeg" : "block") +
                   (tileCount == kViewerBlockTiles ? "" : "-" + std::to_string(tileCount)) +
                   (shuffled ? "-shuffled" : ""));
}

// Fills `folder` with the grid block's files, its tile folders renamed in shuffled order;
// the files are hard links where the file system allows, copies elsewhere.
void LinkShuffled(const fs::path& grid, const fs::path& folder, const SampleBlockOptions& options) {
    std::map<std::string, std::string> names;
    for (int i = 0; i < options.tileCount; ++i) {
        names[GridTileName(options, i)] = TileName(options, true, i);
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(grid)) {
        const fs::path relative = entry.path().lexically_relative(grid);
        if (relative == "proxy.osgb" || relative == "paged.osgb") {
            continue;
        }
        fs::path target = folder;
        for (auto part = relative.begin(); part != relative.end(); ++part) {
            const auto renamed = names.find(part->string());
            target /= part == relative.begin() && renamed != names.end() ? fs::path(renamed->second)
                                                                         : *part;
        }
        if (entry.is_directory()) {
            fs::create_directories(target);
        } else if (entry.is_regular_file()) {
            fs::create_directories(target.parent_path());
            std::error_code ec;
            fs::create_hard_link(entry.path(), target, ec);
            if (ec) {
                fs::copy_file(entry.path(), target);
            }
        }
    }
}

// Makes the block's tiles and its proxy index unless a complete set made with the same
// options is there already.
void PrepareTilesAndProxy(const fs::path& root, const ViewerBlock& block, std::ostream& log) {
    const fs::path stamp = root / (block.folder.filename().string() + "-complete.txt");
    const std::string stampText =
        StampFor(block.options) + (block.shuffled ? "shuffled names\n" : "");
    if (fs::exists(stamp) && ReadText(stamp) == stampText) {
        log << "reusing " << block.folder.string() << '\n';
        return;
    }
    fs::remove(stamp);
    fs::remove_all(block.folder);
    const auto start = std::chrono::steady_clock::now();
    const auto seconds = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    if (block.shuffled) {
        const bool jpeg = block.options.embedJpeg;
        ViewerBlock grid;
        grid.options = block.options;
        grid.folder = BlockFolder(root, block.options.tileCount, jpeg, false);
        PrepareTilesAndProxy(root, grid, log);
        log << "linking the tiles into " << block.folder.string() << " under shuffled names ..."
            << std::flush;
        LinkShuffled(grid.folder, block.folder, block.options);
    } else {
        log << "writing " << block.options.tileCount << " tiles into " << block.folder.string()
            << " ..." << std::flush;
        WriteSampleBlock(block.folder, block.options);
    }
    log << ' ' << seconds() << " s\n"
        << "writing the proxy index ..." << std::flush;
    WriteIndex(block.folder, IndexKind::Proxy, block.proxyIndex);
    log << ' ' << seconds() << " s\n";
    std::ofstream(stamp, std::ios::binary) << stampText;
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

BlockTile BlockTileAt(const SampleBlockOptions& options, bool shuffled, int index) {
    const SampleTileParams params = SampleTileParamsFor(options, index);
    const double half = params.sizeMetres / 2;
    return {TileName(options, shuffled, index) + "\\root.osgb",
            params.offset + osg::Vec2d(half, half)};
}

ViewerBlock PrepareViewerBlock(const fs::path& root, int tileCount, bool jpeg, bool shuffled,
                               std::ostream& log) {
    ViewerBlock block;
    block.options = ViewerBlockOptions(tileCount, jpeg);
    block.shuffled = shuffled;
    block.folder = BlockFolder(root, tileCount, jpeg, shuffled);
    block.proxyIndex = block.folder / "proxy.osgb";
    block.pagedIndex = block.folder / "paged.osgb";
    PrepareTilesAndProxy(root, block, log);
    const auto start = std::chrono::steady_clock::now();
    log << "writing the paged index ..." << std::flush;
    WriteIndex(block.folder, IndexKind::Paged, block.pagedIndex);
    log << ' ' << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
        << " s\n";
    return block;
}

} // namespace brindle::bench
