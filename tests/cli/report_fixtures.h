#pragma once

#include "export/export_report.h"

#include <filesystem>
#include <string>

namespace brindle::test {

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A folder written with one entry, as the printers and the JSON report are given it.
inline FolderReport WrittenFolder(const std::string& name) {
    FolderReport folder;
    folder.folder = name;
    folder.indexFile = std::filesystem::path(name) / "root.osgb";
    folder.status = FolderStatus::Written;
    folder.entries = {"A\\root.osgb"};
    return folder;
}

} // namespace brindle::test
