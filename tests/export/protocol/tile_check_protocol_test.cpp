#include "export/protocol/tile_check_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace brindle {
namespace {

CheckReply FailedReply(std::string text) {
    CheckReply reply;
    reply.verdict = CheckVerdict::DoesNotLoad;
    reply.loadFailure = LoadFailure::ReaderError;
    reply.readerText = std::move(text);
    return reply;
}

TEST(TileCheckProtocol, ARepliesCauseTextAndEntriesSurviveTheTrip) {
    CheckReply reply = FailedReply("read error (InputStream: Failed to decompress stream.)");
    reply.entryCount = 3;
    reply.entries = {"T1\\root.osgb", "", "T3/root.osgb"};
    const std::string bytes = EncodeReply(reply);
    ASSERT_EQ(bytes.size(), kReplySize);
    const std::optional<CheckReply> decoded = DecodeReply(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->verdict, CheckVerdict::DoesNotLoad);
    EXPECT_EQ(decoded->loadFailure, LoadFailure::ReaderError);
    EXPECT_EQ(decoded->readerText, reply.readerText);
    EXPECT_EQ(decoded->entryCount, 3u);
    EXPECT_EQ(decoded->entries, reply.entries);

    CheckReply cycle;
    cycle.verdict = CheckVerdict::Cycle;
    ASSERT_TRUE(DecodeReply(EncodeReply(cycle)));
    EXPECT_EQ(DecodeReply(EncodeReply(cycle))->verdict, CheckVerdict::Cycle);

    // A tile that is an index, with its bound: flags and the bound's numbers side by side.
    CheckReply index;
    index.verdict = CheckVerdict::Loads;
    index.followsOthers = true;
    index.indexScene = true;
    index.bound = {TileBound::Kind::Known, {1.5, -2.25, 3e6}, 7.0};
    const std::optional<CheckReply> told = DecodeReply(EncodeReply(index));
    ASSERT_TRUE(told);
    EXPECT_TRUE(told->followsOthers);
    EXPECT_TRUE(told->indexScene);
    EXPECT_FALSE(told->retiring);
    EXPECT_EQ(told->bound.kind, TileBound::Kind::Known);
    EXPECT_EQ(told->bound.centre[1], -2.25);
    EXPECT_EQ(told->bound.radius, 7.0);
    EXPECT_FALSE(DecodeReply(EncodeReply(cycle))->indexScene);

    // The size of a refused allocation, written into a reply encoded beforehand.
    CheckReply outOfMemory;
    outOfMemory.verdict = CheckVerdict::OutOfMemory;
    outOfMemory.retiring = true;
    std::string encoded = EncodeReply(outOfMemory);
    SetFailedAllocation(encoded.data(), (std::uint64_t{24} << 30) + 5);
    const std::optional<CheckReply> refused = DecodeReply(encoded);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->verdict, CheckVerdict::OutOfMemory);
    EXPECT_TRUE(refused->retiring);
    EXPECT_EQ(refused->failedAllocationMiB, 24u << 10);
    EXPECT_EQ(refused->bound.kind, TileBound::Kind::NotAsked);
    SetFailedAllocation(encoded.data(), ~std::uint64_t{0});
    EXPECT_EQ(DecodeReply(encoded)->failedAllocationMiB, 0xffffffffu) << "held at the most";
}

TEST(TileCheckProtocol, LongTextIsCutAtACharacterAndEntriesStopWhereTheReplyIsFull) {
    // Three-byte characters, so that the limit falls inside one.
    std::string text;
    while (text.size() < 2 * kMaxReaderText)
        text += "\xe6\x96\x87";
    const std::optional<CheckReply> cut = DecodeReply(EncodeReply(FailedReply(text)));
    ASSERT_TRUE(cut);
    EXPECT_LE(cut->readerText.size(), kMaxReaderText);
    EXPECT_GT(cut->readerText.size(), kMaxReaderText - 3);
    EXPECT_EQ(cut->readerText.size() % 3, 0u);
    EXPECT_EQ(text.compare(0, cut->readerText.size(), cut->readerText), 0);

    CheckReply many;
    many.verdict = CheckVerdict::IsIndex;
    many.entries.assign(1000, std::string(40, 'a'));
    many.entryCount = 1000;
    const std::optional<CheckReply> some = DecodeReply(EncodeReply(many));
    ASSERT_TRUE(some);
    EXPECT_GT(some->entries.size(), 10u);
    EXPECT_LT(some->entries.size(), 1000u);
    EXPECT_EQ(some->entryCount, 1000u);
}

