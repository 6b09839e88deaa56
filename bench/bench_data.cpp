#include "bench/bench_data.h"

#include "bench/hostile_tile.h"
#include "tools/sample_block.h"

#include <osg/ProxyNode>
#include <osgDB/WriteFile>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCompleteMarker = ".complete";
constexpr const char* kHostileTile = "Hostile_Tile";

// Tiles of 1 to 4 MB, as survey tiles usually are: the JPEG texture is most of the file, the
// mesh the rest. Textures above ~1900 px with the finest meshes would pass 4 MB.
SampleBlockOptions BlockOptions(const BenchDataOptions& options, int folderIndex) {
    SampleBlockOptions block;
    block.tileCount = options.tilesPerFolder;
    block.minTexturePx = 1024;
    block.maxTexturePx = 1900;
    block.minGridCells = 80;
    block.maxGridCells = 128;
    block.seed = static_cast<unsigned>(folderIndex + 1);
    block.embedJpeg = true;
    return block;
}

std::string FolderName(int folderIndex) {
    return "Block_" + std::string(1, static_cast<char>('A' + folderIndex)); // at most 26
}

// A subfolder whose root.osgb is itself an index: a proxy over two tiles in its own
// subfolders and one that does not exist. The missing one is not called root.osgb, because a
// full load would then find the index itself through the file search and recurse forever.
void WriteNestedIndex(const fs::path& dir, const SampleBlockOptions& block, int which) {
    osg::ref_ptr<osg::ProxyNode> proxy = new osg::ProxyNode;
    for (int part = 0; part < 2; ++part) {
        const std::string partName = "Part_" + std::to_string(part);
        fs::create_directories(dir / partName);
        // Indices past the block's own tiles and odd folders keep these seeds distinct.
        SampleTileParams params =
            SampleTileParamsFor(block, block.tileCount + 16 + 2 * which + part);
        WriteSampleTile(dir / partName / "root.osgb", params);
        proxy->setFileName(part, partName + "/root.osgb");
    }
    proxy->setFileName(2, "missing/tile.osgb");
    if (!osgDB::writeNodeFile(*proxy, (dir / "root.osgb").string())) {
        throw std::runtime_error("cannot write " + (dir / "root.osgb").string());
    }
}

void WriteBenchFolder(const fs::path& folder, const BenchDataOptions& options, int folderIndex) {
    const SampleBlockOptions block = BlockOptions(options, folderIndex);
    WriteSampleBlock(folder, block);
    for (int which = 0; which < options.nestedIndexesPerFolder; ++which) {
        WriteNestedIndex(folder / ("Index_" + std::to_string(which)), block, which);
    }
}

// Folders are independent, so each worker takes the next one until none is left.
void GenerateFolders(const std::vector<fs::path>& folders, const BenchDataOptions& options) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::string firstError;
    std::mutex errorMutex;
    const auto worker = [&] {
        for (std::size_t i = next++; i < folders.size() && !failed; i = next++) {
            try {
                WriteBenchFolder(folders[i], options, static_cast<int>(i));
            } catch (const std::exception& e) {
                const std::lock_guard<std::mutex> lock(errorMutex);
                if (!failed.exchange(true)) {
                    firstError = e.what();
                }
            }
        }
    };
    const unsigned threadCount =
        std::clamp<unsigned>(options.threads, 1, static_cast<unsigned>(folders.size()));
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < threadCount; ++t) {
        threads.emplace_back(worker);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    if (failed) {
        throw std::runtime_error("generating bench data failed: " + firstError);
    }
}

} // namespace

std::vector<fs::path> PrepareBenchData(const fs::path& root, const BenchDataOptions& options) {
    if (options.folders < 1 || options.tilesPerFolder < 1 || options.nestedIndexesPerFolder < 0) {
        throw std::invalid_argument("bench data needs at least one folder and one tile");
    }
    // The shape is in the name, so a quick run never reuses (or clobbers) the full data set.
    const fs::path set = root / ("f" + std::to_string(options.folders) + "-t" +
                                 std::to_string(options.tilesPerFolder) + "-n" +
                                 std::to_string(options.nestedIndexesPerFolder));
    std::vector<fs::path> folders;
    for (int i = 0; i < options.folders; ++i) {
        folders.push_back(set / FolderName(i));
    }
    if (!fs::exists(set / kCompleteMarker)) {
        fs::remove_all(set);
        fs::create_directories(set);
        GenerateFolders(folders, options);
        std::ofstream(set / kCompleteMarker) << "generated completely\n";
    }
    // Added apart from the marker, so that sets generated before it existed gain it too.
    const fs::path hostile = folders.front() / kHostileTile / "root.osgb";
    if (!fs::exists(hostile)) {
        // Renamed into place once complete, so an interrupted run leaves no half-made tile.
        const fs::path partial = hostile.parent_path() / "partial.osgb";
        fs::create_directories(hostile.parent_path());
        WriteHostileTile(partial);
        fs::rename(partial, hostile);
    }
    return folders;
}

} // namespace brindle::bench
