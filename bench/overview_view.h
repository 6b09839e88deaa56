#pragma once
// The viewing process of the overview benchmark: opens an index in an offscreen viewer, as
// a user would, and reports what it read and how long it took.
#include "bench/overview_common.h"

#include <cstdint>
#include <filesystem>

namespace brindle::bench {

// A paged node asks for one child a cull, so a pyramid takes a few culls a level.
constexpr int kMaxCullPasses = 400;

struct ViewSettings {
    std::filesystem::path index;
    std::filesystem::path image; // the far view's pixels go here, as a binary PPM
    std::int64_t spawnedAtNs = 0;
    int tileCount = 0;
    bool closeSamples = false;
};

// Views the index as `settings` say, printing its figures as "result KEY VALUE" lines.
// Throws std::runtime_error when it cannot.
int ViewIndex(const ViewSettings& settings);

// Runs `self` (this program) to view `index` in a process of its own, timed from its spawning,
// and returns the figures it reports. Throws std::runtime_error when the viewing fails.
Results RunViewer(const std::filesystem::path& self, const std::filesystem::path& index,
                  const std::filesystem::path& image, int tileCount, bool closeSamples);

// Where the far view drawn unlit goes, beside `picture`.
std::filesystem::path UnlitPicture(const std::filesystem::path& picture);

} // namespace brindle::bench
