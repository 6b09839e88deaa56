#pragma once
// How the overview benchmark writes the indexes it compares: timed runs of the exporter.
#include "bench/overview_block.h"

#include <filesystem>
#include <string>

namespace brindle::bench {

struct IndexBuild {
    bool ran = false;
    double seconds = 0;
    int exitCode = -1;
};

// The exporter's status for a command line it does not take.
constexpr int kExitUsage = 2;

// How the indexes are written: by brindle-export, or, where its command line does not offer
// the overview index yet, by this program calling the export library as brindle-export does
// (its `--export` mode), for both kinds alike.
struct Exporter {
    std::filesystem::path self;
    bool library = false;
};

// Writes the folder's index of `kind` with two jobs, the verdict cache used unless `noCache`,
// the exporter's output going to `log`.
IndexBuild Export(const Exporter& exporter, const std::filesystem::path& folder,
                  const std::string& kind, bool noCache, const std::filesystem::path& log);

// The `--export` mode: the folder's index of `kind` written as brindle-export writes it with
// two jobs, the verdict cache used unless `noCache`.
int ExportWithLibrary(const std::string& kind, const std::filesystem::path& folder, bool noCache);

// Moves the folder's root.osgb aside as `name`, so that the next export finds no index of
// another kind in its way and the viewer can open each. Throws std::runtime_error when it
// cannot.
void KeepIndexAs(const std::filesystem::path& folder, const std::string& name);

// Drops the verdicts cached for the folder, so that a build checks every tile; true when
// there were some.
bool ForgetVerdicts(const std::filesystem::path& folder);

// Marks every hundredth tile changed, as a survey's touched-up tiles are.
void TouchTiles(const OverviewBlock& block);

// Writes the paged index without the verdict cache, timed, and keeps it as paged.osgb.
IndexBuild TimePagedIndex(const Exporter& exporter, const std::filesystem::path& folder,
                          const std::filesystem::path& log);

} // namespace brindle::bench
