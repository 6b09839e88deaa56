// The JSON report on its own: every kind named, limits and causes where they apply, totals,
// and paths of any bytes carried whole.
#include "cli/report_json.h"
#include "tests/cli/report_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

namespace brindle {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

using test::Contains;
using test::WrittenFolder;

TEST(PathEscape, KeepsValidUtf8AndEscapesEveryOtherByteAndThePercentSign) {
    EXPECT_EQ(EscapePathBytes("Tile_\xe5\x9d\x97"), "Tile_\xe5\x9d\x97");
    EXPECT_EQ(EscapePathBytes("100%"), "100%25");
    EXPECT_EQ(EscapePathBytes("a\xff"), "a%FF");
    EXPECT_EQ(EscapePathBytes("\xc0\xaf"), "%C0%AF") << "overlong";
    EXPECT_EQ(EscapePathBytes("\xed\xa0\x80"), "%ED%A0%80") << "surrogate";
    EXPECT_EQ(EscapePathBytes("\xe5\x9d"), "%E5%9D") << "cut short";
    EXPECT_EQ(EscapePathBytes("\xf4\x90\x80\x80"), "%F4%90%80%80") << "past U+10FFFF";
    EXPECT_EQ(EscapePathBytes("\xf0\x9f\x98\x80"), "\xf0\x9f\x98\x80");
}

TEST(PathEscape, RoundTripsAnyBytesAndAgreesWithTheJsonWriterOnValidity) {
    // Strings of whole and broken UTF-8 sequences, stray bytes and percent signs.
    const std::vector<std::string> pieces{
        "a", "%", "%4", "\xc3\xa9", "\xe5\x9d\x97", "\xf0\x9f\x98\x80", "\xe5", "\x9d", "\xf4\x90"};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255), pick(0, 9), length(0, 8);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        for (int n = length(random); n > 0; --n) {
            const int piece = pick(random);
            bytes += piece < 9 ? pieces[static_cast<std::size_t>(piece)]
                               : std::string(1, static_cast<char>(byte(random)));
        }
        const std::string escaped = EscapePathBytes(bytes);
        ASSERT_EQ(test::DecodePathBytes(escaped), bytes);
        ASSERT_TRUE(IsValidUtf8(escaped));
        bool dumps = true;
        try {
            json(bytes).dump();
        } catch (const json::type_error&) {
            dumps = false;
        }
        ASSERT_EQ(IsValidUtf8(bytes), dumps) << escaped;
    }
}

