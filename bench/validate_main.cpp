// brindle-bench-validate: what an exporter without worker processes would be, as a program of
// its own, for the bench to time against brindle-export from the outside as a whole process.
// It starts, sets up the validator (loading the scene-graph plugin), lists each folder's
// subfolders as the exporter does, checks every tile's root.osgb in this process on a pool of
// threads, and writes each folder's proxy index with the exporter's own writer. It prints how
// many tiles it checked and how many loaded; it exits 1 when an index cannot be written.
#include "bench/address_space_ceiling.h"
#include "bench/in_process_validation.h"
#include "export/index/index_graph.h"
#include "export/index/index_writer.h"
#include "export/scan/subfolder_scan.h"
#include "export/system/heap_reuse.h"

#include <CLI/CLI.hpp>

#include <osg/Notify>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;

struct FolderTiles {
    fs::path folder;
    std::vector<fs::path> subfolders;
    std::size_t firstRequest = 0; // where its subfolders' requests start
};

// The proxy entries of the subfolders whose tile loads, in the listing's order.
std::vector<std::string> EntriesOf(const FolderTiles& tiles,
                                   const std::vector<brindle::CheckVerdict>& verdicts) {
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < tiles.subfolders.size(); ++i) {
        if (verdicts[tiles.firstRequest + i] != brindle::CheckVerdict::Loads) {
            continue;
        }
        if (const auto name = brindle::NameText(tiles.subfolders[i].filename())) {
            entries.push_back(brindle::ProxyEntryFor(*name));
        }
    }
    return entries;
}

int Validate(const std::vector<fs::path>& folders, unsigned threads) {
    const brindle::bench::ScopedAddressSpaceCeiling ceiling(threads *
                                                            brindle::bench::kCeilingPerThread);
    const brindle::TileValidator validator;

    std::vector<FolderTiles> listed;
    std::vector<brindle::CheckRequest> requests;
    for (const fs::path& folder : folders) {
        FolderTiles tiles{folder, brindle::ListSubfolders(folder), requests.size()};
        for (const fs::path& subfolder : tiles.subfolders) {
            requests.push_back(brindle::bench::TileRequestFor(subfolder));
        }
        listed.push_back(std::move(tiles));
    }
    const std::vector<brindle::CheckVerdict> verdicts =
        brindle::bench::CheckOnThreads(validator, requests, threads);

    std::size_t loaded = 0;
    brindle::IndexGraph graph;
    for (const FolderTiles& tiles : listed) {
        const std::vector<std::string> entries = EntriesOf(tiles, verdicts);
        loaded += entries.size();
        graph.setEntries(entries);
        const brindle::IndexWrite write =
            brindle::WriteIndexFile(graph.root(), tiles.folder / "root.osgb");
        if (write.error) {
            std::cerr << "brindle-bench-validate: cannot write the index of " << tiles.folder
                      << ": " << write.error->cause.message() << "\n";
            return 1;
        }
    }
    std::cout << requests.size() << " tiles checked, " << loaded << " load\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Checks tiles on threads in this process and writes each folder's index."};
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<fs::path> folders;
    app.add_option("-j", threads, "Threads checking tiles")
        ->capture_default_str()
        ->check(CLI::Range(1u, 256u));
    app.add_option("folders", folders, "Block folders")->required();
    CLI11_PARSE(app, argc, argv);
    // As the exporter's workers keep theirs: one tile's freed buffers serve the next.
    brindle::KeepFreedMemoryForReuse();
    // Broken tiles are there to fail; the reader's words about them would only fill the log.
    osg::setNotifyLevel(osg::FATAL);
    return Validate(folders, threads);
}
