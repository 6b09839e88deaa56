#include "cli/report_json.h"

#include "wording/words.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

namespace brindle {
namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

std::string PathBytes(const fs::path& path) {
#ifdef _WIN32
    return path.u8string();
#else
    return path.native();
#endif
}

// The length of the valid UTF-8 sequence starting at `i`, or 0 (RFC 3629: no overlong
// forms, no surrogates, nothing past U+10FFFF).
std::size_t Utf8SequenceAt(const std::string& bytes, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > bytes.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return length;
}

void AppendPercent(std::string& out, unsigned char byte) {
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
    out += escaped;
}

} // namespace

void PutPaths(json& object, std::initializer_list<std::pair<const char*, const fs::path*>> paths) {
    bool escape = false;
    for (const auto& [key, path] : paths)
        escape = escape || (path && !IsValidUtf8(PathBytes(*path)));
    for (const auto& [key, path] : paths) {
        if (!path)
            object[key] = nullptr;
        else
            object[key] = escape ? EscapePathBytes(PathBytes(*path)) : PathBytes(*path);
    }
    if (escape)
        object["path_bytes_escaped"] = true;
}

json CauseJson(const std::error_code& cause) {
    if (!cause)
        return nullptr;
    return {{"category", cause.category().name()},
            {"value", cause.value()},
            {"message", cause.message()}};
}

json ProblemJson(const Problem& problem) {
    json object = {{"kind", ProblemName(problem.kind)}};
    PutPaths(object, {{"path", &problem.path}});
    object["cause"] = CauseJson(problem.cause);
    if (!problem.srs.empty()) {
        json list = json::array();
        for (const SrsOf& srs : problem.srs) {
            json item;
            PutPaths(item, {{"of", &srs.of}});
            item["srs"] = srs.srs;
            list.push_back(std::move(item));
        }
        object["srs"] = std::move(list);
    }
    return object;
}