TEST(ReportJson, NamesEveryKindAndGivesLimitsWhereTheyApply) {
    FolderReport folder = WrittenFolder("one");
    for (const TileStatus reason :
         {TileStatus::NoRootFile, TileStatus::NotRegularFile, TileStatus::LoadFailed,
          TileStatus::ReaderCrashed, TileStatus::TimedOut, TileStatus::OutOfMemory,
          TileStatus::UnsafeName, TileStatus::LinksBack, TileStatus::Cycle, TileStatus::LoadFailed,
          TileStatus::BlockNotWritten})
        folder.leftOut.push_back({"t", reason, {}, 42, {}, {}});
    folder.leftOut[2].cause = std::make_error_code(std::errc::permission_denied);
    folder.leftOut[9].loadFailure = LoadFailure::ReaderError;
    folder.leftOut[9].readerText = "read error";
    folder.recheckedTiles = {"t", "u"};
    ExportReport report;
    report.folders = {folder};
    // Read back as the plain (key-sorted) kind, as a consumer would.
    const json run =
        json::parse(ReportJson(report, RunSettings{"9.9", 3, true, true, true}).dump());

    std::vector<std::string> reasons;
    for (const json& leftOut : run["folders"][0]["left_out"])
        reasons.push_back(leftOut["reason"].get<std::string>());
    EXPECT_EQ(reasons, (std::vector<std::string>{"no_root_file", "not_regular_file", "load_failed",
                                                 "reader_crashed", "timed_out", "out_of_memory",
                                                 "unsafe_name", "links_back", "cycle",
                                                 "load_failed", "block_not_written"}));
    EXPECT_EQ(run["folders"][0]["rechecked"], json({"t", "u"}));
    const json& leftOut = run["folders"][0]["left_out"];
    EXPECT_EQ(leftOut[4]["limit_ms"], 42);
    EXPECT_FALSE(leftOut[4].contains("limit_bytes"));
    EXPECT_EQ(leftOut[5]["limit_bytes"], 42);
    EXPECT_FALSE(leftOut[5].contains("limit_ms"));
    EXPECT_FALSE(leftOut[0].contains("limit_ms") || leftOut[0].contains("limit_bytes"));
    EXPECT_EQ(leftOut[2]["cause"],
              json({{"category", "generic"},
                    {"value", EACCES},
                    {"message", std::make_error_code(std::errc::permission_denied).message()}}));
    // A system cause and a cause of the file's own are told apart.
    EXPECT_EQ(leftOut[2]["load_failure"], nullptr);
    EXPECT_EQ(leftOut[9]["load_failure"], "reader_error");
    EXPECT_EQ(leftOut[9]["reader_message"], "read error");
    EXPECT_EQ(leftOut[9]["cause"], nullptr);
    EXPECT_FALSE(leftOut[8].contains("load_failure"));
    for (const auto& [failure, name] : std::vector<std::pair<LoadFailure, std::string>>{
             {LoadFailure::EmptyFile, "empty_file"},
             {LoadFailure::NotAScene, "not_a_scene"},
             {LoadFailure::Truncated, "truncated"},
             {LoadFailure::UnknownCompressor, "unknown_compressor"},
             {LoadFailure::UnsupportedVersion, "unsupported_version"}})
        EXPECT_EQ(LoadFailureName(failure), name);
    EXPECT_EQ(run["options"], json({{"dry_run", true},
                                    {"force", true},
                                    {"index_kind", "proxy"},
                                    {"jobs", 3},
                                    {"strict", true},
                                    {"verdict_cache", true}}));
    EXPECT_EQ(run["tool"]["version"], "9.9");
    EXPECT_EQ(run["folders"][0]["translation_source"], json({{"kind", "none"},
                                                             {"report", nullptr},
                                                             {"metadata", nullptr},
                                                             {"from_folder", nullptr}}));

    std::vector<std::string> problems;
    for (std::size_t kind = 0; kind < kProblemKindCount; ++kind)
        problems.push_back(ProblemName(static_cast<ProblemKind>(kind)));
    EXPECT_EQ(problems, (std::vector<std::string>{"folder_missing",
                                                  "not_a_folder",
                                                  "folder_unreadable",
                                                  "write_failed",
                                                  "no_index_writer",
                                                  "workers_unavailable",
                                                  "existing_holds_scene",
                                                  "existing_unreadable",
                                                  "no_tiles_kept_index",
                                                  "report_unreadable",
                                                  "report_not_regular_file",
                                                  "report_no_second_line",
                                                  "report_no_origin",
                                                  "report_origin_not_finite",
                                                  "index_not_flushed",
                                                  "no_tiles_found",
                                                  "no_tiles_looks_like_tile",
                                                  "no_tiles_one_level_too_high",
                                                  "metadata_unreadable",
                                                  "metadata_not_regular_file",
                                                  "metadata_too_large",
                                                  "metadata_not_xml",
                                                  "metadata_no_origin",
                                                  "metadata_bad_origin",
                                                  "root_names_differ_in_case",
                                                  "names_differ_in_case",
                                                  "cache_folder_is_link",
                                                  "cache_folder_not_owned",
                                                  "cache_folder_open_to_others",
                                                  "cache_folder_unusable",
                                                  "cache_not_written",
                                                  "metadata_geographic_srs",
                                                  "metadata_geographic_srs_forced",
                                                  "srs_library_missing",
                                                  "blocks_srs_differ",
                                                  "overview_not_written",
                                                  "old_overview_kept",
                                                  "folder_busy",
                                                  "tileset_not_written",
                                                  "tileset_folder_not_ours",
                                                  "tileset_inside_listed",
                                                  "tileset_file_left_out",
                                                  "tileset_local_frame"}));
    EXPECT_STREQ(StatusName(FolderStatus::DryRun), "dry_run");
    EXPECT_STREQ(StatusName(FolderStatus::Cancelled), "cancelled");
    EXPECT_STREQ(StatusName(FolderStatus::ListedTwice), "listed_twice");
}

