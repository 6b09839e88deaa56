#include "export/existing_index/check_answer.h"

#include "export/fs/regular_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using Outcome = WorkerProcess::Outcome;

const fs::path kFile = "block/root.osgb";
const fs::path kProgram = "bin/brindle-tile-check";
constexpr std::chrono::milliseconds kDeadline{7500};
constexpr std::uint64_t kCeiling = std::uint64_t{96} << 20;

CheckRequest Request() {
    CheckRequest request;
    request.memoryCeiling = kCeiling;
    return request;
}

CheckAnswer Answer(CheckAsker asker, const Result<Outcome>& exchanged,
                   const CheckReply& reply = {}) {
    const CheckRequest request = Request();
    return AnswerOf({asker, request, kDeadline, kFile, kProgram}, exchanged, reply);
}

CheckReply ReplyOf(CheckVerdict verdict) {
    CheckReply reply;
    reply.verdict = verdict;
    return reply;
}

// What an existing index's asker is to hear: nothing, or a problem of `kind` with `cause`.
struct IndexCase {
    CheckVerdict verdict;
    std::optional<ProblemKind> kind;
    std::error_code cause;
};

void ExpectIndexAnswers(CheckAsker asker, const std::vector<IndexCase>& cases) {
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.verdict));
        CheckReply reply = ReplyOf(c.verdict);
        if (c.verdict == CheckVerdict::Unreadable)
            reply.cause = c.cause;
        const CheckAnswer answer = Answer(asker, Outcome::Replied, reply);
        EXPECT_TRUE(answer.replied);
        ASSERT_EQ(answer.problem.has_value(), c.kind.has_value());
        if (!c.kind)
            continue;
        EXPECT_EQ(answer.problem->kind, *c.kind);
        EXPECT_EQ(answer.problem->path, kFile);
        EXPECT_EQ(answer.problem->cause, c.cause);
    }
}

const std::error_code kDenied = SystemError(std::errc::permission_denied);

TEST(CheckAnswer, ReplacedIndexVerdicts) {
    ExpectIndexAnswers(CheckAsker::ReplacedIndex,
                       {{CheckVerdict::IsIndex, std::nullopt, {}},
                        {CheckVerdict::Missing, std::nullopt, {}},
                        {CheckVerdict::HoldsScene, ProblemKind::ExistingHoldsScene, {}},
                        {CheckVerdict::Loads, ProblemKind::ExistingHoldsScene, {}},
                        {CheckVerdict::NotRegular, ProblemKind::ExistingUnreadable, {}},
                        {CheckVerdict::Unreadable, ProblemKind::ExistingUnreadable, kDenied},
                        {CheckVerdict::DoesNotLoad, ProblemKind::ExistingUnreadable, {}},
                        {CheckVerdict::OutOfMemory, ProblemKind::ExistingUnreadable, {}},
                        {CheckVerdict::Cycle, ProblemKind::ExistingUnreadable, {}}});
}

TEST(CheckAnswer, ListedIndexVerdicts) {
    ExpectIndexAnswers(CheckAsker::ListedIndex,
                       {{CheckVerdict::IsIndex, std::nullopt, {}},
                        {CheckVerdict::Missing, ProblemKind::ExistingUnreadable,
                         SystemError(std::errc::no_such_file_or_directory)},
                        {CheckVerdict::HoldsScene, ProblemKind::ExistingHoldsScene, {}},
                        {CheckVerdict::Loads, ProblemKind::ExistingUnreadable, {}},
                        {CheckVerdict::NotRegular, ProblemKind::ExistingUnreadable,
                         SystemError(std::errc::invalid_argument)},
                        {CheckVerdict::Unreadable, ProblemKind::ExistingUnreadable, kDenied},
                        {CheckVerdict::DoesNotLoad, ProblemKind::ExistingUnreadable, {}},
                        {CheckVerdict::OutOfMemory, ProblemKind::ExistingUnreadable, {}},
                        {CheckVerdict::Cycle, ProblemKind::ExistingUnreadable, {}}});
}

