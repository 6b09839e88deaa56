#include "export/protocol/tile_check_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace brindle {
namespace {

CheckRequest ContentRequest() {
    CheckRequest request;
    request.kind = CheckKind::Content;
    request.memoryCeiling = std::uint64_t{300} << 20;
    request.cpuSeconds = 41.5;
    request.quantize = true;
    request.path = "/blocks/瓦片/Tile_+001_+002/Tile_+001_+002_L15_0.osgb";
    request.glbPath = "/out/.staging/Tile_+001_+002/Tile_+001_+002_L15_0.glb";
    return request;
}

FinerName Finer(std::string path, bool pixels, double at) {
    FinerName name;
    name.path = std::move(path);
    name.pixels = pixels;
    name.switchAt = at;
    name.centre[0] = 12.5;
    name.centre[1] = -3e5;
    name.centre[2] = 0.25;
    name.radius = 48.75;
    return name;
}

ContentReply SampleContent() {
    ContentReply content;
    content.boundsMin[0] = -10.5;
    content.boundsMin[2] = 3.25;
    content.boundsMax[0] = 10.5;
    content.boundsMax[1] = 4e6;
    content.glbBytes = 123456789;
    content.triangles = 4000001;
    content.finer = {Finer("/blocks/Tile_+001_+002/Tile_+001_+002_L16_0.osgb", true, 256),
                     Finer("/blocks/瓦片/TILE_L16_1.OSGB", false, 1500.5)};
    content.finerNamed = 2;
    return content;
}

CheckReply ContentReplyOf(ContentReply content) {
    CheckReply reply;
    reply.verdict = CheckVerdict::Loads;
    reply.content = std::move(content);
    return reply;
}

TEST(ContentProtocol, AContentRequestSurvivesTheTripAndNeedsItsGlbPath) {
    const CheckRequest request = ContentRequest();
    const std::string bytes = EncodeRequest(request);
    const std::optional<std::size_t> length = DecodeRequestLength(bytes);
    ASSERT_TRUE(length);
    ASSERT_EQ(*length + kRequestLengthSize, bytes.size());
    const std::optional<CheckRequest> decoded =
        DecodeRequestBody(std::string_view(bytes).substr(kRequestLengthSize));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->kind, CheckKind::Content);
    EXPECT_TRUE(decoded->quantize);
    EXPECT_EQ(decoded->memoryCeiling, request.memoryCeiling);
    EXPECT_EQ(decoded->cpuSeconds, request.cpuSeconds);
    EXPECT_EQ(decoded->path, request.path);
    EXPECT_EQ(decoded->glbPath, request.glbPath);

    CheckRequest plain = request;
    plain.quantize = false;
    const std::string plainBytes = EncodeRequest(plain);
    EXPECT_FALSE(
        DecodeRequestBody(std::string_view(plainBytes).substr(kRequestLengthSize))->quantize);

    // A tile check's request turned into a content one says nowhere to write: refused.
    CheckRequest tile = request;
    tile.kind = CheckKind::Tile;
    std::string asTile = EncodeRequest(tile);
    asTile[kRequestLengthSize] = static_cast<char>(CheckKind::Content);
    EXPECT_FALSE(DecodeRequestBody(std::string_view(asTile).substr(kRequestLengthSize)));
    // A glb path with trailing bytes, or an empty one, is no request the run sends.
    std::string longer = bytes.substr(kRequestLengthSize) + "x";
    EXPECT_FALSE(DecodeRequestBody(longer));
    CheckRequest empty = request;
    empty.glbPath.clear();
    const std::string emptyBytes = EncodeRequest(empty);
    EXPECT_FALSE(DecodeRequestBody(std::string_view(emptyBytes).substr(kRequestLengthSize)));
    // An unknown kind past the content one.
    std::string unknown = bytes;
    unknown[kRequestLengthSize] = 5;
    EXPECT_FALSE(DecodeRequestBody(std::string_view(unknown).substr(kRequestLengthSize)));
}

