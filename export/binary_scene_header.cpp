#include "export/binary_scene_header.h"

#include <osgDB/DataTypes>
#include <osgDB/ObjectWrapper>
#include <osgDB/Registry>

#include <cstdint>
#include <cstring>
#include <optional>

namespace brindle {
namespace {

// Reads a header's fields in the order the reader does, failing softly past the end.
class HeaderCursor {
public:
    explicit HeaderCursor(std::string_view bytes) : bytes_(bytes) {}

    std::optional<std::uint32_t> number() {
        std::uint32_t value = 0;
        if (bytes_.size() - offset_ < sizeof value)
            return std::nullopt;
        std::memcpy(&value, bytes_.data() + offset_, sizeof value);
        offset_ += sizeof value;
        return value;
    }

    // A length, then that many bytes.
    std::optional<std::string> text() {
        const std::optional<std::uint32_t> length = number();
        if (!length || bytes_.size() - offset_ < *length)
            return std::nullopt;
        std::string value(bytes_.substr(offset_, *length));
        offset_ += *length;
        return value;
    }

private:
    std::string_view bytes_;
    std::size_t offset_ = 0;
};

constexpr std::uint32_t kHasCustomDomains = 0x1;

std::optional<std::string> CompressorName(HeaderCursor& header) {
    const std::optional<std::uint32_t> attributes = header.number();
    if (!attributes)
        return std::nullopt;
    if (*attributes & kHasCustomDomains) {
        const std::optional<std::uint32_t> domains = header.number();
        for (std::uint32_t i = 0; domains && i < *domains; ++i)
            if (!header.text() || !header.number()) // name and version
                return std::nullopt;
    }
    return header.text();
}

} // namespace

bool IsUncompressedBinaryFile(std::string_view bytes) {
    HeaderCursor header(bytes);
    if (header.number() != OSG_HEADER_LOW || header.number() != OSG_HEADER_HIGH)
        return false;
    if (!header.number() || !header.number()) // type and version
        return false;
    const std::optional<std::string> compressor = CompressorName(header);
    if (!compressor || *compressor == "0")
        return true;
    return osgDB::Registry::instance()->getObjectWrapperManager()->findCompressor(*compressor) ==
           nullptr;
}

} // namespace brindle
