#pragma once

#include "export/verify/index_verify.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace brindle {

// --verify --json: each folder's counts and broken entries as one JSON document
// (docs/json-report.md describes its shape). `cancelled` when the check was interrupted.
nlohmann::ordered_json VerifyJson(const std::vector<FolderVerification>& folders,
                                  const std::string& version, bool cancelled);

// The reason a broken entry gives: a left-out tile's reason name, or "too_deep" for a level
// file naming levels deeper than any overview has.
const char* BrokenEntryReasonName(const IndexEntryCheck& entry);

} // namespace brindle
