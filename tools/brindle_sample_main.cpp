// brindle-sample: writes a sample block of tiles for trying out and benchmarking the exporter.
#include "tools/sample_block.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"Writes a sample block: tile folders with root.osgb files, a report.txt and "
                 "a few deliberately broken folders."};
    std::string dir;
    brindle::SampleBlockOptions options;
    app.add_option("DIR", dir, "Folder to write the block into (created; must be empty)")
        ->required();
    app.add_option("--tiles", options.tileCount, "Number of valid tiles")
        ->capture_default_str()
        ->check(CLI::Range(0, 998001));
    app.add_option("--seed", options.seed, "Seed for the pseudo-random content")
        ->capture_default_str();
    app.add_flag("--jpeg", options.embedJpeg, "Embed textures as JPEG instead of raw pixels");
    app.add_flag("--paged-root", options.pagedRoot,
                 "Make each tile's root a paged node over its mesh, as production tiles are");
    app.add_option("--written-levels", options.writtenLevels,
                   "With --paged-root: finer levels written below each root, each of twice the "
                   "resolution")
        ->capture_default_str()
        ->check(CLI::Range(0, 8));
    app.add_flag("--light-in-texture", options.lightInTexture,
                 "Meshes without normals, the light baked into the textures, as photogrammetry "
                 "tiles come");
    app.add_option("--min-texture", options.minTexturePx, "Smallest texture edge in pixels")
        ->capture_default_str()
        ->check(CLI::Range(1, 8192));
    app.add_option("--max-texture", options.maxTexturePx, "Largest texture edge in pixels")
        ->capture_default_str()
        ->check(CLI::Range(1, 8192));
    CLI11_PARSE(app, argc, argv);

    try {
        const brindle::SampleBlock block = brindle::WriteSampleBlock(dir, options);
        std::cout << "Wrote " << block.validTiles.size() << " tiles and "
                  << block.invalidTiles.size() << " invalid folders to " << block.folder.string()
                  << (options.embedJpeg ? " (JPEG textures)" : " (raw textures)") << "\n";
    } catch (const std::exception& e) {
        std::cerr << "brindle-sample: cannot write sample block in " << dir << ": " << e.what()
                  << "\n";
        return 1;
    }
    return 0;
}