TEST(ReportJson, AnOverviewsHolesAreListedWithTheirReasonsAndCauses) {
    FolderReport folder = WrittenFolder("one");
    folder.index = IndexKind::Overview;
    for (const SummaryFailure reason :
         {SummaryFailure::NoSurface, SummaryFailure::TooLarge, SummaryFailure::OutOfMemory,
          SummaryFailure::Crashed, SummaryFailure::TimedOut, SummaryFailure::Unreadable})
        folder.overviewHoles.push_back({"t", reason, {}});
    folder.overviewHoles.back().cause = std::make_error_code(std::errc::io_error);
    folder.overviewHoles.push_back({"bad\xff", SummaryFailure::NoSurface, {}});
    ExportReport report;
    report.folders = {folder, WrittenFolder("two")};
    RunSettings settings;
    settings.index = IndexKind::Overview;
    const json run = json::parse(ReportJson(report, settings).dump());

    EXPECT_EQ(run["options"]["index_kind"], "overview");
    EXPECT_EQ(run["folders"][0]["index_kind"], "overview");
    EXPECT_EQ(run["folders"][1]["index_kind"], "proxy");
    EXPECT_EQ(run["folders"][1]["overview_holes"], json::array());
    const json& holes = run["folders"][0]["overview_holes"];
    ASSERT_TRUE(holes.is_array());
    ASSERT_EQ(holes.size(), 7u);
    std::vector<std::string> reasons;
    for (const json& hole : holes)
        reasons.push_back(hole["reason"].get<std::string>());
    EXPECT_EQ(reasons,
              (std::vector<std::string>{"no_surface", "too_large", "out_of_memory", "crashed",
                                        "timed_out", "unreadable", "no_surface"}));
    EXPECT_EQ(holes[0], json({{"name", "t"}, {"reason", "no_surface"}, {"cause", nullptr}}));
    EXPECT_EQ(holes[5]["cause"],
              json({{"category", "generic"},
                    {"value", EIO},
                    {"message", std::make_error_code(std::errc::io_error).message()}}));
    // A name that is not UTF-8 is escaped, as every path in the report is.
    EXPECT_EQ(holes[6]["name"], "bad%FF");
    EXPECT_EQ(holes[6]["path_bytes_escaped"], true);
    EXPECT_FALSE(holes[0].contains("path_bytes_escaped"));
    EXPECT_EQ(run["totals"]["overview_holes"], 7);
}

TEST(ReportJson, TotalsCountADryRunAsWrittenAndEveryOtherStatusApart) {
    FolderReport dryRun = WrittenFolder("a");
    dryRun.status = FolderStatus::DryRun;
    dryRun.leftOut = {{"B", TileStatus::NoRootFile, {}, 0, {}, {}}};
    dryRun.warnings = {{ProblemKind::ReportNoOrigin, "a/report.txt", {}}};
    dryRun.cachedVerdicts = 3;
    FolderReport failed;
    failed.status = FolderStatus::Failed;
    FolderReport again;
    again.status = FolderStatus::ListedTwice;
    ExportReport report;
    report.folders = {WrittenFolder("w"), dryRun, failed, again, FolderReport{}};
    const json run = json::parse(ReportJson(report, RunSettings{}).dump());
    EXPECT_EQ(run["totals"], json({{"folders", 5},
                                   {"written", 2},
                                   {"failed", 1},
                                   {"cancelled", 1},
                                   {"listed_twice", 1},
                                   {"entries", 2},
                                   {"left_out", 1},
                                   {"warnings", 1},
                                   {"cached_verdicts", 3},
                                   {"overview_holes", 0}}));
    EXPECT_EQ(run["folders"][1]["cached_verdicts"], 3);
}

} // namespace
} // namespace brindle
