#include "export/tile_check_protocol.h"

#include <cstring>

namespace brindle {
namespace {

template <typename T> void Put(std::string& out, T value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

template <typename T> bool Take(std::string_view& in, T& value) {
    if (in.size() < sizeof value)
        return false;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}

bool IsKnownVerdict(std::uint8_t value) {
    return value >= static_cast<std::uint8_t>(CheckVerdict::Loads) &&
           value <= static_cast<std::uint8_t>(CheckVerdict::HoldsScene);
}

} // namespace

std::string RequestPathText(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.u8string();
#else
    return path.string();
#endif
}

std::filesystem::path RequestPath(const CheckRequest& request) {
#ifdef _WIN32
    return std::filesystem::u8path(request.path);
#else
    return request.path;
#endif
}

std::string EncodeRequest(const CheckRequest& request) {
    std::string body;
    Put(body, static_cast<std::uint8_t>(request.kind));
    Put(body, static_cast<std::uint8_t>(request.mode));
    Put(body, request.memoryCeiling);
    Put(body, request.cpuSeconds);
    Put(body, static_cast<std::uint8_t>(request.wantBound ? 1 : 0));
    body += request.path;
    std::string message;
    Put(message, static_cast<std::uint32_t>(body.size()));
    return message + body;
}

std::optional<std::size_t> DecodeRequestLength(std::string_view prefix) {
    std::uint32_t length = 0;
    if (!Take(prefix, length) || length > kMaxRequestLength)
        return std::nullopt;
    return length;
}

std::optional<CheckRequest> DecodeRequestBody(std::string_view body) {
    std::uint8_t kind = 0;
    std::uint8_t mode = 0;
    std::uint8_t wantBound = 0;
    CheckRequest request;
    if (!Take(body, kind) || !Take(body, mode) || !Take(body, request.memoryCeiling) ||
        !Take(body, request.cpuSeconds) || !Take(body, wantBound) || wantBound > 1)
        return std::nullopt;
    request.wantBound = wantBound == 1;
    if (kind != static_cast<std::uint8_t>(CheckKind::Tile) &&
        kind != static_cast<std::uint8_t>(CheckKind::ExistingIndex))
        return std::nullopt;
    if (mode > static_cast<std::uint8_t>(ParseMode::Full))
        return std::nullopt;
    request.kind = static_cast<CheckKind>(kind);
    request.mode = static_cast<ParseMode>(mode);
    request.path = std::string(body);
    return request;
}

std::string EncodeReply(const CheckReply& reply) {
    std::string out;
    Put(out, static_cast<std::uint8_t>(reply.verdict));
    Put(out, static_cast<std::uint8_t>(reply.retiring ? 1 : 0));
    out.append(2, '\0');
    Put(out, reply.systemError);
    Put(out, static_cast<std::uint8_t>(reply.bound.kind));
    out.append(7, '\0');
    for (const double c : reply.bound.centre)
        Put(out, c);
    Put(out, reply.bound.radius);
    return out;
}

std::optional<CheckReply> DecodeReply(std::string_view bytes) {
    std::uint8_t verdict = 0;
    std::uint8_t retiring = 0;
    CheckReply reply;
    if (bytes.size() != kReplySize || !Take(bytes, verdict) || !IsKnownVerdict(verdict) ||
        !Take(bytes, retiring) || retiring > 1)
        return std::nullopt;
    bytes.remove_prefix(2);
    reply.retiring = retiring == 1;
    Take(bytes, reply.systemError);
    std::uint8_t boundKind = 0;
    Take(bytes, boundKind);
    if (boundKind > static_cast<std::uint8_t>(TileBound::Kind::Unknown))
        return std::nullopt;
    reply.bound.kind = static_cast<TileBound::Kind>(boundKind);
    bytes.remove_prefix(7);
    for (double& c : reply.bound.centre)
        Take(bytes, c);
    Take(bytes, reply.bound.radius);
    reply.verdict = static_cast<CheckVerdict>(verdict);
    return reply;
}

} // namespace brindle
