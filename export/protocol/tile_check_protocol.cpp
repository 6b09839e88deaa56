#include "export/protocol/tile_check_protocol.h"

#include "export/fs/byte_fields.h"
#include "export/fs/path_text.h"
#include "export/fs/regular_file.h"

#include <algorithm>
#include <cstring>

namespace brindle {
namespace {

void PutTexts(std::string& out, const std::vector<std::string>& texts) {
    PutField(out, static_cast<std::uint16_t>(texts.size()));
    for (const std::string& text : texts) {
        PutField(out, static_cast<std::uint16_t>(text.size()));
        out += text;
    }
}

bool TakeTexts(std::string_view& in, std::vector<std::string>& texts) {
    std::uint16_t count = 0;
    if (!TakeField(in, count))
        return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint16_t size = 0;
        if (!TakeField(in, size) || size > in.size())
            return false;
        texts.emplace_back(in.substr(0, size));
        in.remove_prefix(size);
    }
    return true;
}

bool IsKnownVerdict(std::uint8_t value) {
    return value >= static_cast<std::uint8_t>(CheckVerdict::Loads) &&
           value <= static_cast<std::uint8_t>(CheckVerdict::Cycle);
}

// Where the reply's parts begin.
constexpr std::size_t kEntryCountOffset = 48;
constexpr std::size_t kTextOffset = kEntryCountOffset + 4;
constexpr std::size_t kEntriesOffset = kTextOffset + 2 + kMaxReaderText;
// The most names an index can be taken to hold: more than any folder has subfolders.
constexpr std::uint32_t kMaxEntryCount = 1u << 24;
// The byte after the failed allocation's size.
constexpr std::size_t kSummaryStateOffset = 14;
// The byte after it: whether a content's fields take the place of the entries.
constexpr std::size_t kContentFlagOffset = 15;
constexpr std::size_t kContentOffset = kEntriesOffset + 2;

// The request's flags in one byte.
constexpr std::uint8_t kWantBound = 1;
constexpr std::uint8_t kWantSummary = 2;
constexpr std::uint8_t kQuantize = 4;
constexpr std::uint8_t kB3dm = 8;
constexpr std::uint8_t kMeshopt = 16;
constexpr std::uint8_t kAllFlags = kWantBound | kWantSummary | kQuantize | kB3dm | kMeshopt;

bool IsKnownSummaryState(std::uint8_t value) {
    return value <= static_cast<std::uint8_t>(SummaryState::Crashed);
}

template <typename T> void PutAll(std::string& out, const std::vector<T>& values) {
    out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

template <typename T> bool TakeAll(std::string_view& in, std::vector<T>& values) {
    const std::size_t size = values.size() * sizeof(T);
    if (in.size() < size)
        return false;
    std::memcpy(values.data(), in.data(), size);
    in.remove_prefix(size);
    return true;
}

// `text` cut to at most `size` bytes, at the start of a UTF-8 character.
std::string_view CutAtCharacter(std::string_view text, std::size_t size) {
    if (text.size() <= size)
        return text;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xc0) == 0x80)
        --size;
    return text.substr(0, size);
}

