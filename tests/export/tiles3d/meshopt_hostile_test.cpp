// The compressor reads a file as the workers are given it: damaged containers and JSON of every
// wrong shape give no file (and never a crash under the library's assertions), whatever
// comes out is a whole file.
#include "content_scenes.h"
#include "meshopt_truth.h"

#include "export/tiles3d/meshopt_glb.h"
#include "export/tiles3d/tile_content.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>

namespace brindle {
namespace {

using nlohmann::json;
using test::GlbFile;

std::string SmallGlb() {
    const Result<TileContent> content = MakeTileContent(*test::EveryPrimitiveKind());
    EXPECT_TRUE(content.ok());
    return content.ok() ? content->glb : std::string();
}

void PutU32(std::string& bytes, std::size_t at, std::uint32_t value) {
    std::memcpy(&bytes[at], &value, 4);
}

// A file that comes out is whole: its header names its length and its chunks are within it.
void ExpectNoneOrWhole(const std::string& glb, const std::string& what) {
    const std::optional<std::string> out = CompressGlbBuffers(glb);
    if (out) {
        EXPECT_TRUE(test::SplitGlbFile(*out)) << what;
    }
}

TEST(MeshoptGlbHostile, EveryTruncationGivesNone) {
    const std::string glb = SmallGlb();
    ASSERT_TRUE(CompressGlbBuffers(glb));
    for (std::size_t length = 0; length < glb.size(); ++length) {
        std::string cut = glb.substr(0, length);
        EXPECT_FALSE(CompressGlbBuffers(cut)) << length;
        // With the header's length made to agree, the chunks' lengths run past the end.
        if (length >= 12) {
            PutU32(cut, 8, static_cast<std::uint32_t>(length));
            EXPECT_FALSE(CompressGlbBuffers(cut)) << length << ", its length made to agree";
        }
    }
}

TEST(MeshoptGlbHostile, DamagedBytesGiveNoneOrAWholeFile) {
    const std::string glb = SmallGlb();
    ASSERT_FALSE(glb.empty());
    // Each byte of the headers and the JSON, turned to a few values a parser treats apart.
    const std::size_t binAt = 20 + [&] {
        std::uint32_t length;
        std::memcpy(&length, glb.data() + 12, 4);
        return length;
    }();
    for (std::size_t at = 0; at < binAt + 8; ++at)
        for (const char value : {'\0', '"', '9', '-', '{', '\xff'}) {
            std::string damaged = glb;
            damaged[at] = value;
            ExpectNoneOrWhole(damaged, "byte " + std::to_string(at));
        }
    // Runs of random bytes anywhere, from a fixed seed.
    std::mt19937 random(36);
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = glb;
        const std::size_t at = random() % damaged.size();
        const std::size_t run = 1 + random() % 8;
        for (std::size_t i = at; i < std::min(damaged.size(), at + run); ++i)
            damaged[i] = static_cast<char>(random());
        ExpectNoneOrWhole(damaged, "round " + std::to_string(round));
    }
}

TEST(MeshoptGlbHostile, JsonOfTheWrongShapeGivesNone) {
    const std::optional<GlbFile> good = test::SplitGlbFile(SmallGlb());
    ASSERT_TRUE(good);
    ASSERT_TRUE(CompressGlbBuffers(test::JoinGlbFile(*good)));
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
    const std::vector<std::pair<const char*, std::function<void(json&)>>> cases = {
        {"not an object",
         [](json& g) {
             g = json::array({1, 2});
         }},
        {"a view past its buffer",
         [](json& g) {
             g["bufferViews"][0]["byteLength"] = g["buffers"][0]["byteLength"];
             g["bufferViews"][0]["byteOffset"] = 4;
         }},
        {"a view whose end wraps around",
         [&](json& g) { g["bufferViews"][0]["byteOffset"] = huge; }},
        {"a negative offset", [](json& g) { g["bufferViews"][0]["byteOffset"] = -4; }},
        {"a fractional length", [](json& g) { g["bufferViews"][0]["byteLength"] = 4.5; }},
        {"a view of another buffer", [](json& g) { g["bufferViews"][0]["buffer"] = 1; }},
        {"a view of no buffer", [](json& g) { g["bufferViews"][0].erase("buffer"); }},
        {"a buffer longer than the binary chunk",
         [](json& g) { g["buffers"][0]["byteLength"] = 1u << 30; }},
        {"an external buffer", [](json& g) { g["buffers"][0]["uri"] = "data.bin"; }},
        {"two buffers", [](json& g) { g["buffers"].push_back(g["buffers"][0]); }},
        {"buffers as an object", [](json& g) { g["buffers"] = json::object(); }},
        {"an accessor of no view", [](json& g) { g["accessors"][0]["bufferView"] = 999; }},
        {"an accessor's count as text", [](json& g) { g["accessors"][0]["count"] = "12"; }},
        {"an attribute of no accessor",
         [](json& g) { g["meshes"][0]["primitives"][0]["attributes"]["POSITION"] = 999; }},
        {"indices of no accessor",
         [](json& g) { g["meshes"][0]["primitives"][0]["indices"] = -1; }},
        {"attributes as a list",
         [](json& g) { g["meshes"][0]["primitives"][0]["attributes"] = json::array({0}); }},
        {"meshes as an object", [](json& g) { g["meshes"] = json::object(); }},
        {"a primitive as a number", [](json& g) { g["meshes"][0]["primitives"][0] = 3; }},
        {"an image of no view",
         [](json& g) {
             g["images"] = {{{"bufferView", 999}}};
         }},
        {"a view's extensions as text",
         [](json& g) {
             const std::size_t view = g["accessors"][0]["bufferView"];
             g["bufferViews"][view]["extensions"] = "none";
         }},
        {"extension names as an object", [](json& g) { g["extensionsUsed"] = json::object(); }},
    };
    for (const auto& [what, damage] : cases) {
        GlbFile file = *good;
        damage(file.gltf);
        EXPECT_FALSE(CompressGlbBuffers(test::JoinGlbFile(file))) << what;
    }
}

TEST(MeshoptGlbHostile, AFileAlreadyCompressedOrWithoutJsonGivesNone) {
    const std::optional<std::string> once = CompressGlbBuffers(SmallGlb());
    ASSERT_TRUE(once);
    EXPECT_FALSE(CompressGlbBuffers(*once));
    std::optional<GlbFile> file = test::SplitGlbFile(SmallGlb());
    ASSERT_TRUE(file);
    std::string glb = test::JoinGlbFile(*file);
    glb.replace(20, 1, "["); // the JSON chunk no longer parses
    EXPECT_FALSE(CompressGlbBuffers(glb));
    EXPECT_FALSE(CompressGlbBuffers(""));
    EXPECT_FALSE(CompressGlbBuffers(std::string(4096, '\0')));
}

} // namespace
} // namespace brindle
