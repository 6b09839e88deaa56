#include "export/worker/binary_scene_header.h"

#include <osgDB/DataTypes>
#include <osgDB/ObjectWrapper>
#include <osgDB/Registry>

#include <cstdint>
#include <cstring>
#include <optional>

namespace brindle {
namespace {

constexpr std::uint32_t Swapped(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xff00) | ((value << 8) & 0xff0000) | (value << 24);
}

// Reads a header's fields in the order the reader does, failing softly past the end.
class HeaderCursor {
public:
    explicit HeaderCursor(std::string_view bytes, bool swapped = false)
        : bytes_(bytes), swapped_(swapped) {}

    std::optional<std::uint32_t> number() {
        std::uint32_t value = 0;
        if (bytes_.size() - offset_ < sizeof value)
            return std::nullopt;
        std::memcpy(&value, bytes_.data() + offset_, sizeof value);
        offset_ += sizeof value;
        return swapped_ ? Swapped(value) : value;
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
    bool swapped_ = false;
};

// The text reader takes the first word, after any white space; the XML reader the first line.
bool StartsTextScene(std::string_view bytes) {
    const std::size_t word = bytes.find_first_not_of(" \t\r\n\v\f");
    if (word == std::string_view::npos)
        return false;
    const std::string_view rest = bytes.substr(word);
    return rest.substr(0, 6) == "#Ascii" &&
           (rest.size() == 6 ||
            std::string_view(" \t\r\n\v\f").find(rest[6]) != std::string_view::npos);
}

constexpr std::uint32_t kHasCustomDomains = 0x1;

// True for a compressor the reader has. Only the one the scene-graph library ships is asked
// for: the registry looks a name it lacks up as a plugin of that name and loads it, so a file
// naming "ivz" would load a whole other reader, and its libraries, into the process.
bool KnownCompressor(const std::string& name) {
    return name == "zlib" &&
           osgDB::Registry::instance()->getObjectWrapperManager()->findCompressor(name) != nullptr;
}

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

SceneFileHeader ReadSceneFileHeader(std::string_view bytes) {
    SceneFileHeader header;
    HeaderCursor magic(bytes);
    const std::optional<std::uint32_t> low = magic.number();
    const std::optional<std::uint32_t> high = magic.number();
    const bool native = low == OSG_HEADER_LOW && high == OSG_HEADER_HIGH;
    const bool swapped = low == Swapped(OSG_HEADER_LOW) && high == Swapped(OSG_HEADER_HIGH);
    if (!native && !swapped) {
        if (StartsTextScene(bytes))
            header.format = SceneFileHeader::Format::Text;
        else if (bytes.substr(0, 5) == "<?xml")
            header.format = SceneFileHeader::Format::Xml;
        return header;
    }
    header.format = SceneFileHeader::Format::Binary;
    HeaderCursor cursor(bytes, swapped);
    cursor.number();
    cursor.number();
    const std::optional<std::uint32_t> type = cursor.number();
    const std::optional<std::uint32_t> version = cursor.number();
    const std::optional<std::string> compressor =
        type && version ? CompressorName(cursor) : std::nullopt;
    header.version = version.value_or(0);
    if (!compressor) {
        header.cut = true;
        return header;
    }
    header.compressor = *compressor;
    header.compressorUnknown = *compressor != "0" && !KnownCompressor(*compressor);
    return header;
}

bool IsUncompressedBinaryFile(std::string_view bytes) {
    HeaderCursor header(bytes);
    if (header.number() != OSG_HEADER_LOW || header.number() != OSG_HEADER_HIGH)
        return false;
    if (!header.number() || !header.number()) // type and version
        return false;
    const std::optional<std::string> compressor = CompressorName(header);
    if (!compressor || *compressor == "0")
        return true;
    return !KnownCompressor(*compressor);
}

} // namespace brindle
