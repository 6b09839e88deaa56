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

// Reverses the JSON report's escape of path bytes: each %XX is the byte XX.
inline std::string DecodePathBytes(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

} // namespace brindle::test
