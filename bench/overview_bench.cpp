// brindle-overview-bench: the overview index against the proxy and paged indexes, on blocks of
// production-shaped tiles of 10^3, 10^4 and 10^5 roots-only tiles, and on a few hundred tiles
// whose finer levels are written. For the roots-only blocks it counts the files a viewer reads
// for the far view (a real cull, every paged or proxy child it asks for loaded at once, again
// until it asks for nothing more), compares the overview's far view with the proxy index's
// picture, times the exporter writing each index, and walks the overview down to every tile;
// on the block with finer levels it times both builds and weighs the pyramid against the
// tiles. Run through ./bench-overview.sh, which renders offscreen under xvfb.
#include "bench/overview_block.h"
#include "bench/overview_common.h"
#include "bench/overview_export.h"
#include "bench/overview_measure.h"
#include "bench/overview_targets.h"
#include "bench/overview_view.h"
#include "export/overview/overview_index.h"

#include <CLI/CLI.hpp>

#include <osg/MatrixTransform>
#include <osgDB/WriteFile>

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
namespace fs = std::filesystem;
using namespace brindle::bench;

// The sizes the targets are set for, and the smaller ones of a quick run.
const std::vector<int> kFullSizes = {1000, 10000, 100000};
const std::vector<int> kQuickSizes = {100, 400, 1600};
constexpr int kLevelledTiles = 324; // 18 x 18: a side that is no power of two
constexpr int kQuickLevelledTiles = 36;

// The proxy index's view of the main block is slow (every tile read, then drawn); its figures
// and picture are kept beside the block, with the block's stamp they were measured on.
Results ProxyView(const fs::path& self, const fs::path& dataRoot, const Scale& scale,
                  const fs::path& proxyIndex, const fs::path& image) {
    const fs::path cache = dataRoot / (scale.block.folder.filename().string() + "-proxy-view.txt");
    const std::string stamp =
        ReadText(dataRoot / (scale.block.folder.filename().string() + "-complete.txt"));
    const std::string cached = ReadText(cache);
    if (!stamp.empty() && cached.rfind(stamp, 0) == 0 && fs::exists(image) &&
        fs::exists(UnlitPicture(image))) {
        std::cout << "reusing the proxy index's far view measured before (" << cache.string()
                  << ")\n";
        return ParseResults(cached.substr(stamp.size()));
    }
    std::cout << "viewing the proxy index of " << scale.tiles << " tiles (once; kept) ..."
              << std::endl;
    const Results proxy = RunViewer(self, proxyIndex, image, scale.tiles, false);
    std::ostringstream text;
    text << stamp << std::setprecision(10);
    for (const auto& [key, value] : proxy) {
        text << "result " << key << ' ' << value << '\n';
    }
    std::ofstream(cache, std::ios::binary) << text.str();
    return proxy;
}
// The same view of an index that names nothing: the viewer's own memory and first frame.
Results EmptyView(const fs::path& self, const fs::path& dataRoot, const Scale& scale) {
    const fs::path empty = dataRoot / "empty-index.osgb";
    const osg::ref_ptr<osg::MatrixTransform> nothing = new osg::MatrixTransform;
    if (!osgDB::writeNodeFile(*nothing, empty.string())) {
        return {};
    }
    std::cout << "  viewing an index of nothing, for the viewer's own share ..." << std::endl;
    return RunViewer(self, empty, dataRoot / "empty-far.ppm", scale.tiles, false);
}

// Writes the overview index with the verdicts cached for the folder and any levels an earlier
// run left dropped first, so that the build checks every tile and builds every node.
IndexBuild FirstOverviewBuild(Exporter& exporter, const fs::path& folder, const fs::path& log) {
    if (ForgetVerdicts(folder)) {
        std::cout << "  (the verdicts cached for the block dropped first)" << std::endl;
    }
    for (const brindle::Problem& kept : brindle::RemoveOtherOverviews(folder)) {
        std::cout << "  (could not remove " << kept.path.string() << ")" << std::endl;
    }
    return Export(exporter, folder, "overview", false, log);
}

