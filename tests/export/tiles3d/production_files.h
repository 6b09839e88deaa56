#pragma once

#include <filesystem>
#include <vector>

namespace brindle::test {

// A production-shaped tile file, as the converting workers meet them: a paged root whose inline
// child is its coarsest level (a textured mesh without normals, its texture embedded as JPEG)
// and whose ranges name finer files written beside it, in pixels on screen; beside it, under a
// moved transform, a paged node switching at a distance, with a user-defined centre and
// radius, naming a finer file in a subfolder. Names in capitals and in Chinese.
struct ProductionTile {
    std::filesystem::path root;
    // The finer files, as written, in the order the root names them.
    struct Finer {
        std::filesystem::path file;
        bool pixels = false;
        double switchAt = 0;
    };
    std::vector<Finer> finer;
};
ProductionTile WriteProductionTile(const std::filesystem::path& folder);

} // namespace brindle::test