// A worker that ends without a verdict: the tile is left out for that, with the deadline it
// overran; an existing index is unreadable, with no cause, to both its askers.
TEST(CheckAnswer, WorkerEndsWithoutVerdict) {
    struct Case {
        Outcome ended;
        TileStatus tile;
        std::uint64_t limit;
    };
    for (const Case& c : {Case{Outcome::Crashed, TileStatus::ReaderCrashed, 0},
                          Case{Outcome::TimedOut, TileStatus::TimedOut,
                               static_cast<std::uint64_t>(kDeadline.count())}}) {
        SCOPED_TRACE(static_cast<int>(c.ended));
        const CheckAnswer tile = Answer(CheckAsker::Tile, c.ended);
        EXPECT_FALSE(tile.replied);
        EXPECT_FALSE(tile.problem);
        EXPECT_EQ(tile.tile.reason, c.tile);
        EXPECT_EQ(tile.tile.limit, c.limit);
        EXPECT_FALSE(tile.tile.cause);
        for (const CheckAsker asker : {CheckAsker::ReplacedIndex, CheckAsker::ListedIndex}) {
            const CheckAnswer index = Answer(asker, c.ended);
            EXPECT_FALSE(index.replied);
            ASSERT_TRUE(index.problem);
            EXPECT_EQ(index.problem->kind, ProblemKind::ExistingUnreadable);
            EXPECT_EQ(index.problem->path, kFile);
            EXPECT_FALSE(index.problem->cause);
        }
    }
}

// No worker could start: every asker hears WorkersUnavailable with the start's error, naming
// the program; a tile is left out as not loaded, with that error.
TEST(CheckAnswer, NoWorkerStarts) {
    const std::error_code started = SystemError(std::errc::no_such_file_or_directory);
    for (const CheckAsker asker :
         {CheckAsker::Tile, CheckAsker::ReplacedIndex, CheckAsker::ListedIndex}) {
        SCOPED_TRACE(static_cast<int>(asker));
        const CheckAnswer answer = Answer(asker, started);
        EXPECT_FALSE(answer.replied);
        ASSERT_TRUE(answer.problem);
        EXPECT_EQ(answer.problem->kind, ProblemKind::WorkersUnavailable);
        EXPECT_EQ(answer.problem->path, kProgram);
        EXPECT_EQ(answer.problem->cause, started);
        if (asker == CheckAsker::Tile) {
            EXPECT_EQ(answer.tile.reason, TileStatus::LoadFailed);
            EXPECT_EQ(answer.tile.cause, started);
        }
    }
}

// A tile's reply reads as the worker's verdict on a tile, and nothing is a problem of the run.
TEST(CheckAnswer, TileVerdicts) {
    struct Case {
        CheckVerdict verdict;
        TileStatus reason;
        std::uint64_t limit;
    };
    for (const Case& c : {Case{CheckVerdict::Loads, TileStatus::Valid, 0},
                          Case{CheckVerdict::IsIndex, TileStatus::Valid, 0},
                          Case{CheckVerdict::HoldsScene, TileStatus::Valid, 0},
                          Case{CheckVerdict::Missing, TileStatus::NoRootFile, 0},
                          Case{CheckVerdict::NotRegular, TileStatus::NotRegularFile, 0},
                          Case{CheckVerdict::Unreadable, TileStatus::LoadFailed, 0},
                          Case{CheckVerdict::DoesNotLoad, TileStatus::LoadFailed, 0},
                          Case{CheckVerdict::OutOfMemory, TileStatus::OutOfMemory, kCeiling},
                          Case{CheckVerdict::Cycle, TileStatus::Cycle, 0}}) {
        SCOPED_TRACE(static_cast<int>(c.verdict));
        CheckReply reply = ReplyOf(c.verdict);
        reply.loadFailure = LoadFailure::ReaderError;
        reply.readerText = "bad header";
        const CheckAnswer answer = Answer(CheckAsker::Tile, Outcome::Replied, reply);
        EXPECT_TRUE(answer.replied);
        EXPECT_FALSE(answer.problem);
        EXPECT_EQ(answer.tile.reason, c.reason);
        EXPECT_EQ(answer.tile.limit, c.limit);
        const bool readerSpoke = c.verdict == CheckVerdict::DoesNotLoad;
        EXPECT_EQ(answer.tile.readerText, readerSpoke ? "bad header" : "");
    }
}

} // namespace
} // namespace brindle