// Each of the content's settings travels on its own: no setting reads as another, in every
// combination, and a flag byte with a bit the run never sets is refused.
TEST(ContentProtocol, EveryCombinationOfTheContentsSettingsSurvivesTheTrip) {
    for (int bits = 0; bits < 8; ++bits) {
        CheckRequest request = ContentRequest();
        request.quantize = (bits & 1) != 0;
        request.b3dm = (bits & 2) != 0;
        request.meshopt = (bits & 4) != 0;
        const std::string bytes = EncodeRequest(request);
        const std::optional<CheckRequest> decoded =
            DecodeRequestBody(std::string_view(bytes).substr(kRequestLengthSize));
        ASSERT_TRUE(decoded) << bits;
        EXPECT_EQ(decoded->quantize, request.quantize) << bits;
        EXPECT_EQ(decoded->b3dm, request.b3dm) << bits;
        EXPECT_EQ(decoded->meshopt, request.meshopt) << bits;
        EXPECT_FALSE(decoded->wantBound || decoded->wantSummary) << bits;
        EXPECT_EQ(decoded->glbPath, request.glbPath) << bits;
    }
    // The flags' byte follows the kind, the mode, the ceiling (8 bytes) and the seconds (8).
    const std::string bytes = EncodeRequest(ContentRequest());
    std::string unknownFlag = bytes.substr(kRequestLengthSize);
    unknownFlag[2 + 8 + 8] = static_cast<char>(unknownFlag[2 + 8 + 8] | 0x20);
    EXPECT_FALSE(DecodeRequestBody(unknownFlag));
}

TEST(ContentProtocol, AContentAndItsFinerFilesSurviveTheTrip) {
    const CheckReply reply = ContentReplyOf(SampleContent());
    const std::string bytes = EncodeReply(reply);
    ASSERT_GT(bytes.size(), kReplySize) << "the finer files follow the fixed part";
    EXPECT_EQ(ReplyTrailerSize(std::string_view(bytes).substr(0, kReplySize)),
              bytes.size() - kReplySize);
    const std::optional<CheckReply> decoded = DecodeReply(bytes);
    ASSERT_TRUE(decoded);
    ASSERT_TRUE(decoded->content);
    const ContentReply& content = *decoded->content;
    EXPECT_EQ(content.error, 0);
    EXPECT_EQ(content.boundsMin[0], -10.5);
    EXPECT_EQ(content.boundsMin[2], 3.25);
    EXPECT_EQ(content.boundsMax[1], 4e6);
    EXPECT_EQ(content.glbBytes, 123456789u);
    EXPECT_EQ(content.triangles, 4000001u);
    EXPECT_EQ(content.finerNamed, 2u);
    ASSERT_EQ(content.finer.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const FinerName& sent = reply.content->finer[i];
        const FinerName& got = content.finer[i];
        EXPECT_EQ(got.path, sent.path);
        EXPECT_EQ(got.pixels, sent.pixels);
        EXPECT_EQ(got.switchAt, sent.switchAt);
        EXPECT_EQ(got.centre[1], sent.centre[1]);
        EXPECT_EQ(got.radius, sent.radius);
    }

    // A file that loads but gives no content: its error, and its finer files all the same.
    ContentReply none = SampleContent();
    none.error = 1;
    const std::optional<CheckReply> noContent = DecodeReply(EncodeReply(ContentReplyOf(none)));
    ASSERT_TRUE(noContent && noContent->content);
    EXPECT_EQ(noContent->content->error, 1);
    EXPECT_EQ(noContent->content->finer.size(), 2u);

    // Without finer files, the reply is its fixed part alone; other replies carry no content.
    ContentReply leaf = SampleContent();
    leaf.finer.clear();
    leaf.finerNamed = 0;
    EXPECT_EQ(EncodeReply(ContentReplyOf(leaf)).size(), kReplySize);
    EXPECT_TRUE(DecodeReply(EncodeReply(ContentReplyOf(leaf)))->content);
    CheckReply tile;
    tile.verdict = CheckVerdict::Loads;
    EXPECT_FALSE(DecodeReply(EncodeReply(tile))->content);
}

