#pragma once
// What the overview benchmark's parts share: the picture's size, paths as a viewer resolves
// them, and the figures a viewing process reports.
#include "bench/viewer_results.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace brindle::bench {

using Clock = std::chrono::steady_clock;

constexpr int kWidthPx = 1920;
constexpr int kHeightPx = 1080;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline std::string ForwardSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The file a read names, its ".." resolved: the overview's files name the tiles relative to
// the overview's folder.
inline std::string NormalPath(const std::string& path) {
    return std::filesystem::path(ForwardSlashes(path)).lexically_normal().generic_string();
}

inline bool IsOverviewFile(const std::string& path) {
    return path.find("brindle-overview-") != std::string::npos;
}

inline std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace brindle::bench
