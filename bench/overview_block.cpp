#include "bench/overview_block.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace brindle::bench {
namespace fs = std::filesystem;

namespace {

// How often the count of tiles written is saved, so that an interrupted run resumes there.
constexpr int kProgressEvery = 500;

std::string StampFor(const SampleBlockOptions& o) {
    std::ostringstream out;
    out << "tiles " << o.tileCount << " texture " << o.minTexturePx << '-' << o.maxTexturePx
        << (o.embedJpeg ? " jpeg" : " raw") << (o.pagedRoot ? " paged-root" : "")
        << (o.seamless ? " seamless" : "") << " grid " << o.minGridCells << '-' << o.maxGridCells
        << " seed " << o.seed;
    if (o.writtenLevels > 0) {
        out << " levels " << o.writtenLevels;
    }
    if (o.lightInTexture) {
        out << " light-in-texture";
    }
    out << '\n';
    return out.str();
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

// The origin line the exporter reads, as a survey's report.txt gives it.
std::string ReportText(const SampleBlockOptions& o) {
    std::ostringstream out;
    out.precision(15);
    out << "Brindle overview benchmark block, " << o.tileCount << " tiles\nX: " << o.originX
        << " Y: " << o.originY << " Z: " << o.originZ << '\n';
    return out.str();
}

// The tiles written so far, as the progress file says; 0 when it is missing or stamped
// otherwise.
int TilesWritten(const fs::path& progress, const std::string& stamp) {
    const std::string text = ReadText(progress);
    if (text.rfind(stamp, 0) != 0) {
        return 0;
    }
    return std::atoi(text.c_str() + stamp.size());
}

// Writes tiles `first` .. tileCount-1 on `jobs` threads, saving progress as it goes.
void WriteTiles(const OverviewBlock& block, int first, int jobs, const fs::path& progress,
                const std::string& stamp) {
    const int count = block.options.tileCount;
    if (first < count) {
        // The first tile alone: the scene graph's plugins load on their first use, and two
        // threads loading one at once can each find it missing.
        const fs::path tile = block.folder / OverviewTileName(block.options, first);
        fs::create_directories(tile);
        WriteSampleTile(tile / "root.osgb", SampleTileParamsFor(block.options, first));
        ++first;
    }
    std::atomic<int> next{first};
    std::mutex mutex;
    std::string failure;
    // Tiles below `done` are all written: the threads take them in order, so the least tile
    // still in progress bounds what is complete.
    std::vector<int> current(static_cast<std::size_t>(jobs), count);
    const auto work = [&](int thread) {
        for (;;) {
            const int index = next.fetch_add(1);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                current[thread] = index;
                if (!failure.empty()) {
                    return;
                }
            }
            if (index >= count) {
                return;
            }
            try {
                const fs::path tile = block.folder / OverviewTileName(block.options, index);
                fs::create_directories(tile);
                WriteSampleTile(tile / "root.osgb", SampleTileParamsFor(block.options, index));
            } catch (const std::exception& e) {
                const std::lock_guard<std::mutex> lock(mutex);
                failure = e.what();
                return;
            }
            if (index % kProgressEvery == 0) {
                const std::lock_guard<std::mutex> lock(mutex);
                int done = count;
                for (const int c : current) {
                    done = std::min(done, c);
                }
                WriteText(progress, stamp + std::to_string(done) + '\n');
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < jobs; ++i) {
        threads.emplace_back(work, i);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
}

} // namespace

SampleBlockOptions OverviewBlockOptions(int tileCount) {
    SampleBlockOptions options;
    options.tileCount = tileCount;
    options.embedJpeg = true;
    options.pagedRoot = true;
    options.seamless = true;
    options.seed = 11;
    if (tileCount <= 10000) {
        options.minTexturePx = 64;
        options.maxTexturePx = 128;
        options.minGridCells = 8;
        options.maxGridCells = 16;
    } else {
        options.minTexturePx = 16;
        options.maxTexturePx = 24;
        options.minGridCells = 2;
        options.maxGridCells = 4;
    }
    return options;
}

SampleBlockOptions LevelledBlockOptions(int tileCount) {
    SampleBlockOptions options;
    options.tileCount = tileCount;
    options.embedJpeg = true;
    options.pagedRoot = true;
    options.seamless = true;
    options.lightInTexture = true;
    options.seed = 13;
    // At the finest of three finer levels, textures of 1,024 to 1,280 px over grids of 192
    // cells: some 3 MB a tile over its levels, as production tiles hold.
    options.writtenLevels = 3;
    options.minTexturePx = 128;
    options.maxTexturePx = 160;
    options.minGridCells = 24;
    options.maxGridCells = 24;
    return options;
}

int OverviewBlockSide(const SampleBlockOptions& options) {
    int side = 1;
    while (side * side < options.tileCount) {
        ++side;
    }
    return side;
}

std::string OverviewTileName(const SampleBlockOptions& options, int index) {
    const int side = OverviewBlockSide(options);
    char name[32];
    std::snprintf(name, sizeof name, "Tile_+%03d_+%03d", index % side, index / side);
    return name;
}

OverviewBlock PrepareOverviewBlock(const fs::path& root, int tileCount, int jobs,
                                   std::ostream& log) {
    return PrepareBlock(root / ("overview-block-" + std::to_string(tileCount)),
                        OverviewBlockOptions(tileCount), jobs, log);
}

OverviewBlock PrepareLevelledBlock(const fs::path& root, int tileCount, int jobs,
                                   std::ostream& log) {
    return PrepareBlock(root / ("levelled-block-" + std::to_string(tileCount)),
                        LevelledBlockOptions(tileCount), jobs, log);
}

OverviewBlock PrepareBlock(const fs::path& folder, const SampleBlockOptions& options, int jobs,
                           std::ostream& log) {
    const fs::path root = folder.parent_path();
    const int tileCount = options.tileCount;
    OverviewBlock block;
    block.options = options;
    block.folder = folder;
    const fs::path complete = root / (block.folder.filename().string() + "-complete.txt");
    const fs::path progress = root / (block.folder.filename().string() + "-progress.txt");
    const std::string stamp = StampFor(block.options);
    if (ReadText(complete) == stamp) {
        log << "reusing " << block.folder.string() << '\n';
        return block;
    }
    fs::remove(complete);
    int first = TilesWritten(progress, stamp);
    if (first == 0) {
        fs::remove_all(block.folder);
    }
    fs::create_directories(block.folder);
    WriteText(block.folder / "report.txt", ReportText(block.options));
    log << "writing tiles " << first << " to " << tileCount << " into " << block.folder.string()
        << " ..." << std::flush;
    const auto start = std::chrono::steady_clock::now();
    WriteTiles(block, first, jobs, progress, stamp);
    log << ' ' << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
        << " s\n";
    WriteText(complete, stamp);
    fs::remove(progress);
    return block;
}

} // namespace brindle::bench
