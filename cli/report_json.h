#pragma once

#include "export/export_report.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>
#include <utility>

namespace brindle {

// What the run was asked to do, as the JSON report states it.
struct RunSettings {
    std::string version;
    unsigned jobs = 0; // as resolved: never 0
    bool dryRun = false;
    bool force = false;
    bool strict = false;
    IndexKind index = IndexKind::Proxy;
    bool verdictCache = true; // false with --no-cache
};

// The whole run as one JSON document (docs/json-report.md describes its
// shape). Kinds are stable snake_case strings. Paths keep their bytes: an object holding a
// path that is not valid UTF-8 gets "path_bytes_escaped": true, and then every path in that
// object is written by EscapePathBytes.
nlohmann::ordered_json ReportJson(const ExportReport& report, const RunSettings& settings);

// Puts the paths named into `object`, each under its key (null for no path); escaped, with
// "path_bytes_escaped": true, when any is not UTF-8.
void PutPaths(nlohmann::ordered_json& object,
              std::initializer_list<std::pair<const char*, const std::filesystem::path*>> paths);
// A system cause as {category, value, message}; null for none.
nlohmann::ordered_json CauseJson(const std::error_code& cause);
// A problem as {kind, path, cause}, and the SRSs it names where it names any.
nlohmann::ordered_json ProblemJson(const Problem& problem);

bool IsValidUtf8(const std::string& bytes);

// Reversible: '%' and every byte that is not part of a valid UTF-8 sequence become %XX (two
// upper-case hex digits); everything else is kept. Decoding replaces each %XX by its byte.
std::string EscapePathBytes(const std::string& bytes);

const char* StatusName(FolderStatus status);
const char* ReasonName(TileStatus reason);
const char* SummaryFailureName(SummaryFailure reason);
const char* IndexKindName(IndexKind kind);
const char* ProblemName(ProblemKind kind);
// Null for LoadFailure::None: the system's cause, if any, is in "cause".
const char* LoadFailureName(LoadFailure failure);
const char* OriginName(OriginSource source);

} // namespace brindle
