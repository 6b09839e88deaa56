#include "export/worker/tile_check_worker.h"

#include "export/protocol/tile_check_protocol.h"
#include "export/system/heap_reuse.h"
#include "export/worker/process_limits.h"
#include "export/worker/tile_validation.h"

#include <osg/Notify>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define BRINDLE_READ _read
#define BRINDLE_WRITE _write
#define BRINDLE_DUP _dup
#define BRINDLE_DUP2 _dup2
#define BRINDLE_OPEN _open
#define BRINDLE_NULL_DEVICE "NUL"
#else
#include <fcntl.h>
#include <unistd.h>
#define BRINDLE_READ ::read
#define BRINDLE_WRITE ::write
#define BRINDLE_DUP ::dup
#define BRINDLE_DUP2 ::dup2
#define BRINDLE_OPEN ::open
#define BRINDLE_NULL_DEVICE "/dev/null"
#endif

namespace brindle {
namespace {

// Where replies go, and the reply for a check that ran out of memory, encoded beforehand:
// the new-handler below can allocate nothing and has no other way to reach them. This is a
// worker process of its own, which serves one request at a time.
int g_replyChannel = -1;
char g_outOfMemoryReply[kReplySize];

// Repeats a read or write until `size` bytes are moved; false at the end of the input, on an
// error, or when a message breaks off.
template <typename Transfer, typename Bytes>
bool TransferAll(Transfer transfer, int fd, Bytes* bytes, std::size_t size) {
    while (size > 0) {
        const auto n = transfer(fd, bytes, static_cast<unsigned>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const char* bytes, std::size_t size) {
    return TransferAll(BRINDLE_WRITE, fd, bytes, size);
}

bool ReadAll(int fd, char* bytes, std::size_t size) {
    return TransferAll(BRINDLE_READ, fd, bytes, size);
}

// The memory ceiling was reached. Whatever the reader would do with the failure (catch it and
// go on with garbage, or crash), the verdict is known now, so it is sent and the worker ends.
[[noreturn]] void AnswerOutOfMemory() {
    WriteAll(g_replyChannel, g_outOfMemoryReply, kReplySize);
    std::_Exit(0);
}

void PrepareOutOfMemoryReply() {
    CheckReply reply;
    reply.verdict = CheckVerdict::OutOfMemory;
    reply.retiring = true;
    EncodeReply(reply).copy(g_outOfMemoryReply, kReplySize);
}

std::optional<CheckRequest> NextRequest(int fd) {
    char prefix[kRequestLengthSize];
    if (!ReadAll(fd, prefix, sizeof prefix))
        return std::nullopt;
    const std::optional<std::size_t> length =
        DecodeRequestLength(std::string_view(prefix, sizeof prefix));
    if (!length)
        return std::nullopt;
    std::string body(*length, '\0');
    if (!ReadAll(fd, body.data(), body.size()))
        return std::nullopt;
    return DecodeRequestBody(body);
}

// Replies go to a copy of standard output; the original then points nowhere, so nothing the
// libraries print can mix with them.
int TakeReplyChannel() {
#ifdef _WIN32
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
#endif
    const int channel = BRINDLE_DUP(1);
    const int nowhere = BRINDLE_OPEN(BRINDLE_NULL_DEVICE, O_WRONLY);
    if (nowhere >= 0)
        BRINDLE_DUP2(nowhere, 1);
    return channel;
}

} // namespace

int ServeTileChecks() {
    EndWithParent();
    g_replyChannel = TakeReplyChannel();
    if (g_replyChannel < 0)
        return 1;
    // The reader's warnings are kept, not printed: the last one says why a tile failed.
    const osg::ref_ptr<ReaderMessages> messages = new ReaderMessages;
    osg::setNotifyHandler(messages.get());
    osg::setNotifyLevel(osg::WARN);
    KeepFreedMemoryForReuse();

    const TileValidator validator(messages.get());
    ProcessLimits limits;
    PrepareOutOfMemoryReply();
    std::set_new_handler(AnswerOutOfMemory);
    while (const std::optional<CheckRequest> request = NextRequest(0)) {
        limits.limitNextCheck(request->memoryCeiling, request->cpuSeconds);
        CheckReply reply = validator.check(*request);
        reply.retiring = !limits.endCheck();
        const std::string bytes = EncodeReply(reply);
        if (!WriteAll(g_replyChannel, bytes.data(), bytes.size()) || reply.retiring)
            return 0;
    }
    return 0;
}

} // namespace brindle
