#include "bench/overview_export.h"

#include "bench/exporter_run.h"
#include "bench/overview_common.h"
#include "export/cache/verdict_cache.h"
#include "export/export_run.h"

#include <iomanip>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace brindle::bench {
namespace fs = std::filesystem;

IndexBuild Export(const Exporter& exporter, const fs::path& folder, const std::string& kind,
                  bool noCache, const fs::path& log) {
    std::vector<std::string> args = {"--index=" + kind, "--jobs", "2", "--quiet"};
    if (noCache) {
        args.emplace_back("--no-cache");
    }
    args.push_back(folder.string());
    if (!exporter.library) {
        const ExporterRun run = RunExporter(args, log);
        return {true, run.seconds, run.exitCode};
    }
    std::vector<std::string> command = {exporter.self.string(), "--export", kind, folder.string()};
    if (noCache) {
        command.emplace_back("--no-cache");
    }
    const Clock::time_point start = Clock::now();
    const int status = RunWithStartEnvironment(command, log);
    return {true, SecondsSince(start), status};
}

int ExportWithLibrary(const std::string& kind, const fs::path& folder, bool noCache) {
    brindle::ExportOptions options;
    options.jobs = 2;
    options.index = kind == "overview" ? brindle::IndexKind::Overview
                    : kind == "paged"  ? brindle::IndexKind::Paged
                                       : brindle::IndexKind::Proxy;
    if (!noCache) {
        options.verdictCache = brindle::DefaultVerdictCacheFolder();
    }
    return brindle::ExportFolderIndexes({folder}, options).succeeded() ? 0 : 1;
}

void KeepIndexAs(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    fs::rename(folder / "root.osgb", folder / name, ec);
    if (ec) {
        throw std::runtime_error("cannot move " + (folder / "root.osgb").string() + ": " +
                                 ec.message());
    }
}

bool ForgetVerdicts(const fs::path& folder) {
    std::error_code ec;
    return fs::remove(
        brindle::VerdictCacheFileFor(brindle::DefaultVerdictCacheFolder(), fs::absolute(folder)),
        ec);
}

void TouchTiles(const OverviewBlock& block) {
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < block.options.tileCount; i += 100) {
        fs::last_write_time(block.folder / OverviewTileName(block.options, i) / "root.osgb", now);
    }
}

IndexBuild TimePagedIndex(const Exporter& exporter, const fs::path& folder, const fs::path& log) {
    const IndexBuild paged = Export(exporter, folder, "paged", true, log);
    if (paged.exitCode == 0) {
        KeepIndexAs(folder, "paged.osgb");
    }
    std::cout << "  paged index written in " << std::fixed << std::setprecision(2) << paged.seconds
              << " s (status " << paged.exitCode << ')' << std::endl;
    return paged;
}

} // namespace brindle::bench