// The text with every byte that is not part of well-formed UTF-8, and every control
// character, replaced by '?': what the worker sends is shown to people and put in JSON.
std::string PrintableUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            code = lead & 0x0f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            code = lead & 0x07;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xc0) == 0x80;
            code = (code << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates and code points past the last are not UTF-8.
        valid = valid && !(length == 3 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) &&
                !(length == 4 && (code < 0x10000 || code > 0x10ffff));
        if (!valid || code < 0x20 || code == 0x7f) {
            out += '?';
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

} // namespace

std::string EncodeSummary(const TileSummary& summary) {
    std::string out;
    out.reserve(kSummaryBytes);
    for (const double bound :
         {summary.extent.minX, summary.extent.minY, summary.extent.maxX, summary.extent.maxY})
        PutField(out, bound);
    PutAll(out, summary.heights);
    PutAll(out, summary.colour);
    PutAll(out, summary.coverage);
    for (const bool flag : {summary.lit, summary.withNormals, summary.ownColours})
        out += flag ? '\1' : '\0';
    PutAll(out, summary.normals);
    return out;
}

// A summary whose extent a worker gone wrong may have made anything of is refused, as any
// reply that does not decode, so that nothing downstream meets an extent without area.
// Heights that are not finite mean none.
std::optional<TileSummary> DecodeSummary(std::string_view in) {
    std::optional<TileSummary> summary(std::in_place);
    Extent& extent = summary->extent;
    if (!TakeField(in, extent.minX) || !TakeField(in, extent.minY) || !TakeField(in, extent.maxX) ||
        !TakeField(in, extent.maxY) || !TakeAll(in, summary->heights) ||
        !TakeAll(in, summary->colour) || !TakeAll(in, summary->coverage))
        return std::nullopt;
    for (bool* flag : {&summary->lit, &summary->withNormals, &summary->ownColours}) {
        std::uint8_t value = 0;
        if (!TakeField(in, value) || value > 1)
            return std::nullopt;
        *flag = value == 1;
    }
    // A normal component is a mean of ones within -1 and 1, in 127ths.
    if (!TakeAll(in, summary->normals) ||
        std::any_of(summary->normals.begin(), summary->normals.end(),
                    [](std::int8_t c) { return c < -kNormalUnit; }))
        return std::nullopt;
    if (!HasArea(extent))
        return std::nullopt;
    return summary;
}

std::string RequestPathText(const std::filesystem::path& path) {
    return PathText(path);
}

std::filesystem::path RequestPath(const CheckRequest& request) {
    return PathOfText(request.path);
}

std::filesystem::path PathOfRequestText(const std::string& text) {
    return PathOfText(text);
}

std::string EncodeRequests(const std::vector<CheckRequest>& requests) {
    std::string bytes;
    for (const CheckRequest& request : requests)
        bytes += EncodeRequest(request);
    return bytes;
}

std::string EncodeRequest(const CheckRequest& request) {
    std::string body;
    PutField(body, static_cast<std::uint8_t>(request.kind));
    PutField(body, static_cast<std::uint8_t>(request.mode));
    PutField(body, request.memoryCeiling);
    PutField(body, request.cpuSeconds);
    PutField(body, static_cast<std::uint8_t>((request.wantBound ? kWantBound : 0) |
                                             (request.wantSummary ? kWantSummary : 0) |
                                             (request.quantize ? kQuantize : 0) |
                                             (request.b3dm ? kB3dm : 0) |
                                             (request.meshopt ? kMeshopt : 0)));
    PutField(body, request.firstEntry);
    body += request.path;
    // How the file is reached follows the path, after a byte no path holds, when it is told;
    // a content's glTF file always follows, after them.
    const bool content = request.kind == CheckKind::Content;
    if (content || !request.inheritedSearch.empty() || !request.filesAbove.empty()) {
        body += '\0';
        PutTexts(body, request.inheritedSearch);
        PutTexts(body, request.filesAbove);
    }
    if (content)
        PutTexts(body, {request.glbPath});
    std::string message;
    PutField(message, static_cast<std::uint32_t>(body.size()));
    return message + body;
}

std::optional<std::size_t> DecodeRequestLength(std::string_view prefix) {
    std::uint32_t length = 0;
    if (!TakeField(prefix, length) || length > kMaxRequestLength)
        return std::nullopt;
    return length;
}

std::optional<CheckRequest> DecodeRequestBody(std::string_view body) {
    std::uint8_t kind = 0;
    std::uint8_t mode = 0;
    std::uint8_t wants = 0;
    CheckRequest request;
    if (!TakeField(body, kind) || !TakeField(body, mode) ||
        !TakeField(body, request.memoryCeiling) || !TakeField(body, request.cpuSeconds) ||
        !TakeField(body, wants) || (wants & ~kAllFlags) != 0 ||
        !TakeField(body, request.firstEntry))
        return std::nullopt;
    request.wantBound = (wants & kWantBound) != 0;
    request.wantSummary = (wants & kWantSummary) != 0;
    request.quantize = (wants & kQuantize) != 0;
    request.b3dm = (wants & kB3dm) != 0;
    request.meshopt = (wants & kMeshopt) != 0;
    if (kind < static_cast<std::uint8_t>(CheckKind::Tile) ||
        kind > static_cast<std::uint8_t>(CheckKind::Content))
        return std::nullopt;
    if (mode > static_cast<std::uint8_t>(ParseMode::Full))
        return std::nullopt;
    request.kind = static_cast<CheckKind>(kind);
    request.mode = static_cast<ParseMode>(mode);
    const bool content = request.kind == CheckKind::Content;
    const std::size_t end = body.find('\0');
    request.path = std::string(body.substr(0, end));
    if (end == std::string_view::npos)
        return content ? std::nullopt : std::optional<CheckRequest>(request);
    body.remove_prefix(end + 1);
    if (!TakeTexts(body, request.inheritedSearch) || !TakeTexts(body, request.filesAbove))
        return std::nullopt;
    if (content) {
        std::vector<std::string> glb;
        if (!TakeTexts(body, glb) || glb.size() != 1 || glb[0].empty() ||
            glb[0].find('\0') != std::string::npos)
            return std::nullopt;
        request.glbPath = std::move(glb[0]);
    } else if (request.inheritedSearch.empty() && request.filesAbove.empty()) {
        return std::nullopt;
    }
    if (!body.empty())
        return std::nullopt;
    return request;
}

std::size_t ReplyTrailerSize(std::string_view head) {
    if (head.size() <= kContentFlagOffset)
        return 0;
    if (static_cast<std::uint8_t>(head[kSummaryStateOffset]) ==
        static_cast<std::uint8_t>(SummaryState::Made))
        return kSummaryBytes;
    if (head[kContentFlagOffset] == 1 && head.size() >= kContentOffset + kContentFieldsSize)
        return ContentTrailerSize(head.substr(kContentOffset, kContentFieldsSize));
    return 0;
}

void SetSummaryState(char* encodedReply, SummaryState state) {
    if (state == SummaryState::Made)
        state = SummaryState::NotMade;
    encodedReply[kSummaryStateOffset] = static_cast<char>(state);
}

void SetFailedAllocation(char* encodedReply, std::uint64_t bytes) {
    // After the verdict, the flags, the cause and the bound's kind.
    constexpr std::size_t kOffset = 10;
    const auto mib = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes >> 20, 0xffffffffu));
    std::memcpy(encodedReply + kOffset, &mib, sizeof mib);
}

