#include "export/isolation/check_outcome.h"

namespace brindle {
namespace {

using Outcome = TileOutcome;

} // namespace

TileOutcome OutcomeOfReply(const CheckReply& reply, const CheckRequest& request) {
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
    TileOutcome failed = Outcome(TileStatus::LoadFailed);
    failed.loadFailure = reply.loadFailure;
    failed.readerText = reply.readerText;
    return failed;
}

} // namespace brindle
