#include "export/existing_index/check_answer.h"

#include "export/fs/regular_file.h"

#include <cstdint>
#include <system_error>

namespace brindle {
namespace {

bool AsksOfTile(const AskedCheck& asked) {
    return asked.asker == CheckAsker::Tile;
}

Problem Unreadable(const AskedCheck& asked, std::error_code cause = {}) {
    return Problem{ProblemKind::ExistingUnreadable, asked.file, cause};
}

// A worker that died, or was killed at its deadline, before it answered: the tile is left
// out for that, with the deadline it overran; an existing index is unreadable, with no cause
// the system could give.
CheckAnswer NoVerdict(const AskedCheck& asked, WorkerProcess::Outcome ended) {
    CheckAnswer answer;
    if (!AsksOfTile(asked))
        answer.problem = Unreadable(asked);
    else if (ended == WorkerProcess::Outcome::Crashed)
        answer.tile = TileOutcome(TileStatus::ReaderCrashed);
    else
        answer.tile = TileOutcome(TileStatus::TimedOut, {},
                                  static_cast<std::uint64_t>(asked.deadline.count()));
    return answer;
}

// No worker could be started: the run (or --verify) cannot check anything, and says so once;
// a tile asked of it is left out with the start's error.
CheckAnswer NoWorker(const AskedCheck& asked, std::error_code started) {
    CheckAnswer answer;
    answer.problem = Problem{ProblemKind::WorkersUnavailable, asked.program, started};
    if (AsksOfTile(asked))
        answer.tile = TileOutcome(TileStatus::LoadFailed, started);
    return answer;
}

// The verdicts an existing index's askers read apart. A missing root.osgb is nothing to keep
// to a run about to write one, but nothing to list to --verify; a file that is not regular is
// unreadable to both, and --verify tells why.
std::optional<Problem> MissingIndex(const AskedCheck& asked) {
    if (asked.asker == CheckAsker::ReplacedIndex)
        return std::nullopt;
    return Unreadable(asked, SystemError(std::errc::no_such_file_or_directory));
}

Problem NotRegularIndex(const AskedCheck& asked) {
    if (asked.asker == CheckAsker::ReplacedIndex)
        return Unreadable(asked);
    return Unreadable(asked, SystemError(std::errc::invalid_argument));
}

// A file that loads and is not known to be an index: the run keeps it as the scene it may
// be; its entries cannot be listed.
Problem LoadsUnknown(const AskedCheck& asked) {
    if (asked.asker == CheckAsker::ReplacedIndex)
        return Problem{ProblemKind::ExistingHoldsScene, asked.file, {}};
    return Unreadable(asked);
}

std::optional<Problem> ProblemWithIndex(const AskedCheck& asked, const CheckReply& reply) {
    switch (reply.verdict) {
    case CheckVerdict::IsIndex:
        return std::nullopt;
    case CheckVerdict::HoldsScene:
        return Problem{ProblemKind::ExistingHoldsScene, asked.file, {}};
    case CheckVerdict::Loads:
        return LoadsUnknown(asked);
    case CheckVerdict::Missing:
        return MissingIndex(asked);
    case CheckVerdict::NotRegular:
        return NotRegularIndex(asked);
    case CheckVerdict::Unreadable:
        return Unreadable(asked, reply.cause);
    default:
        return Unreadable(asked);
    }
}

} // namespace

CheckAnswer AnswerOf(const AskedCheck& asked, const Result<WorkerProcess::Outcome>& exchanged,
                     const CheckReply& reply) {
    if (!exchanged)
        return NoWorker(asked, exchanged.error());
    if (*exchanged != WorkerProcess::Outcome::Replied)
        return NoVerdict(asked, *exchanged);
    CheckAnswer answer;
    answer.replied = true;
    if (AsksOfTile(asked))
        answer.tile = OutcomeOfReply(reply, asked.request);
    else
        answer.problem = ProblemWithIndex(asked, reply);
    return answer;
}

} // namespace brindle
