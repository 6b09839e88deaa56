#pragma once

#include "export/fs/regular_file.h"
#include "export/overview/overview_pyramid.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// How the levels an index names are found without parsing the index here.
struct IndexLevelsLookup {
    // The name of the levels' folder kept beside the index an earlier run wrote, while the
    // index is as it was then (`index`: its facts now); empty otherwise.
    std::function<std::string(const FileFacts& index)> recordedLevels;
    // The index's entry names, as a worker lists them; none when they could not be listed.
    std::function<std::optional<std::vector<std::string>>(const std::filesystem::path& index)>
        listEntries;
};

// The folder of overview levels of ours inside `listed` that its index (`indexFile`) names,
// which a re-run takes its unchanged nodes from; empty when the index names none of ours. Not
// the newest folder of ours: a killed run may have left one half made.
//
// The index is never parsed here. The verdict cache keeps, beside the index a run wrote, the
// name of the levels it named; while the file keeps the stamp it had then (any write changes
// its change time), it names them still. Otherwise the index is listed by a worker, as the
// guard reads it, and only when a folder of ours is there to be named.
std::filesystem::path LevelsTheIndexNames(const std::filesystem::path& listed,
                                          const std::filesystem::path& indexFile,
                                          const IndexLevelsLookup& lookup);

// The earlier pyramid in the folder of ours the index names (`named`), with its manifest; none
// when it has no manifest of this layout, and then nothing is taken from it.
EarlierPyramid ReadEarlierPyramid(const std::filesystem::path& named);

} // namespace brindle
