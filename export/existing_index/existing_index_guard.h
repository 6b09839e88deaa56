#pragma once

#include "export/cache/verdict_cache.h"
#include "export/export_report.h"
#include "export/fs/regular_file.h"
#include "export/isolation/check_settings.h"
#include "export/isolation/worker_process.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// What earlier runs found of a folder's own root.osgb, as the guard asks it and keeps it:
// a verdict on the file as it is `now`, when one holds; and the verdict a worker gave on the
// file as it was `before` it looked.
class OwnIndexMemory {
public:
    virtual std::optional<ExistingFileKind> ownIndex(const FileFacts& now) = 0;
    virtual void keepOwnIndex(const FileFacts& before, ExistingFileKind verdict) = 0;
    // The name of the folder of overview levels the index, as it is `now`, names: when an
    // earlier run wrote it and nothing has touched it since. Empty otherwise.
    virtual std::string writtenLevels(const FileFacts& now) = 0;

protected:
    ~OwnIndexMemory() = default;
};

// Why the folder's existing root.osgb (`indexFile`) must not be replaced by a new index, if
// it must not: it is scene data (a tile folder listed by mistake) or it cannot be read. Only
// an index is replaced; a missing file, or a folder in the way (which the write fails on, and
// says why), is nothing to keep. The file is parsed by `inspector` under `settings`, unless
// `verdicts` knows it unchanged; what the worker finds of its bytes is kept there.
std::optional<Problem> ReasonToKeepExisting(const std::filesystem::path& indexFile,
                                            WorkerProcess& inspector, OwnIndexMemory& verdicts,
                                            const CheckSettings& settings);

// The names the folder's existing root.osgb (`indexFile`) gives its entries, as a worker
// (`inspector`, under `settings`) reads them: only when it is an index. What the worker found
// the file to be is kept in `verdicts`, as ReasonToKeepExisting keeps it, so that the file is
// parsed once. Nothing when there is no such regular file, or it is no index or cannot be read.
std::optional<std::vector<std::string>> ExistingIndexNames(const std::filesystem::path& indexFile,
                                                           WorkerProcess& inspector,
                                                           OwnIndexMemory& verdicts,
                                                           const CheckSettings& settings);

} // namespace brindle
