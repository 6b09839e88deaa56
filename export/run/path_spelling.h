#pragma once

#include "export/export_report.h"

#include <cstddef>
#include <filesystem>
#include <vector>

namespace brindle {

// A listed folder as the run exports it, and as the user spelled it.
struct Spelling {
    std::filesystem::path normal;
    std::filesystem::path spelled;
};

// The run exports each listed folder under its one normal path (ListedFolderPath); its reports
// name the folders, and the files within them, as the user spelled them.
class ListedSpellings {
public:
    // Adds the next listed folder, as spelled (`spelled`) and as the run exports it (`normal`),
    // and the parent the spelling names, for the files a folder's layout reads beside it (a
    // production folder's metadata.xml).
    void addListing(const std::filesystem::path& spelled, const std::filesystem::path& normal);

    // The spelling of listed folder `i`, when there is one.
    const Spelling* listing(std::size_t i) const;

    // `path` as the user spelled the folder it lies in: by the longest listing or parent it lies
    // within, `own` (the listing a report is of) among them and winning a tie.
    std::filesystem::path spelled(const std::filesystem::path& path, const Spelling* own) const;

    // The paths of `report` as spelled(); its first listing is spelled where it is set, as that
    // listing was.
    void respell(FolderReport& report, const Spelling* own) const;

private:
    std::vector<Spelling> listings_; // per listed folder, in list order
    std::vector<Spelling> parents_;
};

} // namespace brindle
