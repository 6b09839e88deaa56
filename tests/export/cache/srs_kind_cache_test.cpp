#include "export/cache/srs_kind_cache.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteText;
using Kinds = SrsKindCache::Kinds;

constexpr char kLibrary[] = "libproj.so.25";

// Kinds kept come back to the next run of the same library, the latest first; what needs no
// library, or is no answer, is not kept; nothing new, nothing written.
TEST(SrsKindCache, KeepsTheKindsOfOneLibrary) {
    TempDir dir;
    const fs::path cache = dir / "cache";
    SrsKindCache first = SrsKindCache::Load(cache, kLibrary);
    EXPECT_TRUE(first.kinds().empty());
    first.keep({{"EPSG:4547", SrsKind::Projected},
                {"EPSG:4326", SrsKind::Geographic},
                {"ENU:30,114", SrsKind::Enu},
                {"", SrsKind::None},
                {"what is this", SrsKind::Unknown}});
    ASSERT_TRUE(first.save());
    ASSERT_TRUE(fs::is_regular_file(SrsKindCacheFile(cache)));

    SrsKindCache second = SrsKindCache::Load(cache, kLibrary);
    EXPECT_EQ(second.kinds(), (Kinds{{"what is this", SrsKind::Unknown},
                                     {"EPSG:4326", SrsKind::Geographic},
                                     {"EPSG:4547", SrsKind::Projected}}));
    EXPECT_TRUE(SrsKindCache::Load(cache, "libproj.so.26").kinds().empty());
    EXPECT_TRUE(SrsKindCache::Load(dir / "elsewhere", kLibrary).kinds().empty());

    // Nothing learnt: the file is left as it is.
    fs::remove(SrsKindCacheFile(cache));
    second.keep({});
    ASSERT_TRUE(second.save());
    EXPECT_FALSE(fs::exists(SrsKindCacheFile(cache)));

    // Learnt again, a kind moves to the front, once.
    second.keep({{"EPSG:4547", SrsKind::Projected}});
    ASSERT_TRUE(second.save());
    EXPECT_EQ(SrsKindCache::Load(cache, kLibrary).kinds(),
              (Kinds{{"EPSG:4547", SrsKind::Projected},
                     {"what is this", SrsKind::Unknown},
                     {"EPSG:4326", SrsKind::Geographic}}));

    // No cache folder: nothing kept, nothing written.
    SrsKindCache none = SrsKindCache::Load({}, kLibrary);
    none.keep({{"EPSG:4547", SrsKind::Projected}});
    EXPECT_TRUE(none.kinds().empty());
    EXPECT_TRUE(none.save());
}

// The most recently learnt kinds are kept, up to the bound.
TEST(SrsKindCache, KeepsTheLatestKindsUpToItsBound) {
    TempDir dir;
    SrsKindCache cache = SrsKindCache::Load(dir.path(), kLibrary);
    Kinds learnt;
    for (std::size_t i = 0; i < SrsKindCache::kMaxKinds + 10; ++i)
        learnt.emplace_back("EPSG:" + std::to_string(32600 + i), SrsKind::Projected);
    cache.keep(learnt);
    ASSERT_TRUE(cache.save());
    const Kinds read = SrsKindCache::Load(dir.path(), kLibrary).kinds();
    ASSERT_EQ(read.size(), SrsKindCache::kMaxKinds);
    EXPECT_EQ(read.front().first, "EPSG:" + std::to_string(32600 + SrsKindCache::kMaxKinds + 9));
    EXPECT_EQ(read.back().first, "EPSG:32610");
}

// A file cut short, with any byte changed, or not a regular file, is no cache: a kind read
// wrong would take degrees for metres.
TEST(SrsKindCache, ADamagedFileIsIgnoredWhole) {
    TempDir dir;
    SrsKindCache cache = SrsKindCache::Load(dir.path(), kLibrary);
    cache.keep({{"EPSG:4547", SrsKind::Projected}, {"EPSG:4326", SrsKind::Geographic}});
    ASSERT_TRUE(cache.save());
    const fs::path file = SrsKindCacheFile(dir.path());
    const std::string bytes = ReadBytes(file);
    ASSERT_EQ(SrsKindCache::Load(dir.path(), kLibrary).kinds().size(), 2u);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::string damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x04);
        WriteText(file, damaged);
        EXPECT_TRUE(SrsKindCache::Load(dir.path(), kLibrary).kinds().empty()) << "byte " << at;
    }
    for (const std::size_t length : {std::size_t{0}, std::size_t{8}, bytes.size() - 1}) {
        WriteText(file, bytes.substr(0, length));
        EXPECT_TRUE(SrsKindCache::Load(dir.path(), kLibrary).kinds().empty()) << length << " bytes";
    }
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_TRUE(SrsKindCache::Load(dir.path(), kLibrary).kinds().empty());
}

} // namespace
} // namespace brindle
