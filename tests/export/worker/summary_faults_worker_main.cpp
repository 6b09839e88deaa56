// A tile-check worker whose summaries and conversions fail as a tile's name asks: "crash" in
// its path makes the summary or the content crash, "hungry" makes it exhaust its memory
// ceiling, and "sleepy" makes a content never end; any other tile is summarised and converted
// as the real worker does it.
#include "export/worker/tile_check_worker.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

namespace {

void FailAsNamed(const brindle::CheckRequest& request) {
    // Raised, not made by a bad access, which a sanitized build would catch before it.
    if (request.path.find("crash") != std::string::npos)
        std::raise(SIGSEGV);
    if (request.path.find("hungry") != std::string::npos) {
        std::vector<std::vector<char>> held;
        for (;;)
            held.emplace_back(std::size_t{64} << 20, '\1');
    }
}

brindle::SceneSummary FailingSummary(const osg::Node& scene, const brindle::CheckRequest& request) {
    FailAsNamed(request);
    return brindle::SummariseScene(scene);
}

brindle::Result<brindle::TileContent> FailingContent(const osg::Node& scene,
                                                     const brindle::CheckRequest& request) {
    FailAsNamed(request);
    if (request.path.find("sleepy") != std::string::npos)
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    brindle::ContentOptions options;
    options.quantize = request.quantize;
    return brindle::MakeTileContent(scene, options);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--serve") != 0)
        return 2;
    return brindle::ServeTileChecks(FailingSummary, FailingContent);
}