namespace {

json LeftOutJson(const LeftOutSubfolder& leftOut) {
    json object;
    if (leftOut.rootFile.empty())
        PutPaths(object, {{"name", &leftOut.name}});
    else
        PutPaths(object, {{"name", &leftOut.name}, {"root_file", &leftOut.rootFile}});
    object["reason"] = ReasonName(leftOut.reason);
    object["cause"] = CauseJson(leftOut.cause);
    if (leftOut.reason == TileStatus::LoadFailed) {
        const char* failure = LoadFailureName(leftOut.loadFailure);
        object["load_failure"] = failure ? json(failure) : json(nullptr);
        object["reader_message"] =
            leftOut.readerText.empty() ? json(nullptr) : json(leftOut.readerText);
    }
    if (leftOut.reason == TileStatus::TimedOut)
        object["limit_ms"] = leftOut.limit;
    if (leftOut.reason == TileStatus::OutOfMemory)
        object["limit_bytes"] = leftOut.limit;
    return object;
}

json OverviewHoleJson(const OverviewHole& hole) {
    json object;
    PutPaths(object, {{"name", &hole.name}});
    object["reason"] = SummaryFailureName(hole.reason);
    object["cause"] = CauseJson(hole.cause);
    return object;
}

json TilesetJson(const TilesetReport& tileset) {
    json object;
    PutPaths(object, {{"path", &tileset.folder}});
    object["status"] = wording::WordsOf(tileset.status).key;
    object["converted"] = tileset.converted;
    object["reused"] = tileset.reused;
    object["tiles"] = tileset.tiles;
    json leftOut = json::array();
    for (const LeftOutSubfolder& file : tileset.leftOut)
        leftOut.push_back(LeftOutJson(file));
    object["left_out"] = std::move(leftOut);
    return object;
}

json SourceJson(const FolderReport& folder) {
    json object = {{"kind", OriginName(folder.originSource)}};
    const bool hasFile = !folder.originReport.empty();
    // Only a metadata.xml gives an SRS (maybe an unknown one): the file is one or the other.
    const bool metadata = hasFile && folder.srsKind != SrsKind::None;
    const fs::path fromFolder = folder.originReport.parent_path();
    PutPaths(object, {{"report", hasFile && !metadata ? &folder.originReport : nullptr},
                      {"metadata", metadata ? &folder.originReport : nullptr},
                      {"from_folder", hasFile ? &fromFolder : nullptr}});
    return object;
}

json FolderJson(const FolderReport& folder) {
    json object;
    // The entries name subfolders, so they are paths too, escaped with the folder's own.
    bool escape = !IsValidUtf8(PathBytes(folder.folder)) ||
                  !IsValidUtf8(PathBytes(folder.indexFile)) ||
                  !IsValidUtf8(PathBytes(folder.firstListing));
    for (const std::string& entry : folder.entries)
        escape = escape || !IsValidUtf8(entry);
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        escape = escape || !IsValidUtf8(PathBytes(tile));
    const auto text = [escape](const std::string& bytes) {
        return escape ? EscapePathBytes(bytes) : bytes;
    };
    object["path"] = text(PathBytes(folder.folder));
    object["index_file"] = text(PathBytes(folder.indexFile));
    if (escape)
        object["path_bytes_escaped"] = true;
    object["status"] = StatusName(folder.status);
    object["first_listing"] = folder.status == FolderStatus::ListedTwice
                                  ? json(text(PathBytes(folder.firstListing)))
                                  : json(nullptr);
    object["error"] = folder.error ? ProblemJson(*folder.error) : json(nullptr);
    object["translation"] = {folder.translation.x(), folder.translation.y(),
                             folder.translation.z()};
    object["translation_source"] = SourceJson(folder);
    object["srs"] = folder.srs.empty() ? json(nullptr) : json(folder.srs);
    const char* srsKind = wording::WordsOf(folder.srsKind).key;
    object["srs_kind"] = srsKind ? json(srsKind) : json(nullptr);
    object["local_frame"] = folder.localFrame();
    json blocks = json::array();
    for (const fs::path& block : folder.blocks) {
        json item;
        PutPaths(item, {{"path", &block}});
        blocks.push_back(std::move(item));
    }
    object["blocks"] = std::move(blocks);
    if (!folder.master.empty())
        PutPaths(object["master"], {{"path", &folder.master}});
    else
        object["master"] = nullptr;
    json entries = json::array();
    for (const std::string& entry : folder.entries)
        entries.push_back(text(entry));
    object["entries"] = std::move(entries);
    object["index_kind"] = IndexKindName(folder.index);
    json proxyLeaves = json::array();
    for (const std::string& entry : folder.proxyLeaves)
        proxyLeaves.push_back(text(entry));
    object["proxy_leaves"] = std::move(proxyLeaves);
    json rechecked = json::array();
    for (const std::filesystem::path& tile : folder.recheckedTiles)
        rechecked.push_back(text(PathBytes(tile)));
    object["rechecked"] = std::move(rechecked);
    json leftOut = json::array();
    for (const LeftOutSubfolder& skipped : folder.leftOut)
        leftOut.push_back(LeftOutJson(skipped));
    object["left_out"] = std::move(leftOut);
    json holes = json::array();
    for (const OverviewHole& hole : folder.overviewHoles)
        holes.push_back(OverviewHoleJson(hole));
    object["overview_holes"] = std::move(holes);
    object["cached_verdicts"] = folder.cachedVerdicts;
    json warnings = json::array();
    for (const Problem& warning : folder.warnings)
        warnings.push_back(ProblemJson(warning));
    object["warnings"] = std::move(warnings);
    object["tileset"] = folder.tileset ? TilesetJson(*folder.tileset) : json(nullptr);
    return object;
}

json TotalsJson(const ExportReport& report) {
    const ReportTotals totals = report.totals();
    // A dry run's folders count as written: "written" is what the run did or would do.
    return {{"folders", totals.folders},
            {"written", totals.written + totals.dryRun},
            {"failed", totals.failed},
            {"cancelled", totals.cancelled},
            {"listed_twice", totals.listedTwice},
            {"entries", totals.entries},
            {"left_out", totals.leftOut},
            {"warnings", totals.warnings},
            {"cached_verdicts", totals.cachedVerdicts},
            {"overview_holes", totals.overviewHoles}};
}

} // namespace

bool IsValidUtf8(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceAt(bytes, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string EscapePathBytes(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceAt(bytes, i);
        if (length == 0 || bytes[i] == '%') {
            AppendPercent(out, static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

// The keys are the wording's, which keeps each kind's key with its words.

const char* StatusName(FolderStatus status) {
    return wording::WordsOf(status).key;
}

const char* ReasonName(TileStatus reason) {
    return wording::WordsOf(reason).key;
}

const char* SummaryFailureName(SummaryFailure reason) {
    return wording::WordsOf(reason).key;
}

const char* IndexKindName(IndexKind kind) {
    return wording::WordsOf(kind).key;
}

const char* LoadFailureName(LoadFailure failure) {
    return wording::WordsOf(failure).key;
}

const char* ProblemName(ProblemKind kind) {
    return wording::WordsOf(kind).key;
}

const char* OriginName(OriginSource source) {
    return wording::WordsOf(source).key;
}

nlohmann::ordered_json ReportJson(const ExportReport& report, const RunSettings& settings) {
    json folders = json::array();
    for (const FolderReport& folder : report.folders)
        folders.push_back(FolderJson(folder));
    json warnings = json::array();
    for (const Problem& warning : report.warnings)
        warnings.push_back(ProblemJson(warning));
    return {{"tool", {{"name", "brindle-export"}, {"version", settings.version}}},
            {"options",
             {{"jobs", settings.jobs},
              {"dry_run", settings.dryRun},
              {"force", settings.force},
              {"strict", settings.strict},
              {"index_kind", IndexKindName(settings.index)},
              {"verdict_cache", settings.verdictCache}}},
            {"folders", std::move(folders)},
            {"warnings", std::move(warnings)},
            {"totals", TotalsJson(report)},
            {"cancelled", report.cancelled},
            {"succeeded", report.succeeded()}};
}

} // namespace brindle