std::string EncodeReply(const CheckReply& reply) {
    std::string out;
    PutField(out, static_cast<std::uint8_t>(reply.verdict));
    PutField(out, static_cast<std::uint8_t>(reply.retiring ? 1 : 0));
    PutField(out, static_cast<std::uint8_t>(reply.loadFailure));
    PutField(out, static_cast<std::uint8_t>(reply.followsOthers ? 1 : 0));
    PutField(out, static_cast<std::int32_t>(reply.cause.value()));
    PutField(out, static_cast<std::uint8_t>(reply.bound.kind));
    PutField(out, static_cast<std::uint8_t>(reply.indexScene ? 1 : 0));
    PutField(out, reply.failedAllocationMiB);
    const bool withSummary = reply.summaryState == SummaryState::Made && reply.summary;
    PutField(out, static_cast<std::uint8_t>(withSummary ? SummaryState::Made
                                            : reply.summaryState == SummaryState::Made
                                                ? SummaryState::NotMade
                                                : reply.summaryState));
    const bool withContent = reply.content && !withSummary;
    PutField(out, static_cast<std::uint8_t>(withContent ? 1 : 0));
    for (const double c : reply.bound.centre)
        PutField(out, c);
    PutField(out, reply.bound.radius);
    PutField(out, reply.entryCount);
    const std::string_view text = CutAtCharacter(reply.readerText, kMaxReaderText);
    PutField(out, static_cast<std::uint16_t>(text.size()));
    out += text;
    out.resize(kEntriesOffset, '\0');
    std::string names;
    std::uint16_t fitted = 0;
    std::string trailer;
    if (withContent)
        names = EncodeContentFields(*reply.content, trailer);
    for (const std::string& entry : withContent ? std::vector<std::string>() : reply.entries) {
        const std::string_view name = std::string_view(entry).substr(0, kMaxEntryName);
        if (kEntriesOffset + 2 + names.size() + 2 + name.size() > kReplySize)
            break;
        PutField(names, static_cast<std::uint16_t>(name.size()));
        names += name;
        ++fitted;
    }
    PutField(out, fitted);
    out += names;
    out.resize(kReplySize, '\0');
    if (withSummary)
        out += EncodeSummary(*reply.summary);
    out += trailer;
    return out;
}

