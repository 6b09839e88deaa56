#pragma once

#include <filesystem>
#include <string>

namespace brindle {

// `folder / name`, the same path, built from one string: the library's operator/ splits and
// copies the folder's every component again, many times the cost of the string itself, and a
// block's scan makes two such paths a tile. Anything but a plain relative name under a folder
// with a name of its own goes through operator/ as it is.
inline std::filesystem::path JoinPath(const std::filesystem::path& folder,
                                      const std::filesystem::path& name) {
    if (name.empty() || name.has_root_path() || !folder.has_filename())
        return folder / name;
    std::filesystem::path::string_type joined;
    joined.reserve(folder.native().size() + 1 + name.native().size());
    joined += folder.native();
    joined += std::filesystem::path::preferred_separator;
    joined += name.native();
    return std::filesystem::path(std::move(joined));
}

} // namespace brindle
