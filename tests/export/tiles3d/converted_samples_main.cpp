// Converts a production-shaped tile's files through the converting workers, as a tileset's walk
// does, into a folder of binary glTF files for the glTF validator to check: the root (two
// meshes, JPEG textures, no normals) plain, quantised, compressed and both, each finer file,
// and the root (also compressed) and the finest file as b3dm (the validator checks the glb
// inside).
// Usage: tiles3d_converted_samples DIR
#include "production_files.h"

#include "export/tiles3d/file_conversion.h"

#include <iostream>

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc != 2) {
        std::cerr << "usage: tiles3d_converted_samples DIR\n";
        return 2;
    }
    const fs::path dir = argv[1];
    fs::remove_all(dir);
    const brindle::test::ProductionTile tile = brindle::test::WriteProductionTile(dir / "tiles");
    fs::create_directories(dir / "glb");
    brindle::CheckSettings settings;
    settings.workerProgram = BRINDLE_TILE_CHECK_PROGRAM;
    settings.jobs = 2;
    auto pool = brindle::FileConversions::Start(settings);
    if (!pool) {
        std::cerr << "no workers: " << pool.error().message() << "\n";
        return 1;
    }
    std::vector<brindle::ConversionJob> jobs = {
        {tile.root, dir / "glb" / "root.glb", false},
        {tile.root, dir / "glb" / "root_q.glb", true},
        {tile.root, dir / "glb" / "root_m.glb", false, false, true},
        {tile.root, dir / "glb" / "root_qm.glb", true, false, true}};
    for (std::size_t i = 0; i < tile.finer.size(); ++i)
        jobs.push_back(
            {tile.finer[i].file, dir / "glb" / ("finer" + std::to_string(i) + ".glb"), i % 2 == 1});
    jobs.push_back({tile.root, dir / "glb" / "root.b3dm", false, true});
    jobs.push_back({tile.root, dir / "glb" / "root_m.b3dm", false, true, true});
    if (!tile.finer.empty())
        jobs.push_back({tile.finer.back().file, dir / "glb" / "finest_q.b3dm", true, true});
    std::atomic<int> failed{0};
    for (const brindle::ConversionJob& job : jobs)
        (*pool)->convert(job,
                         [&](const brindle::ConversionJob& done, brindle::ConvertedFile converted) {
                             if (!converted.hasContent()) {
                                 std::cerr << done.file << ": no content\n";
                                 ++failed;
                             }
                         });
    (*pool)->wait();
    return failed == 0 ? 0 : 1;
}
