#include "export/tiles3d/content_error.h"

#include <string>

namespace brindle {
namespace {

class ContentErrorCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "tile content"; }
    std::string message(int value) const override {
        switch (static_cast<ContentError>(value)) {
        case ContentError::NoTriangles:
            return "the tile's own level draws no whole triangle";
        case ContentError::Capped:
            return "the tile holds more triangles, nodes or nesting than a content takes";
        case ContentError::TooLarge:
            return "the tile's content does not fit in one binary glTF file";
        case ContentError::WriteFailed:
            return "the glTF writer failed";
        }
        return "unknown tile content error";
    }
};

} // namespace

const std::error_category& ContentCategory() {
    static const ContentErrorCategory category;
    return category;
}

std::error_code make_error_code(ContentError error) {
    return {static_cast<int>(error), ContentCategory()};
}

} // namespace brindle
