#include "export/cache/verdict_cache.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using test::TempDir;
using test::WriteText;

FileFacts Stamp(std::uint64_t inode, std::int64_t changed) {
    FileFacts facts;
    facts.type = fs::file_type::regular;
    facts.device = 7;
    facts.inode = inode;
    facts.size = 1000 + inode;
    facts.modified = changed - 5;
    facts.changed = changed;
    return facts;
}

KeptTileOutcome Fails(LoadFailure failure, std::string text = {}) {
    KeptTileOutcome verdict;
    verdict.loadFailure = failure;
    verdict.readerText = std::move(text);
    return verdict;
}

// Every kind of verdict comes back as it was kept, whatever order it is asked for in; what
// was not kept, or cannot be trusted, is not found.
TEST(VerdictCache, KeepsEachVerdictWithItsStamp) {
    TempDir dir;
    const fs::path folder = dir / "block";
    KeptTileOutcome loads;
    loads.loads = true;
    loads.bound.kind = TileBound::Kind::Known;
    loads.bound.centre[0] = 1.5;
    loads.bound.centre[2] = -3;
    loads.bound.radius = 42;
    const std::vector<std::pair<std::string, CacheEntry>> kept = {
        {"A/root.osgb", {Stamp(1, 100), loads, ExistingFileKind::None}},
        {"B/B.osgb", {Stamp(2, 200), Fails(LoadFailure::Truncated), ExistingFileKind::None}},
        {"C/root.osgb",
         {Stamp(3, 300), Fails(LoadFailure::ReaderError, "no such \xe4\xb8\xad"),
          ExistingFileKind::DoesNotLoad}},
        {"root.osgb",
         {Stamp(4, 400), std::nullopt, ExistingFileKind::IsIndex, 77, "brindle-overview-12"}},
    };
    VerdictCache cache = VerdictCache::Load(dir / "cache", folder, 9);
    EXPECT_FALSE(cache.loaded());
    for (const auto& [name, verdicts] : kept)
        cache.keep(name, verdicts);
    // Nothing to keep, no identity, no change time: not kept.
    cache.keep("D/root.osgb", {Stamp(5, 500), std::nullopt, ExistingFileKind::None});
    cache.keep("E/root.osgb", {Stamp(0, 600), loads, ExistingFileKind::None});
    cache.keep("F/root.osgb", {Stamp(6, 0), loads, ExistingFileKind::None});
    ASSERT_TRUE(cache.save().ok());

    const VerdictCache read = VerdictCache::Load(dir / "cache", folder, 9);
    ASSERT_TRUE(read.loaded());
    for (const char* missing : {"D/root.osgb", "E/root.osgb", "F/root.osgb", "G/root.osgb"})
        EXPECT_FALSE(read.find(missing)) << missing;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        SCOPED_TRACE(it->first);
        const std::optional<CacheEntry> found = read.find(it->first);
        ASSERT_TRUE(found);
        EXPECT_TRUE(Unchanged(found->file, it->second.file));
        EXPECT_EQ(found->existing, it->second.existing);
        EXPECT_EQ(found->writtenFrom, it->second.writtenFrom);
        EXPECT_EQ(found->levels, it->second.levels);
        ASSERT_EQ(found->tile.has_value(), it->second.tile.has_value());
        if (!found->tile)
            continue;
        EXPECT_EQ(found->tile->loads, it->second.tile->loads);
        EXPECT_EQ(found->tile->loadFailure, it->second.tile->loadFailure);
        EXPECT_EQ(found->tile->readerText, it->second.tile->readerText);
        EXPECT_EQ(found->tile->bound.kind, it->second.tile->bound.kind);
        EXPECT_EQ(found->tile->bound.radius, it->second.tile->bound.radius);
        EXPECT_EQ(found->tile->bound.centre[2], it->second.tile->bound.centre[2]);
    }
    // Another setting, or another folder, reads nothing.
    EXPECT_FALSE(VerdictCache::Load(dir / "cache", folder, 10).loaded());
    EXPECT_FALSE(VerdictCache::Load(dir / "cache", dir / "other", 9).loaded());
}

