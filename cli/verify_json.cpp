#include "cli/verify_json.h"

#include "cli/report_json.h"

namespace brindle {
namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

json BrokenEntryJson(const IndexEntryCheck& entry) {
    const fs::path name(entry.name);
    json object;
    if (entry.namedBy.empty())
        PutPaths(object, {{"name", &name}, {"file", &entry.file}, {"named_by", nullptr}});
    else
        PutPaths(object, {{"name", &name}, {"file", &entry.file}, {"named_by", &entry.namedBy}});
    object["level_file"] = entry.level;
    object["reason"] = BrokenEntryReasonName(entry);
    object["cause"] = CauseJson(entry.cause);
    if (entry.status == TileStatus::LoadFailed) {
        const char* failure = LoadFailureName(entry.loadFailure);
        object["load_failure"] = failure ? json(failure) : json(nullptr);
        object["reader_message"] =
            entry.readerText.empty() ? json(nullptr) : json(entry.readerText);
    }
    if (entry.status == TileStatus::TimedOut)
        object["limit_ms"] = entry.limit;
    if (entry.status == TileStatus::OutOfMemory)
        object["limit_bytes"] = entry.limit;
    return object;
}

json FolderJson(const FolderVerification& folder) {
    json object;
    PutPaths(object, {{"path", &folder.folder}, {"index_file", &folder.indexFile}});
    object["error"] = folder.error ? ProblemJson(*folder.error) : json(nullptr);
    const std::size_t broken = folder.broken();
    const std::size_t levels = folder.levelFiles();
    const std::size_t brokenLevels = folder.brokenLevelFiles();
    object["entries"] = {{"ok", folder.entries.size() - broken}, {"broken", broken}};
    object["level_files"] = {{"ok", levels - brokenLevels}, {"broken", brokenLevels}};
    object["tiles"] = {{"ok", folder.entries.size() - levels - (broken - brokenLevels)},
                       {"broken", broken - brokenLevels}};
    json list = json::array();
    for (const IndexEntryCheck& entry : folder.entries)
        if (entry.status != TileStatus::Valid)
            list.push_back(BrokenEntryJson(entry));
    object["broken"] = std::move(list);
    object["resolves"] = folder.allResolve();
    return object;
}

} // namespace

const char* BrokenEntryReasonName(const IndexEntryCheck& entry) {
    return entry.tooDeep ? "too_deep" : ReasonName(entry.status);
}

json VerifyJson(const std::vector<FolderVerification>& folders, const std::string& version,
                bool cancelled) {
    json list = json::array();
    bool succeeded = !cancelled;
    for (const FolderVerification& folder : folders) {
        if (folder.folder.empty())
            break; // not reached before the check was interrupted
        list.push_back(FolderJson(folder));
        succeeded = succeeded && folder.allResolve();
    }
    return {{"tool", {{"name", "brindle-export"}, {"version", version}}},
            {"verify", true},
            {"folders", std::move(list)},
            {"cancelled", cancelled},
            {"succeeded", succeeded}};
}

} // namespace brindle