// Builds, views and walks the overview of one roots-only block; on the main block also the
// proxy and paged indexes, the empty scene and a re-run.
void MeasureScale(Exporter& exporter, const fs::path& self, const fs::path& dataRoot, Scale& scale,
                  Measurements& m) {
    const fs::path folder = scale.block.folder;
    const fs::path log = dataRoot / (folder.filename().string() + "-export.log");
    const bool isMain = scale.tiles == m.mainTiles;
    std::cout << "block of " << scale.tiles << " tiles:" << std::endl;
    fs::remove(folder / "root.osgb");
    if (isMain) {
        if (!fs::exists(folder / "proxy.osgb")) {
            std::cout << "  writing the proxy index ..." << std::endl;
            if (Export(exporter, folder, "proxy", false, log).exitCode == 0) {
                KeepIndexAs(folder, "proxy.osgb");
            }
        }
        std::cout << "  timing the paged index, no verdict cache ..." << std::endl;
        scale.paged = TimePagedIndex(exporter, folder, log);
    }
    const fs::path proxyImage = dataRoot / (folder.filename().string() + "-proxy-far.ppm");
    if (isMain && fs::exists(folder / "proxy.osgb")) {
        m.proxy = ProxyView(self, dataRoot, scale, folder / "proxy.osgb", proxyImage);
        m.proxyViewed = true;
        m.empty = EmptyView(self, dataRoot, scale);
        m.emptyViewed = m.empty.count("first_frame.seconds") > 0;
    }
    std::cout << "  timing the overview index, first build ..." << std::endl;
    scale.overview = FirstOverviewBuild(exporter, folder, log);
    if (scale.overview.exitCode == kExitUsage && !exporter.library) {
        std::cout << "  brindle-export does not take --index=overview: both kinds are "
                  << "timed through the export library from here on" << std::endl;
        exporter.library = true;
        if (isMain) {
            fs::remove(folder / "paged.osgb");
            scale.paged = TimePagedIndex(exporter, folder, log);
        }
        scale.overview = FirstOverviewBuild(exporter, folder, log);
    }
    if (scale.overview.exitCode != 0) {
        std::cout << "  the exporter did not write the overview index (status "
                  << scale.overview.exitCode << "; see " << log.string() << ")\n";
        return;
    }
    if (isMain) {
        TouchTiles(scale.block);
        std::cout << "  timing the overview index again, 1% of the tiles touched ..." << std::endl;
        scale.rerun = Export(exporter, folder, "overview", false, log);
    }
    scale.bytes = MeasureBlock(folder);
    scale.walk = WalkOverview(folder / "root.osgb");
    std::cout << "  viewing the overview index ..." << std::endl;
    const fs::path image = dataRoot / (folder.filename().string() + "-overview-far.ppm");
    scale.far = RunViewer(self, folder / "root.osgb", image, scale.tiles, true);
    scale.viewed = true;
    std::cout << "  overview built in " << scale.overview.seconds
              << " s; far view: " << scale.far.at("far.tile_files") << " tile files, "
              << scale.far.at("far.overview_files") << " overview files, peak anonymous "
              << scale.far.at("far.anon_peak_mib") << " MB; " << scale.walk.tiles.size()
              << " tiles reached by the walk" << std::endl;
    if (isMain && m.proxyViewed) {
        m.psnr = BlockPsnr(PpmPixels(proxyImage), PpmPixels(image), m.blockShare);
        double unlitShare = 0;
        m.unlitPsnr = BlockPsnr(PpmPixels(UnlitPicture(proxyImage)), PpmPixels(UnlitPicture(image)),
                                unlitShare);
        m.psnrMeasured = true;
    }
}

// Times the paged and overview indexes of the block whose finer levels are written and weighs
// its pyramid.
LevelledRun MeasureLevelled(Exporter& exporter, const fs::path& dataRoot,
                            const OverviewBlock& block, bool full) {
    LevelledRun run;
    run.tiles = block.options.tileCount;
    run.full = full;
    const fs::path folder = block.folder;
    const fs::path log = dataRoot / (folder.filename().string() + "-export.log");
    std::cout << "block of " << run.tiles << " tiles with written finer levels:" << std::endl;
    fs::remove(folder / "root.osgb");
    fs::remove(folder / "paged.osgb");
    std::cout << "  timing the paged index, no verdict cache ..." << std::endl;
    run.paged = TimePagedIndex(exporter, folder, log);
    std::cout << "  timing the overview index, first build ..." << std::endl;
    run.overview = FirstOverviewBuild(exporter, folder, log);
    if (run.overview.exitCode != 0) {
        std::cout << "  the exporter did not write the overview index (status "
                  << run.overview.exitCode << "; see " << log.string() << ")\n";
        return run;
    }
    run.bytes = MeasureBlock(folder);
    std::cout << "  overview built in " << std::setprecision(2) << run.overview.seconds << " s"
              << std::endl;
    return run;
}

