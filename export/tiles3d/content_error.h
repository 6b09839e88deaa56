#pragma once

#include <system_error>

namespace brindle {

// Why a tile file's geometry gave no content. Both sides know it: the workers that convert
// files, and the run that reads their replies.
enum class ContentError {
    NoTriangles = 1, // its own level draws no triangle, or none that is whole and has area
    Capped,          // it holds more triangles, nodes or nesting than a content takes
    TooLarge,        // its content would not fit in one binary glTF file
    WriteFailed,     // the glTF writer failed, or its file could not be put in place
};
const std::error_category& ContentCategory();
std::error_code make_error_code(ContentError error);

} // namespace brindle

namespace std {
template <> struct is_error_code_enum<brindle::ContentError> : true_type {};
} // namespace std
