// The built brindle-export's JSON report, as a script reads it: every folder of the run, and
// paths of any bytes carried whole.
#include "tests/cli/export_runner.h"
#include "tests/cli/report_fixtures.h"
#include "tests/export/test_fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <string>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::Contains;
using test::DecodePathBytes;
using test::Outcome;
using test::RunExport;
using test::TempDir;

// A path value of a JSON report object, as bytes.
std::string PathIn(const json& object, const char* key) {
    const std::string text = object.at(key).get<std::string>();
    return object.value("path_bytes_escaped", false) ? DecodePathBytes(text) : text;
}

TEST(BrindleExport, JsonDescribesEveryFolderOfTheRun) {
    TempDir dir;
    // first: its own report, one tile loads, one has no root.osgb, one is not a scene.
    test::WriteTile(dir / "first" / "A");
    fs::create_directories(dir / "first" / "B");
    test::WriteText(dir / "first" / "C" / "root.osgb", "not a scene");
    test::WriteText(dir / "first" / "report.txt", "origin\nX: 100.25 Y: -7 Z: 3\n");
    // blocked: its index cannot be written over a folder with a file in it.
    test::WriteTile(dir / "blocked" / "A");
    test::WriteText(dir / "blocked" / "root.osgb" / "keep.txt", "in the way");
    // carried: no report.txt, so the first folder's origin carries over; its report.txt
    // has no second line, which is a warning.
    test::WriteTile(dir / "carried" / "A");
    test::WriteText(dir / "carried" / "report.txt", "one line only");
    const std::string first = (dir / "first").string();
    const std::string blocked = (dir / "blocked").string();
    const std::string carried = (dir / "carried").string();

    const Outcome outcome = RunExport(dir, {"--json", "-j", "2", first, blocked, carried});
    EXPECT_EQ(outcome.status, 1);
    const json run = json::parse(outcome.out);
    EXPECT_TRUE(Contains(outcome.err, "brindle-export: error: ")) << "errors go on stderr";
    EXPECT_FALSE(Contains(outcome.err, "wrote")) << outcome.err;

    EXPECT_EQ(run["tool"]["name"], "brindle-export");
    EXPECT_FALSE(run["tool"]["version"].get<std::string>().empty());
    EXPECT_EQ(run["options"], json::parse(R"({"jobs": 2, "dry_run": false, "force": false,
                                              "strict": false, "index_kind": "proxy",
                                              "verdict_cache": true})"));
    ASSERT_EQ(run["folders"].size(), 3u);

    const json& a = run["folders"][0];
    EXPECT_EQ(a["path"], first);
    EXPECT_EQ(a["index_file"], first + "/root.osgb");
    EXPECT_FALSE(a.contains("path_bytes_escaped"));
    EXPECT_EQ(a["status"], "written");
    EXPECT_TRUE(a["error"].is_null());
    EXPECT_EQ(a["translation"], json::parse("[100.25, -7.0, 0.0]"));
    EXPECT_EQ(a["translation_source"], json({{"kind", "this_folder"},
                                             {"report", first + "/report.txt"},
                                             {"metadata", nullptr},
                                             {"from_folder", first}}));
    EXPECT_EQ(a["entries"], json::parse(R"(["A\\root.osgb"])"));
    ASSERT_EQ(a["left_out"].size(), 2u);
    EXPECT_EQ(a["left_out"][0],
              json({{"name", "B"}, {"reason", "no_root_file"}, {"cause", nullptr}}));
    EXPECT_EQ(a["left_out"][1]["name"], "C");
    EXPECT_EQ(a["left_out"][1]["reason"], "load_failed");
    EXPECT_EQ(a["left_out"][1]["root_file"], "root.osgb");
    EXPECT_FALSE(a["left_out"][1].contains("limit_ms"));
    EXPECT_EQ(a["warnings"], json::array());

    const json& b = run["folders"][1];
    EXPECT_EQ(b["status"], "failed");
    EXPECT_EQ(b["error"]["kind"], "write_failed");
    EXPECT_EQ(b["error"]["path"], blocked + "/root.osgb");
    const json& cause = b["error"]["cause"];
    ASSERT_TRUE(cause.is_object()) << b.dump();
    EXPECT_FALSE(cause["category"].get<std::string>().empty());
    EXPECT_NE(cause["value"].get<int>(), 0);
    EXPECT_EQ(cause["message"], std::generic_category().message(cause["value"].get<int>()));
    EXPECT_EQ(b["translation_source"]["kind"], "carried_over");
    // The folder in the index's way is a subfolder too, and holds no root.osgb.
    EXPECT_EQ(b["left_out"][0]["name"], "root.osgb");

    const json& c = run["folders"][2];
    EXPECT_EQ(c["status"], "written");
    EXPECT_EQ(c["translation"], json::parse("[100.25, -7.0, 0.0]"));
    EXPECT_EQ(c["translation_source"], json({{"kind", "carried_over"},
                                             {"report", first + "/report.txt"},
                                             {"metadata", nullptr},
                                             {"from_folder", first}}));
    EXPECT_EQ(c["entries"].size(), 1u);
    EXPECT_EQ(c["left_out"], json::array());
    ASSERT_EQ(c["warnings"].size(), 1u);
    EXPECT_EQ(c["warnings"][0], json({{"kind", "report_no_second_line"},
                                      {"path", carried + "/report.txt"},
                                      {"cause", nullptr}}));

    // The failed folder's tile is in no index written, and is not counted.
    EXPECT_EQ(run["totals"], json({{"folders", 3},
                                   {"written", 2},
                                   {"failed", 1},
                                   {"cancelled", 0},
                                   {"listed_twice", 0},
                                   {"entries", 2},
                                   {"left_out", 3},
                                   {"warnings", 1},
                                   {"cached_verdicts", 0},
                                   {"overview_holes", 0}}));
    EXPECT_EQ(run["cancelled"], false);
    EXPECT_EQ(run["succeeded"], false);
    for (const json& folder : run["folders"])
        EXPECT_TRUE(folder["first_listing"].is_null()) << folder.dump();
}

TEST(BrindleExport, JsonCarriesPathsThatAreNotUtf8ByteForByte) {
    TempDir dir;
    const std::string odd = "odd\xff%41";       // an invalid byte, and a '%' to keep apart
    const std::string wide = "\xe5\x9d\x97%41"; // valid UTF-8: written as it is
    test::WriteTile(dir / odd / "t\xfe");
    fs::create_directories(dir / odd / "gap\xc0");
    test::WriteTile(dir / wide / "A");
    const std::string oddPath = (dir / odd).string();

    const Outcome outcome = RunExport(dir, {"--json", oddPath, (dir / wide).string()});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const json run = json::parse(outcome.out);
    const json& escaped = run["folders"][0];
    EXPECT_EQ(escaped["path_bytes_escaped"], true);
    EXPECT_EQ(escaped["path"], dir.path().string() + "/odd%FF%2541");
    EXPECT_EQ(PathIn(escaped, "path"), oddPath);
    EXPECT_EQ(PathIn(escaped, "index_file"), oddPath + "/root.osgb");
    EXPECT_EQ(DecodePathBytes(escaped["entries"][0]), "t\xfe\\root.osgb");
    const json& gap = escaped["left_out"][0];
    EXPECT_EQ(gap["path_bytes_escaped"], true);
    EXPECT_EQ(PathIn(gap, "name"), "gap\xc0");

    const json& plain = run["folders"][1];
    EXPECT_FALSE(plain.contains("path_bytes_escaped"));
    EXPECT_EQ(plain["path"], (dir / wide).string());
}

} // namespace
} // namespace brindle
