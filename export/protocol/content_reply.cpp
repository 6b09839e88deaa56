#include "export/protocol/content_reply.h"

#include "export/fs/byte_fields.h"

#include <algorithm>
#include <cmath>

namespace brindle {
namespace {

// A finer file's bytes before its path: the switch's kind and value, the centre, the radius,
// the path's length.
constexpr std::size_t kFinerFieldsSize = 1 + 8 + 3 * 8 + 8 + 2;

bool Finite(const double* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

// A name the worker never sends: out of bounds, or numbers no paged node leaves it.
bool Sound(const FinerName& name) {
    return !name.path.empty() && name.path.size() <= kMaxFinerPath &&
           name.path.find('\0') == std::string::npos && std::isfinite(name.switchAt) &&
           Finite(name.centre, 3) && std::isfinite(name.radius) && name.radius >= 0;
}

void PutFiner(std::string& out, const FinerName& name) {
    PutField(out, static_cast<std::uint8_t>(name.pixels ? 1 : 0));
    PutField(out, name.switchAt);
    for (const double c : name.centre)
        PutField(out, c);
    PutField(out, name.radius);
    PutField(out, static_cast<std::uint16_t>(name.path.size()));
    out += name.path;
}

bool TakeFiner(std::string_view& in, FinerName& name) {
    std::uint8_t pixels = 0;
    std::uint16_t size = 0;
    if (!TakeField(in, pixels) || pixels > 1 || !TakeField(in, name.switchAt))
        return false;
    for (double& c : name.centre)
        if (!TakeField(in, c))
            return false;
    if (!TakeField(in, name.radius) || !TakeField(in, size) || size > in.size())
        return false;
    name.pixels = pixels == 1;
    name.path = std::string(in.substr(0, size));
    in.remove_prefix(size);
    return Sound(name);
}

} // namespace

std::string EncodeContentFields(const ContentReply& content, std::string& trailer) {
    trailer.clear();
    std::uint32_t sent = 0;
    for (const FinerName& name : content.finer) {
        if (sent == kMaxFinerNames ||
            trailer.size() + kFinerFieldsSize + name.path.size() > kMaxContentTrailer)
            break;
        if (!Sound(name))
            continue;
        PutFiner(trailer, name);
        ++sent;
    }
    std::string out;
    PutField(out, content.error <= kMaxContentError ? content.error : std::uint8_t{0});
    for (const double c : content.boundsMin)
        PutField(out, c);
    for (const double c : content.boundsMax)
        PutField(out, c);
    PutField(out, content.glbBytes);
    PutField(out, content.triangles);
    PutField(out, std::max(content.finerNamed, sent));
    PutField(out, sent);
    PutField(out, static_cast<std::uint32_t>(trailer.size()));
    return out;
}

std::size_t ContentTrailerSize(std::string_view fields) {
    std::uint32_t size = 0;
    if (fields.size() < kContentFieldsSize)
        return 0;
    fields.remove_prefix(kContentFieldsSize - sizeof size);
    TakeField(fields, size);
    return size <= kMaxContentTrailer ? size : 0;
}

std::optional<ContentReply> DecodeContent(std::string_view fields, std::string_view trailer) {
    ContentReply content;
    std::uint32_t sent = 0;
    std::uint32_t trailerSize = 0;
    if (!TakeField(fields, content.error) || content.error > kMaxContentError)
        return std::nullopt;
    for (double* bounds : {content.boundsMin, content.boundsMax})
        for (int i = 0; i < 3; ++i)
            if (!TakeField(fields, bounds[i]))
                return std::nullopt;
    if (!TakeField(fields, content.glbBytes) || !TakeField(fields, content.triangles) ||
        !TakeField(fields, content.finerNamed) || !TakeField(fields, sent) ||
        !TakeField(fields, trailerSize) || sent > kMaxFinerNames || sent > content.finerNamed ||
        trailerSize != trailer.size() || trailerSize > kMaxContentTrailer)
        return std::nullopt;
    if (!Finite(content.boundsMin, 3) || !Finite(content.boundsMax, 3))
        return std::nullopt;
    for (std::uint32_t i = 0; i < sent; ++i) {
        FinerName name;
        if (!TakeFiner(trailer, name))
            return std::nullopt;
        content.finer.push_back(std::move(name));
    }
    if (!trailer.empty())
        return std::nullopt;
    return content;
}

} // namespace brindle