// A reply comes from another process, which may be damaged: bounds are checked, and text
// that is not printable UTF-8 is made so.
TEST(TileCheckProtocol, AHostileReplyIsRefusedOrMadeHarmless) {
    const std::string sound = EncodeReply(FailedReply("abc"));
    auto patched = [&](std::size_t offset, const std::string& bytes) {
        std::string damaged = sound;
        damaged.replace(offset, bytes.size(), bytes);
        return damaged;
    };
    EXPECT_FALSE(DecodeReply(patched(2, "\x07"))) << "an unknown cause";
    EXPECT_FALSE(DecodeReply(patched(0, "\x0a"))) << "an unknown verdict";
    EXPECT_FALSE(DecodeReply(patched(9, "\x02"))) << "a flag neither set nor clear";
    EXPECT_FALSE(DecodeReply(patched(52, "\xff\xff"))) << "text longer than its field";
    EXPECT_FALSE(DecodeReply(patched(48, std::string("\x00\x00\x00\x7f", 4))))
        << "an absurd entry count";
    const std::size_t entries = 52 + 2 + kMaxReaderText;
    EXPECT_FALSE(DecodeReply(patched(48, std::string("\x01\x00\x00\x00", 4)) // one entry...
                                 .replace(entries, 4, std::string("\x01\x00\xff\xff", 4))))
        << "a name running past the reply";
    EXPECT_FALSE(DecodeReply(patched(entries, std::string("\x01\x00\x00\x00", 4))))
        << "more names than the index holds";

    const std::optional<CheckReply> dirty =
        DecodeReply(EncodeReply(FailedReply("a\nb\xff\xc3(\x1b[31m\xe6\x96\x87")));
    ASSERT_TRUE(dirty);
    EXPECT_EQ(dirty->readerText, "a?b??"
                                 "(?[31m\xe6\x96\x87");
}