std::optional<CheckReply> DecodeReply(std::string_view bytes) {
    std::uint8_t verdict = 0;
    std::uint8_t retiring = 0;
    std::uint8_t loadFailure = 0;
    std::uint8_t followsOthers = 0;
    CheckReply reply;
    if (bytes.size() < kReplySize || bytes.size() != kReplySize + ReplyTrailerSize(bytes))
        return std::nullopt;
    const std::string_view trailer = bytes.substr(kReplySize);
    bytes = bytes.substr(0, kReplySize);
    if (!TakeField(bytes, verdict) || !IsKnownVerdict(verdict) || !TakeField(bytes, retiring) ||
        retiring > 1 || !TakeField(bytes, loadFailure) ||
        loadFailure > static_cast<std::uint8_t>(LoadFailure::ReaderError) ||
        !TakeField(bytes, followsOthers) || followsOthers > 1)
        return std::nullopt;
    reply.loadFailure = static_cast<LoadFailure>(loadFailure);
    reply.retiring = retiring == 1;
    reply.followsOthers = followsOthers == 1;
    std::int32_t systemError = 0;
    TakeField(bytes, systemError);
    if (systemError != 0)
        reply.cause = SystemError(systemError);
    std::uint8_t boundKind = 0;
    TakeField(bytes, boundKind);
    if (boundKind > static_cast<std::uint8_t>(TileBound::Kind::Unknown))
        return std::nullopt;
    reply.bound.kind = static_cast<TileBound::Kind>(boundKind);
    std::uint8_t indexScene = 0;
    TakeField(bytes, indexScene);
    if (indexScene > 1)
        return std::nullopt;
    reply.indexScene = indexScene == 1;
    TakeField(bytes, reply.failedAllocationMiB);
    std::uint8_t summaryState = 0;
    TakeField(bytes, summaryState);
    if (!IsKnownSummaryState(summaryState))
        return std::nullopt;
    reply.summaryState = static_cast<SummaryState>(summaryState);
    if (reply.summaryState == SummaryState::Made) {
        std::optional<TileSummary> summary = DecodeSummary(trailer);
        if (!summary)
            return std::nullopt;
        reply.summary = std::make_shared<const TileSummary>(std::move(*summary));
    }
    std::uint8_t content = 0;
    TakeField(bytes, content);
    if (content > 1 || (content == 1 && reply.summaryState == SummaryState::Made))
        return std::nullopt;
    for (double& c : reply.bound.centre)
        TakeField(bytes, c);
    TakeField(bytes, reply.bound.radius);
    std::uint16_t textSize = 0;
    if (!TakeField(bytes, reply.entryCount) || reply.entryCount > kMaxEntryCount ||
        !TakeField(bytes, textSize) || textSize > kMaxReaderText)
        return std::nullopt;
    reply.readerText = PrintableUtf8(bytes.substr(0, textSize));
    bytes.remove_prefix(kMaxReaderText);
    std::uint16_t fitted = 0;
    TakeField(bytes, fitted);
    if (content == 1) {
        // A content's fields stand where entries would; it names none.
        if (fitted != 0 || reply.entryCount != 0)
            return std::nullopt;
        reply.content = DecodeContent(bytes.substr(0, kContentFieldsSize), trailer);
        if (!reply.content)
            return std::nullopt;
    }
    for (std::uint16_t i = 0; i < fitted; ++i) {
        std::uint16_t size = 0;
        if (!TakeField(bytes, size) || size > kMaxEntryName || size > bytes.size())
            return std::nullopt;
        reply.entries.emplace_back(bytes.substr(0, size));
        bytes.remove_prefix(size);
    }
    if (reply.entries.size() > reply.entryCount)
        return std::nullopt;
    reply.verdict = static_cast<CheckVerdict>(verdict);
    return reply;
}

} // namespace brindle
