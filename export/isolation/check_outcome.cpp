#include "export/isolation/check_outcome.h"

namespace brindle {
namespace {

LeftOutSubfolder Outcome(TileStatus status, std::error_code cause = {}, std::uint64_t limit = 0) {
    LeftOutSubfolder outcome;
    outcome.reason = status;
    outcome.cause = cause;
    outcome.limit = limit;
    return outcome;
}

} // namespace

LeftOutSubfolder OutcomeOfReply(const CheckReply& reply, const CheckRequest& request) {
    switch (reply.verdict) {
    case CheckVerdict::Loads:
    case CheckVerdict::IsIndex:
    case CheckVerdict::HoldsScene:
        return Outcome(TileStatus::Valid);
    case CheckVerdict::Missing:
        return Outcome(TileStatus::NoRootFile);
    case CheckVerdict::NotRegular:
        return Outcome(TileStatus::NotRegularFile);
    case CheckVerdict::Unreadable:
        return Outcome(TileStatus::LoadFailed, reply.cause);
    case CheckVerdict::DoesNotLoad:
        break;
    case CheckVerdict::OutOfMemory:
        return Outcome(TileStatus::OutOfMemory, {}, request.memoryCeiling);
    case CheckVerdict::Cycle:
        return Outcome(TileStatus::Cycle);
    }
    LeftOutSubfolder failed = Outcome(TileStatus::LoadFailed);
    failed.loadFailure = reply.loadFailure;
    failed.readerText = reply.readerText;
    return failed;
}

} // namespace brindle