TEST(ContentProtocol, AFileNamingTooManyOrTooLongFinerFilesIsCutAndSaysSo) {
    ContentReply many;
    for (int i = 0; i < 5000; ++i)
        many.finer.push_back(Finer("/b/T/T_L16_" + std::to_string(i) + ".osgb", true, 128));
    many.finerNamed = 5000;
    const std::optional<CheckReply> cut = DecodeReply(EncodeReply(ContentReplyOf(many)));
    ASSERT_TRUE(cut && cut->content);
    EXPECT_EQ(cut->content->finer.size(), kMaxFinerNames);
    EXPECT_EQ(cut->content->finerNamed, 5000u);
    EXPECT_EQ(cut->content->finer.back().path, "/b/T/T_L16_4095.osgb");

    // Long names fill the trailer's bytes before its count.
    ContentReply heavy;
    for (int i = 0; i < 600; ++i)
        heavy.finer.push_back(Finer(std::string(3000, 'a') + std::to_string(i), false, 10));
    heavy.finerNamed = 600;
    const std::string heavyBytes = EncodeReply(ContentReplyOf(heavy));
    EXPECT_LE(heavyBytes.size(), kReplySize + kMaxContentTrailer);
    const std::optional<CheckReply> filled = DecodeReply(heavyBytes);
    ASSERT_TRUE(filled && filled->content);
    EXPECT_LT(filled->content->finer.size(), 600u);
    EXPECT_GT(filled->content->finer.size(), 300u);
    EXPECT_EQ(filled->content->finerNamed, 600u);

    // A path longer than any file system's, or numbers no paged node has, is left out.
    ContentReply odd = SampleContent();
    odd.finer.push_back(Finer(std::string(kMaxFinerPath + 1, 'b'), true, 1));
    odd.finer.push_back(Finer("/b/nan.osgb", true, std::nan("")));
    FinerName negative = Finer("/b/negative.osgb", false, 5);
    negative.radius = -1;
    odd.finer.push_back(negative);
    odd.finer.push_back(Finer("/b/after.osgb", false, 7));
    odd.finerNamed = 6;
    const std::optional<CheckReply> kept = DecodeReply(EncodeReply(ContentReplyOf(odd)));
    ASSERT_TRUE(kept && kept->content);
    ASSERT_EQ(kept->content->finer.size(), 3u);
    EXPECT_EQ(kept->content->finer[2].path, "/b/after.osgb");
    EXPECT_EQ(kept->content->finerNamed, 6u);
}

TEST(ContentProtocol, ATruncatedOrHostileContentReplyIsRefused) {
    const std::string sound = EncodeReply(ContentReplyOf(SampleContent()));
    ASSERT_TRUE(DecodeReply(sound));
    // A worker dying anywhere in the reply, its trailer included.
    for (std::size_t size = 0; size < sound.size(); size += (size < kReplySize ? 97 : 1))
        EXPECT_FALSE(DecodeReply(std::string_view(sound).substr(0, size))) << size;
    EXPECT_FALSE(DecodeReply(sound + "x")) << "a byte past the finer files";

    // The content's fields: after the entries' count, past the reader's text.
    const std::size_t fields = 48 + 4 + 2 + kMaxReaderText + 2;
    auto patched = [&](std::size_t offset, std::string_view bytes) {
        std::string damaged = sound;
        damaged.replace(offset, bytes.size(), bytes);
        return damaged;
    };
    EXPECT_FALSE(DecodeReply(patched(15, "\x02"))) << "a content flag neither set nor clear";
    EXPECT_FALSE(DecodeReply(patched(fields, "\x09"))) << "an unknown content error";
    const double nan = std::nan("");
    std::string nanBytes(8, '\0');
    std::memcpy(nanBytes.data(), &nan, 8);
    EXPECT_FALSE(DecodeReply(patched(fields + 1, nanBytes))) << "bounds that are no number";
    // Counts: the names sent, more than the file named, or more than a reply may carry.
    const std::size_t named = fields + 1 + 48 + 16;
    EXPECT_FALSE(DecodeReply(patched(named, std::string("\x01\x00\x00\x00", 4))))
        << "fewer named than sent";
    EXPECT_FALSE(DecodeReply(patched(named + 4, std::string("\x03\x00\x00\x00", 4))))
        << "more sent than the trailer holds";
    std::string huge = patched(named, std::string("\xff\xff\xff\x7f", 4));
    huge = huge.replace(named + 4, 4, std::string("\x00\x00\x01\x00", 4));
    EXPECT_FALSE(DecodeReply(huge)) << "more names than any reply carries";
    // A trailer larger than any: the fixed part states none, and the bytes do not match.
    const std::string tooLong = patched(named + 8, std::string("\x00\x00\x20\x00", 4));
    EXPECT_EQ(ReplyTrailerSize(std::string_view(tooLong).substr(0, kReplySize)), 0u);
    EXPECT_FALSE(DecodeReply(tooLong));
    // The first finer file's own fields.
    EXPECT_FALSE(DecodeReply(patched(kReplySize, "\x02"))) << "a switch neither pixels nor not";
    EXPECT_FALSE(DecodeReply(patched(kReplySize + 1 + 8 + 24, nanBytes))) << "a radius of NaN";
    EXPECT_FALSE(DecodeReply(patched(kReplySize + 41, std::string("\xff\x0f", 2))))
        << "a path running past the trailer";
    EXPECT_FALSE(DecodeReply(patched(kReplySize + 41, std::string("\x00\x00", 2))))
        << "an empty path";
    // A content and a summary at once.
    EXPECT_FALSE(DecodeReply(patched(14, "\x01"))) << "a summary where finer files are";
    // Entries beside a content.
    EXPECT_FALSE(DecodeReply(patched(48, std::string("\x01\x00\x00\x00", 4))));
}

} // namespace
} // namespace brindle