TEST(VerdictCache, AStampDiffersInAnyPartOrWithoutAChangeTime) {
    const FileFacts before = Stamp(3, 1000);
    EXPECT_TRUE(Unchanged(before, before));
    FileFacts now = before;
    for (auto change : std::vector<void (*)(FileFacts&)>{
             [](FileFacts& f) { ++f.device; }, [](FileFacts& f) { ++f.inode; },
             [](FileFacts& f) { ++f.size; }, [](FileFacts& f) { ++f.modified; },
             [](FileFacts& f) { ++f.changed; },
             [](FileFacts& f) { f.type = fs::file_type::directory; }}) {
        now = before;
        change(now);
        EXPECT_FALSE(Unchanged(before, now));
    }
    FileFacts untimed = before;
    untimed.changed = 0;
    EXPECT_FALSE(Unchanged(untimed, untimed));
}

// The same verdicts, kept again, leave the file's bytes as they were.
// The setting and the folder's key are kept in the cache's files and its name: they hash as
// the 64-bit FNV-1a of the bytes, each text followed by its length in eight bytes, lowest
// first (values worked out apart from this code), so files kept by an earlier build still
// match.
TEST(VerdictCache, ASettingHashesAsTheCacheFilesKeepIt) {
    EXPECT_EQ(SettingHash().value(), 0xcbf29ce484222325u);
    EXPECT_EQ(SettingHash().add("a").value(), 0xdedf9f982e43402du);
    EXPECT_EQ(SettingHash().add(std::uint64_t{0x0102030405060708}).value(), 0x0c6d4496e17859d5u);
    // The lengths keep texts apart that run together.
    EXPECT_EQ(SettingHash().add("ab").add("c").value(), 0x5091916f8ceeb7b0u);
    EXPECT_EQ(SettingHash().add("a").add("bc").value(), 0xd3effa61b782f8b8u);
}

TEST(VerdictCache, SavingWhatWasReadRewritesNothing) {
    TempDir dir;
    VerdictCache first = VerdictCache::Load(dir / "cache", dir / "block", 1);
    first.keep("A/root.osgb", {Stamp(1, 100), Fails(LoadFailure::NotAScene), {}});
    ASSERT_TRUE(first.save().ok());
    const fs::path file = first.file();
    const auto written = fs::last_write_time(file);
    const std::string bytes = test::ReadBytes(file);
    VerdictCache second = VerdictCache::Load(dir / "cache", dir / "block", 1);
    const std::optional<CacheEntry> found = second.find("A/root.osgb");
    ASSERT_TRUE(found);
    second.keep("A/root.osgb", *found);
    fs::last_write_time(file, written - std::chrono::hours(1));
    ASSERT_TRUE(second.save().ok());
    EXPECT_EQ(test::ReadBytes(file), bytes);
    EXPECT_GT(fs::last_write_time(file), written - std::chrono::minutes(1)) << "marked as used";
}

TEST(VerdictCache, TheLeastRecentlyUsedFilesGoBeyondTheBudget) {
    TempDir dir;
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 4; ++i) {
        const fs::path file = dir / ("000000000000000" + std::to_string(i) + ".verdicts");
        WriteText(file, std::string(1000, 'x'));
        fs::last_write_time(file, now - std::chrono::hours(i == 2 ? 10 : i));
    }
    WriteText(dir / "notes.txt", std::string(5000, 'x'));
    TrimVerdictCache(dir.path(), 2500);
    EXPECT_TRUE(fs::exists(dir / "0000000000000000.verdicts"));
    EXPECT_TRUE(fs::exists(dir / "0000000000000001.verdicts"));
    EXPECT_FALSE(fs::exists(dir / "0000000000000002.verdicts"));
    EXPECT_FALSE(fs::exists(dir / "0000000000000003.verdicts"));
    EXPECT_TRUE(fs::exists(dir / "notes.txt")) << "not a cache file";
}

#ifndef _WIN32
TEST(VerdictCache, TheUsersCacheFolderFollowsTheEnvironment) {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    const std::string savedXdg = xdg ? xdg : "";
    const std::string savedHome = home ? home : "";
    ::setenv("XDG_CACHE_HOME", "/var/tmp/c", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DefaultVerdictCacheFolder(), fs::path("/var/tmp/c/brindle"));
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    EXPECT_EQ(DefaultVerdictCacheFolder(), fs::path("/home/u/.cache/brindle"));
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(DefaultVerdictCacheFolder(), fs::path("/home/u/.cache/brindle"));
    ::unsetenv("HOME");
    EXPECT_EQ(DefaultVerdictCacheFolder(), fs::path());
    if (xdg)
        ::setenv("XDG_CACHE_HOME", savedXdg.c_str(), 1);
    if (home)
        ::setenv("HOME", savedHome.c_str(), 1);
}
#endif

} // namespace
} // namespace brindle
