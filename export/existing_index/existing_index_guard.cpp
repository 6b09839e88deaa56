#include "export/existing_index/existing_index_guard.h"

#include "export/existing_index/check_answer.h"

#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// What an existing index check's reply says of the file, when that rests on its bytes alone.
ExistingFileKind LastingExistingKind(const CheckReply& reply) {
    switch (reply.verdict) {
    case CheckVerdict::IsIndex:
        return ExistingFileKind::IsIndex;
    case CheckVerdict::HoldsScene:
        return ExistingFileKind::HoldsScene;
    case CheckVerdict::DoesNotLoad:
        return ExistingFileKind::DoesNotLoad;
    default:
        return ExistingFileKind::None;
    }
}

std::optional<Problem> ProblemWithExisting(ExistingFileKind verdict, const fs::path& index) {
    switch (verdict) {
    case ExistingFileKind::IsIndex:
    case ExistingFileKind::None:
        break;
    case ExistingFileKind::HoldsScene:
        return Problem{ProblemKind::ExistingHoldsScene, index, {}};
    case ExistingFileKind::DoesNotLoad:
        return Problem{ProblemKind::ExistingUnreadable, index, {}};
    }
    return std::nullopt;
}

std::optional<Problem> VerdictOnExisting(WorkerProcess& inspector, const fs::path& index,
                                         OwnIndexMemory& verdicts, const CheckSettings& settings) {
    const Result<FileFacts> looked = LookAt(index);
    const FileFacts before = looked.value_or({});
    if (const std::optional<ExistingFileKind> known = verdicts.ownIndex(before))
        return ProblemWithExisting(*known, index);
    const BoundedCheck check =
        MakeCheck(CheckKind::ExistingIndex, index, looked ? before.size : 0, settings);
    CheckReply reply;
    const fs::path program = settings.program();
    const CheckAnswer answer =
        AnswerOf({CheckAsker::ReplacedIndex, check.request, check.deadline, index, program},
                 inspector.exchange(check.request, check.deadline, reply), reply);
    if (answer.replied)
        if (const ExistingFileKind lasting = LastingExistingKind(reply);
            lasting != ExistingFileKind::None)
            verdicts.keepOwnIndex(before, lasting);
    return answer.problem;
}

} // namespace

std::optional<Problem> ReasonToKeepExisting(const fs::path& indexFile, WorkerProcess& inspector,
                                            OwnIndexMemory& verdicts,
                                            const CheckSettings& settings) {
    std::error_code ec;
    const fs::file_status status = fs::status(indexFile, ec);
    if (status.type() == fs::file_type::not_found)
        return std::nullopt;
    if (ec)
        return Problem{ProblemKind::ExistingUnreadable, indexFile, SystemError(ec)};
    if (fs::is_directory(status))
        return std::nullopt;
    return VerdictOnExisting(inspector, indexFile, verdicts, settings);
}

std::optional<std::vector<std::string>> ExistingIndexNames(const fs::path& indexFile,
                                                           WorkerProcess& inspector,
                                                           OwnIndexMemory& verdicts,
                                                           const CheckSettings& settings) {
    const Result<FileFacts> looked = LookAt(indexFile);
    if (!looked || looked->type != fs::file_type::regular)
        return std::nullopt;
    BoundedCheck check = MakeCheck(CheckKind::IndexEntries, indexFile, looked->size, settings);
    const fs::path program = settings.program();
    std::vector<std::string> names;
    // A reply's worth of names at a time; one that brings none while names remain ends it.
    for (;;) {
        check.request.firstEntry = static_cast<std::uint32_t>(names.size());
        CheckReply reply;
        const CheckAnswer answer =
            AnswerOf({CheckAsker::ListedIndex, check.request, check.deadline, indexFile, program},
                     inspector.exchange(check.request, check.deadline, reply), reply);
        if (!answer.replied)
            return std::nullopt;
        if (names.empty())
            if (const ExistingFileKind lasting = LastingExistingKind(reply);
                lasting != ExistingFileKind::None)
                verdicts.keepOwnIndex(*looked, lasting);
        if (reply.verdict != CheckVerdict::IsIndex ||
            (reply.entries.empty() && names.size() < reply.entryCount))
            return std::nullopt;
        for (std::string& name : reply.entries)
            names.push_back(std::move(name));
        if (names.size() >= reply.entryCount)
            return names;
    }
}

} // namespace brindle
