// A tile-check worker whose summaries fail as a tile's name asks: "crash" in its path makes
// the summary crash, "hungry" makes it exhaust its memory ceiling; any other tile is
// summarised as the real worker does it.
#include "export/worker/tile_check_worker.h"

#include <csignal>
#include <cstring>
#include <vector>

namespace {

brindle::SceneSummary FailingSummary(const osg::Node& scene, const brindle::CheckRequest& request) {
    // Raised, not made by a bad access, which a sanitized build would catch before it.
    if (request.path.find("crash") != std::string::npos)
        std::raise(SIGSEGV);
    if (request.path.find("hungry") != std::string::npos) {
        std::vector<std::vector<char>> held;
        for (;;)
            held.emplace_back(std::size_t{64} << 20, '\1');
    }
    return brindle::SummariseScene(scene);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--serve") != 0)
        return 2;
    return brindle::ServeTileChecks(FailingSummary);
}
