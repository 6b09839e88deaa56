// The 3D Tiles walk at scale: a block of --tiles generated tiles (each a paged root over one
// written finer level) under an index of overview-like nodes, converted by a converter of a
// few threads of this process that parses each file, then built again with 1% of the tiles
// touched, the first build's output to reuse. Reports each build's time, the most files the
// walk held at once, and the peak resident memory of each build (the process's, converters'
// scenes included, reset between the builds). Not part of the test suite.
#include "export/tiles3d/tileset_build.h"
#include "tests/export/tiles3d/walk_fixtures.h"
#include "tools/sample_block.h"

#include <osg/PagedLOD>
#include <osgDB/WriteFile>

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

namespace fs = std::filesystem;
using namespace brindle;

namespace {

std::uint64_t PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6));
    return 0;
}

// Starts the peak resident set again from what is resident now.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string TileName(int x, int y) {
    char name[32];
    std::snprintf(name, sizeof name, "Tile_%+04d_%+04d", x, y);
    return name;
}

// An overview-like node: a paged node without a mesh naming `names`.
void WriteNode(const fs::path& file, const std::vector<std::string>& names) {
    osg::ref_ptr<osg::PagedLOD> paged = new osg::PagedLOD;
    paged->setCenterMode(osg::LOD::USER_DEFINED_CENTER);
    paged->setRadius(100);
    paged->setRangeMode(osg::LOD::PIXEL_SIZE_ON_SCREEN);
    for (std::size_t i = 0; i < names.size(); ++i) {
        paged->setFileName(static_cast<unsigned>(i), names[i]);
        paged->setRange(static_cast<unsigned>(i), 200, 1e30f);
    }
    fs::create_directories(file.parent_path());
    if (!osgDB::writeNodeFile(*paged, file.string()))
        throw std::runtime_error("cannot write " + file.string());
}

void WriteBlock(const fs::path& block, int tiles) {
    const int side = static_cast<int>(std::ceil(std::sqrt(tiles)));
    std::vector<std::string> nodes;
    std::vector<std::string> inNode;
    const fs::path levels = block / "brindle-overview-1";
    for (int i = 0; i < tiles; ++i) {
        const std::string name = TileName(i % side, i / side);
        SampleTileParams params;
        params.texturePx = 8;
        params.gridCells = 2;
        params.sizeMetres = 20;
        params.offset = osg::Vec2d(20.0 * (i % side), 20.0 * (i / side));
        params.seed = static_cast<unsigned>(i + 1);
        params.pagedRoot = true;
        params.writtenLevels = 1;
        fs::create_directories(block / name);
        WriteSampleTile(block / name / (name + ".osgb"), params);
        inNode.push_back("../" + name + "/" + name + ".osgb");
        if (inNode.size() == 100 || i + 1 == tiles) {
            const std::string node = "N" + std::to_string(nodes.size()) + ".osgb";
            WriteNode(levels / node, inNode);
            nodes.push_back("brindle-overview-1/" + node);
            inNode.clear();
        }
    }
    WriteNode(block / "root.osgb", nodes);
}

struct Run {
    TilesetBuilt built;
    double seconds = 0;
    std::size_t calls = 0;
    std::uint64_t peakKiB = 0;
};

Run Build(const fs::path& block, const fs::path& output, const fs::path& previous,
          unsigned threads) {
    fs::remove_all(output);
    fs::create_directories(output);
    ResetPeak();
    Run run;
    const auto start = std::chrono::steady_clock::now();
    {
        test::InProcessConverter converter(threads);
        TilesetBuildOptions options;
        options.listedFolder = block;
        options.output = output;
        options.previousOutput = previous;
        Result<TilesetBuilt> built = BuildTileset(options, converter.function());
        if (!built)
            throw std::runtime_error("build failed: " + built.error().message());
        run.built = *built;
        run.calls = converter.callCount();
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = PeakResidentKiB();
    return run;
}

void Print(const char* what, const Run& run) {
    std::printf("%s: %.1f s, %zu conversions, %llu reused, %llu tiles, %llu tile tilesets, "
                "at most %llu files held, peak resident %.1f MiB\n",
                what, run.seconds, run.calls, static_cast<unsigned long long>(run.built.reused),
                static_cast<unsigned long long>(run.built.tiles),
                static_cast<unsigned long long>(run.built.tileTilesets),
                static_cast<unsigned long long>(run.built.mostFilesHeld), run.peakKiB / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"3D Tiles walk benchmark"};
    int tiles = 10000;
    unsigned threads = 2;
    std::string data = BRINDLE_TILESET_DATA_DIR;
    app.add_option("--tiles", tiles, "tiles in the generated block");
    app.add_option("--threads", threads, "converter threads");
    app.add_option("--data", data, "where the block and its outputs go");
    CLI11_PARSE(app, argc, argv);
    try {
        const fs::path root = fs::path(data) / std::to_string(tiles);
        const fs::path block = root / "Block";
        if (!fs::exists(block / "root.osgb")) {
            std::cout << "writing a block of " << tiles << " tiles in " << block << std::endl;
            fs::remove_all(block);
            WriteBlock(block, tiles);
        }
        const Run first = Build(block, root / "first", {}, threads);
        Print("first build", first);
        // 1% of the tiles touched: their roots' times moved on.
        const int side = static_cast<int>(std::ceil(std::sqrt(tiles)));
        for (int i = 0; i < tiles; i += 100) {
            const std::string name = TileName(i % side, i / side);
            const fs::path file = block / name / (name + ".osgb");
            fs::last_write_time(file, fs::file_time_type::clock::now());
        }
        const Run again = Build(block, root / "again", root / "first", threads);
        Print("re-run, 1% touched", again);
        std::printf("re-run %.1f times faster\n", first.seconds / std::max(again.seconds, 1e-9));
    } catch (const std::exception& error) {
        std::cerr << "tileset walk benchmark: " << error.what() << '\n';
        return 2;
    }
    return 0;
}