int Compare(const fs::path& self, const fs::path& dataFolder, const std::vector<int>& sizes,
            int levelledTiles) {
    // Absolute, as the verdict cache names folders.
    const fs::path dataRoot = fs::absolute(dataFolder);
    fs::create_directories(dataRoot);
    Measurements m;
    m.mainTiles = sizes[1];
    m.largestFullTiles = kFullSizes.back();
    m.mainFullTiles = kFullSizes[1];
    for (const int tiles : sizes) {
        Scale scale;
        scale.tiles = tiles;
        scale.block = PrepareOverviewBlock(dataRoot, tiles, 2, std::cout);
        m.scales.push_back(std::move(scale));
    }
    const OverviewBlock levelled = PrepareLevelledBlock(dataRoot, levelledTiles, 2, std::cout);

    Exporter exporter{self, false};
    for (Scale& scale : m.scales) {
        MeasureScale(exporter, self, dataRoot, scale, m);
    }
    m.levelled = MeasureLevelled(exporter, dataRoot, levelled, levelledTiles >= kLevelledTiles);
    return ReportTargets(m) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Compares the overview index with the proxy and paged indexes."};
    fs::path dataRoot = BRINDLE_OVERVIEW_DATA_DIR;
    bool quick = std::getenv("BRINDLE_BENCH_QUICK") != nullptr;
    bool generateOnly = false;
    int levelledTiles = 0;
    std::vector<int> chosenSizes;
    ViewSettings view;
    std::vector<std::string> exportArgs;
    bool noCache = false;
    app.add_option("--export", exportArgs, "(internal) KIND FOLDER: write the folder's index")
        ->expected(2);
    app.add_flag("--no-cache", noCache, "(internal) with --export: no verdict cache");
    app.add_option("--data", dataRoot, "folder for the generated blocks (kept between runs)");
    app.add_flag("--quick", quick,
                 "blocks of 100, 400 and 1,600 tiles, and 36 with finer levels; also "
                 "BRINDLE_BENCH_QUICK");
    app.add_option("--levelled-tiles", levelledTiles,
                   "tiles in the block with written finer levels (324 unless --quick)")
        ->check(CLI::Range(1, 10000));
    app.add_option("--sizes", chosenSizes,
                   "roots-only blocks, smallest first, comma-separated (the second is compared "
                   "with the proxy index): a partial run")
        ->delimiter(',')
        ->check(CLI::Range(1, 998001));
    app.add_flag("--generate-only", generateOnly, "write the blocks and stop");
    app.add_option("--view", view.index, "(internal) view this index and report");
    app.add_option("--image", view.image, "(internal) where the far view's picture goes");
    app.add_option("--spawned-at", view.spawnedAtNs, "(internal) steady clock at the start");
    app.add_option("--tiles", view.tileCount, "(internal) tiles in the viewed block");
    app.add_flag("--close-samples", view.closeSamples, "(internal) come close to sample tiles");
    CLI11_PARSE(app, argc, argv);
    const std::vector<int>& sizes = !chosenSizes.empty() ? chosenSizes
                                    : quick              ? kQuickSizes
                                                         : kFullSizes;
    if (sizes.size() < 2 || !std::is_sorted(sizes.begin(), sizes.end())) {
        std::cerr << "brindle-overview-bench: --sizes takes two or more sizes, smallest first\n";
        return 2;
    }
    if (levelledTiles == 0) {
        levelledTiles = quick ? kQuickLevelledTiles : kLevelledTiles;
    }

    try {
        if (!view.index.empty()) {
            return ViewIndex(view);
        }
        if (exportArgs.size() == 2) {
            return ExportWithLibrary(exportArgs[0], exportArgs[1], noCache);
        }
        if (generateOnly) {
            for (const int tiles : sizes) {
                PrepareOverviewBlock(dataRoot, tiles, 2, std::cout);
            }
            PrepareLevelledBlock(dataRoot, levelledTiles, 2, std::cout);
            return 0;
        }
        return Compare(fs::canonical("/proc/self/exe"), dataRoot, sizes, levelledTiles);
    } catch (const std::exception& e) {
        std::cerr << "brindle-overview-bench: " << e.what() << '\n';
        return 2;
    }
}
