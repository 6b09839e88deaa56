#include "export/worker/binary_scene_header.h"

#include <osgDB/DataTypes>
#include <osgDB/ObjectWrapper>
#include <osgDB/Registry>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace brindle {
namespace {

std::string Word(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

// The start of a binary scene file in this machine's (little-endian) order: the format's two
// magic numbers, a scene's type, the library's version, no custom domains, and the name of
// the compressor its content is packed with.
std::string HeaderNaming(const std::string& compressor) {
    return Word(OSG_HEADER_LOW) + Word(OSG_HEADER_HIGH) + Word(1) + Word(161) + Word(0) +
           Word(static_cast<std::uint32_t>(compressor.size())) + compressor;
}

bool PluginLoaded(const std::string& extension) {
    osgDB::Registry& registry = *osgDB::Registry::instance();
    return registry.getLibrary(registry.createLibraryNameForExtension(extension)) != nullptr;
}

// A file may name any compressor; the registry looks one it lacks up as a plugin of that name
// and loads it. Telling what the header says loads nothing: "ivz" is the name of another
// format's reader, whose plugin (and the libraries behind it) would come into the process.
TEST(SceneFileHeader, ACompressorOtherThanTheReadersOwnIsUnknownAndLoadsNoPlugin) {
    ASSERT_FALSE(PluginLoaded("ivz"));
    const SceneFileHeader named = ReadSceneFileHeader(HeaderNaming("ivz"));
    EXPECT_EQ(named.format, SceneFileHeader::Format::Binary);
    EXPECT_EQ(named.compressor, "ivz");
    EXPECT_TRUE(named.compressorUnknown);
    EXPECT_TRUE(IsUncompressedBinaryFile(HeaderNaming("ivz")));
    EXPECT_FALSE(PluginLoaded("ivz"));
}

TEST(SceneFileHeader, TheReadersOwnCompressorAndNoneAreKnown) {
    const SceneFileHeader zlib = ReadSceneFileHeader(HeaderNaming("zlib"));
    EXPECT_FALSE(zlib.compressorUnknown);
    EXPECT_FALSE(IsUncompressedBinaryFile(HeaderNaming("zlib")));
    const SceneFileHeader none = ReadSceneFileHeader(HeaderNaming("0"));
    EXPECT_FALSE(none.compressorUnknown);
    EXPECT_TRUE(IsUncompressedBinaryFile(HeaderNaming("0")));
}

} // namespace
} // namespace brindle
