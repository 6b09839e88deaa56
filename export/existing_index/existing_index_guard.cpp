#include "export/existing_index/existing_index_guard.h"

#include "export/existing_index/check_answer.h"

#include <system_error>

namespace brindle {
namespace fs = std::filesystem;
namespace {

// What an existing index check's reply says of the file, when that rests on its bytes alone.
ExistingVerdict LastingExistingVerdict(const CheckReply& reply) {
    switch (reply.verdict) {
    case CheckVerdict::IsIndex:
        return ExistingVerdict::IsIndex;
    case CheckVerdict::HoldsScene:
        return ExistingVerdict::HoldsScene;
    case CheckVerdict::DoesNotLoad:
        return ExistingVerdict::DoesNotLoad;
    default:
        return ExistingVerdict::None;
    }
}

std::optional<Problem> ProblemWithExisting(ExistingVerdict verdict, const fs::path& index) {
    switch (verdict) {
    case ExistingVerdict::IsIndex:
    case ExistingVerdict::None:
        break;
    case ExistingVerdict::HoldsScene:
        return Problem{ProblemKind::ExistingHoldsScene, index, {}};
    case ExistingVerdict::DoesNotLoad:
        return Problem{ProblemKind::ExistingUnreadable, index, {}};
    }
    return std::nullopt;
}

std::optional<Problem> VerdictOnExisting(WorkerProcess& inspector, const fs::path& index,
                                         OwnIndexVerdicts& verdicts,
                                         const CheckSettings& settings) {
    const Result<FileFacts> looked = LookAt(index);
    const FileFacts before = looked.value_or({});
    if (const std::optional<ExistingVerdict> known = verdicts.ownIndex(before))
        return ProblemWithExisting(*known, index);
    const BoundedCheck check =
        MakeCheck(CheckKind::ExistingIndex, index, looked ? before.size : 0, settings);
    CheckReply reply;
    const fs::path program = settings.program();
    const CheckAnswer answer =
        AnswerOf({CheckAsker::ReplacedIndex, check.request, check.deadline, index, program},
                 inspector.exchange(check.request, check.deadline, reply), reply);
    if (answer.replied)
        if (const ExistingVerdict lasting = LastingExistingVerdict(reply);
            lasting != ExistingVerdict::None)
            verdicts.keepOwnIndex(before, lasting);
    return answer.problem;
}

} // namespace

std::optional<Problem> ReasonToKeepExisting(const fs::path& indexFile, WorkerProcess& inspector,
                                            OwnIndexVerdicts& verdicts,
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

} // namespace brindle