// A summary travels after its reply, which says whether one follows: a worker that dies in the
// middle of one is told from one that answered, and one whose summary has an extent a damaged
// worker made unusable is taken for crashed, as any reply that does not decode.
TEST(TileCheckProtocol, ASummaryFollowsItsReplyWholeOrTheReplyIsRefused) {
    auto summary = std::make_shared<TileSummary>();
    summary->extent = Extent{10, 20, 110, 70};
    summary->Height(3, 4) = 12.5f;
    summary->Colour(255, 0)[2] = 200;
    summary->Coverage(255, 0) = 255;
    summary->lit = true;
    summary->ownColours = true;
    summary->Normal(7, 8)[0] = -127;
    summary->Normal(7, 8)[2] = 3;
    CheckReply reply;
    reply.verdict = CheckVerdict::Loads;
    reply.summaryState = SummaryState::Made;
    reply.summary = summary;
    const std::string bytes = EncodeReply(reply);
    ASSERT_EQ(bytes.size(), kReplySize + kSummaryBytes);
    EXPECT_EQ(ReplyTrailerSize(bytes.substr(0, kReplySize)), kSummaryBytes);
    const std::optional<CheckReply> decoded = DecodeReply(bytes);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->summaryState, SummaryState::Made);
    EXPECT_EQ(decoded->summary->extent.maxY, 70);
    // Bit for bit: a sample without height is a NaN, which equals nothing.
    EXPECT_EQ(std::memcmp(decoded->summary->heights.data(), summary->heights.data(),
                          summary->heights.size() * sizeof(float)),
              0);
    EXPECT_EQ(decoded->summary->Height(3, 4), 12.5f);
    EXPECT_EQ(decoded->summary->colour, summary->colour);
    EXPECT_EQ(decoded->summary->coverage, summary->coverage);
    EXPECT_TRUE(decoded->summary->lit);
    EXPECT_FALSE(decoded->summary->withNormals);
    EXPECT_TRUE(decoded->summary->ownColours);
    EXPECT_EQ(decoded->summary->normals, summary->normals);
    // The three flags, then the normals.
    const std::size_t normalBytes = summary->normals.size();
    const std::size_t litByte = bytes.size() - normalBytes - 3;
    for (std::size_t flag = litByte; flag < litByte + 3; ++flag) {
        std::string flags = bytes;
        flags[flag] = '\x02';
        EXPECT_FALSE(DecodeReply(flags)) << "flag " << flag - litByte << " neither yes nor no";
    }
    std::string lighting = bytes;
    lighting[litByte] = '\x00';
    ASSERT_TRUE(DecodeReply(lighting));
    EXPECT_FALSE(DecodeReply(lighting)->summary->lit);
    summary->Normal(7, 8)[1] = -128;
    EXPECT_FALSE(DecodeReply(EncodeReply(reply))) << "a normal beyond one";
    summary->Normal(7, 8)[1] = 0;

    EXPECT_FALSE(DecodeReply(bytes.substr(0, bytes.size() - 1))) << "a summary cut short";
    EXPECT_FALSE(DecodeReply(bytes.substr(0, kReplySize))) << "a summary missing";
    EXPECT_FALSE(DecodeReply(bytes + "x")) << "bytes after it";
    std::string state = bytes.substr(0, kReplySize);
    state[14] = '\x09';
    EXPECT_FALSE(DecodeReply(state)) << "an unknown summary state";

    summary->extent = Extent{10, 20, 10, 70};
    EXPECT_FALSE(DecodeReply(EncodeReply(reply))) << "a summary without area";

    // A reply encoded beforehand, for a crash or an exhausted heap, says so and carries none.
    std::string prepared = bytes.substr(0, kReplySize);
    SetSummaryState(prepared.data(), SummaryState::Crashed);
    EXPECT_EQ(ReplyTrailerSize(prepared), 0u);
    ASSERT_TRUE(DecodeReply(prepared));
    EXPECT_EQ(DecodeReply(prepared)->summaryState, SummaryState::Crashed);

    CheckRequest request;
    request.path = "T/root.osgb";
    request.wantSummary = true;
    std::optional<CheckRequest> asked =
        DecodeRequestBody(EncodeRequest(request).substr(kRequestLengthSize));
    ASSERT_TRUE(asked);
    EXPECT_TRUE(asked->wantSummary);
    EXPECT_FALSE(asked->wantBound);
    request.wantBound = true;
    request.wantSummary = false;
    asked = DecodeRequestBody(EncodeRequest(request).substr(kRequestLengthSize));
    ASSERT_TRUE(asked);
    EXPECT_FALSE(asked->wantSummary);
    EXPECT_TRUE(asked->wantBound);
}

TEST(TileCheckProtocol, HowARequestedFileIsReachedSurvivesTheTrip) {
    CheckRequest request;
    request.path = "block/Tile/root.osgb";
    const std::string plain = EncodeRequest(request);
    request.inheritedSearch = {"block/Tile", "block"};
    request.filesAbove = {std::string("block/root\0.osgb", 16)};
    const std::string reached = EncodeRequest(request);
    EXPECT_EQ(plain.size(), kRequestLengthSize + 23 + request.path.size())
        << "a request that tells no reach costs nothing more";
    const std::optional<CheckRequest> decoded =
        DecodeRequestBody(std::string_view(reached).substr(kRequestLengthSize));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->path, request.path);
    EXPECT_EQ(decoded->inheritedSearch, request.inheritedSearch);
    EXPECT_EQ(decoded->filesAbove, request.filesAbove);
    const std::string body = plain.substr(kRequestLengthSize);
    EXPECT_FALSE(DecodeRequestBody(body + std::string(5, '\0'))) << "an empty reach told";
    EXPECT_FALSE(DecodeRequestBody(body + std::string("\0\1\0\x09\0ab", 8))) << "a cut folder";
    EXPECT_FALSE(DecodeRequestBody(reached.substr(kRequestLengthSize) + "x")) << "bytes after it";
}

} // namespace
} // namespace brindle
