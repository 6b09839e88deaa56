#pragma once

#include <filesystem>
#include <string>

namespace brindle {

// A path as text that crosses to another process or is compared as the reader compares names,
// and back: UTF-8 on Windows, the path's own bytes elsewhere.
inline std::string PathText(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.u8string();
#else
    return path.string();
#endif
}

inline std::filesystem::path PathOfText(const std::string& text) {
#ifdef _WIN32
    return std::filesystem::u8path(text);
#else
    return text;
#endif
}

} // namespace brindle
