// What brindle-export loads as it starts, seen from outside: the system's loader lists what it
// maps (ldd) and, with LD_DEBUG=files, says each library it loads as it loads it.
#include "tests/cli/export_runner.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::Outcome;
using test::Quote;
using test::TempDir;

// Runs `command` through the shell, in English, with `environment` before it.
Outcome Shell(const TempDir& dir, const std::string& environment, const std::string& command) {
    return test::RunShell(dir, "LC_ALL=C BRINDLE_LANG= " + environment + " " + command);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The loader's own word that it loaded the projection library (a soname "libproj.so.N").
bool LoadedProj(const Outcome& run) {
    return Contains(run.err, "file=libproj.so");
}

// A production block: tiles under Data, the origin and SRS in metadata.xml beside it.
void WriteProduction(const fs::path& block, const std::string& srs) {
    for (const char* name : {"Tile_+000_+000", "Tile_+001_+000"}) {
        const fs::path tile = block / "Data" / name;
        test::WriteTile(tile);
        fs::rename(tile / "root.osgb", tile / (std::string(name) + ".osgb"));
    }
    test::WriteText(block / "metadata.xml",
                    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ModelMetadata version=\"1\">"
                    "<SRS>" +
                        srs +
                        "</SRS><SRSOrigin>512345.5,3400000.25,12.5</SRSOrigin></ModelMetadata>\n");
}

TEST(Startup, TheProgramStartsWithoutTheProjectionLibrary) {
    TempDir dir;
    const Outcome ldd = Shell(dir, "", "ldd " + Quote(BRINDLE_EXPORT_BIN));
    ASSERT_EQ(ldd.status, 0) << ldd.err;
    ASSERT_TRUE(Contains(ldd.out, "libc.so")) << ldd.out;
    // Nor any library that comes with it alone.
    for (const char* library : {"libproj", "libcurl", "libsqlite3", "libtiff"})
        EXPECT_FALSE(Contains(ldd.out, library)) << library << " in\n" << ldd.out;

    const Outcome version = Shell(dir, "LD_DEBUG=files", Quote(BRINDLE_EXPORT_BIN) + " --version");
    EXPECT_EQ(version.status, 0) << version.err;
    ASSERT_TRUE(Contains(version.err, "file=libc.so")) << "the loader says what it loads";
    EXPECT_FALSE(LoadedProj(version)) << version.err;
}

// A block whose SRS must be identified loads the library, and gets the translation and the
// verdict it got when the library was linked; an unchanged re-run takes the SRS's kind from
// the cache and never loads it. Without a cache, every run identifies it again.
TEST(Startup, TheProjectionLibraryIsLoadedOnlyUntilTheSrsIsKnown) {
    TempDir dir;
    const fs::path projected = dir / "Projected";
    const fs::path geographic = dir / "Geographic";
    const fs::path enu = dir / "Enu";
    WriteProduction(projected, "EPSG:4547");
    WriteProduction(geographic, "EPSG:4326");
    WriteProduction(enu, "ENU:30.52,114.31");
    const std::string cached = "LD_DEBUG=files XDG_CACHE_HOME=" + Quote((dir / "cache").string());
    const auto exportJson = [&](const std::string& environment, const fs::path& block,
                                const std::string& option = "") {
        return Shell(dir, environment,
                     Quote(BRINDLE_EXPORT_BIN) + " " + option + " --json " + Quote(block.string()));
    };
    const auto checkProjected = [&](const Outcome& run) {
        ASSERT_EQ(run.status, 0) << run.out;
        const json report = json::parse(run.out);
        const json& folder = report["folders"][0];
        EXPECT_EQ(folder["status"], "written");
        EXPECT_EQ(folder["srs_kind"], "projected");
        EXPECT_EQ(folder["local_frame"], false);
        EXPECT_EQ(folder["translation"], json::array({512345.5, 3400000.25, 12.5}));
    };
    const auto checkGeographic = [&](const Outcome& run) {
        EXPECT_NE(run.status, 0);
        const json report = json::parse(run.out);
        const json& folder = report["folders"][0];
        EXPECT_EQ(folder["srs_kind"], "geographic");
        ASSERT_TRUE(folder["error"].is_object()) << folder;
        EXPECT_EQ(folder["error"]["kind"], "metadata_geographic_srs");
        EXPECT_FALSE(fs::exists(geographic / "root.osgb"));
    };

    const Outcome firstProjected = exportJson(cached, projected);
    checkProjected(firstProjected);
    EXPECT_TRUE(LoadedProj(firstProjected)) << firstProjected.err;
    const Outcome firstGeographic = exportJson(cached, geographic);
    checkGeographic(firstGeographic);
    EXPECT_TRUE(LoadedProj(firstGeographic)) << firstGeographic.err;

    for (int rerun = 0; rerun < 2; ++rerun) {
        const Outcome againProjected = exportJson(cached, projected);
        checkProjected(againProjected);
        EXPECT_FALSE(LoadedProj(againProjected)) << againProjected.err;
        const Outcome againGeographic = exportJson(cached, geographic);
        checkGeographic(againGeographic);
        EXPECT_FALSE(LoadedProj(againGeographic)) << againGeographic.err;
    }

    // An ENU frame needs no library, cached or not.
    const Outcome frame = exportJson("LD_DEBUG=files XDG_CACHE_HOME= HOME=", enu);
    ASSERT_EQ(frame.status, 0) << frame.err;
    EXPECT_EQ(json::parse(frame.out)["folders"][0]["srs_kind"], "enu");
    EXPECT_FALSE(LoadedProj(frame)) << frame.err;

    const Outcome uncached = exportJson(cached, projected, "--no-cache");
    checkProjected(uncached);
    EXPECT_TRUE(LoadedProj(uncached)) << "the cache, not chance, spared the library";
}

} // namespace
} // namespace brindle
