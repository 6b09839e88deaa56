// The tile-check protocol's decoders take bytes from another process, which may be a worker
// dying mid-message. Whatever decodes must encode back to the same bytes, so that nothing
// read is silently changed on the way.
#include "export/protocol/tile_check_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace brindle;

    if (const auto length = DecodeRequestLength(bytes)) {
        Check(size >= kRequestLengthSize && *length <= kMaxRequestLength);
        const std::string_view body = bytes.substr(kRequestLengthSize);
        if (body.size() >= *length) {
            if (const auto request = DecodeRequestBody(body.substr(0, *length)))
                Check(EncodeRequest(*request) ==
                      std::string(bytes.substr(0, kRequestLengthSize + *length)));
        }
    }
    if (const auto request = DecodeRequestBody(bytes)) {
        const std::string encoded = EncodeRequest(*request);
        Check(encoded.substr(kRequestLengthSize) == bytes);
        Check(DecodeRequestLength(encoded) == bytes.size() || bytes.size() > kMaxRequestLength);
    }
    if (const auto reply = DecodeReply(bytes)) {
        Check(size == kReplySize + ReplyTrailerSize(bytes.substr(0, kReplySize)));
        Check(EncodeReply(*reply) == bytes);
    }
    return 0;
}
